// portio-out: writes bytes to a port, or reads one, through the port library's
// own exports, as the running light does; for trying a real port by hand and
// for feeding the lamp monitor.
//
//   portio-out [--port N] BYTE...   write each BYTE (decimal or 0x..) in turn
//   portio-out [--port N] --read    print the data register as 0x..
//   portio-out [--port N] --status  print which back end the port would use,
//                                   what chose it, its settings, and whether it
//                                   is reachable now; writes nothing
//
// Exits 1 with the library's report if a call fails (or, for --status, if
// the port is not reachable), 2 on a usage error.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "port_chooser.h"
#include "port_status.h"
#include "portio.h"

namespace {
bool parseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 0);
    return end != text && *end == '\0' && value >= low && value <= high;
}

int usage() {
    std::fprintf(stderr,
                 "usage: portio-out [--port N] BYTE...\n       portio-out [--port N] --read\n"
                 "       portio-out [--port N] --status\n");
    return 2;
}

bool failed() {
    const char* report = PortLastError();
    if (report == nullptr || *report == '\0') {
        return false;
    }
    std::fprintf(stderr, "portio-out: %s\n", report);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    long port = 888;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--port") {
        if (!parseNumber(argv[2], -32768, 65535, port)) {
            return usage();
        }
        first = 3;
    }
    if (first >= argc) {
        return usage();
    }
    // Addresses above 0x7FFF travel as their signed 16-bit twin, as in PortOut.
    const auto portArg = static_cast<std::int16_t>(static_cast<std::uint16_t>(port));
    if (std::string(argv[first]) == "--status") {
        const auto status = runlight::portio::portStatus(
            static_cast<std::uint16_t>(port), runlight::portio::Settings::fromEnvironment());
        std::fputs(status.text.c_str(), stdout);
        return status.reachable ? 0 : 1;
    }
    if (std::string(argv[first]) == "--read") {
        const std::uint8_t data = PortIn(portArg);
        if (failed()) {
            return 1;
        }
        std::printf("0x%02X\n", static_cast<unsigned>(data));
        return 0;
    }
    for (int i = first; i < argc; ++i) {
        long data = 0;
        if (!parseNumber(argv[i], 0, 255, data)) {
            return usage();
        }
        PortOut(portArg, static_cast<std::uint8_t>(data));
        if (failed()) {
            return 1;
        }
    }
    return 0;
}

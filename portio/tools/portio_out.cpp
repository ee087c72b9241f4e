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

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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
    enum class Mode { Write, Read, Status };
    static const option kOptions[] = {{"port", required_argument, nullptr, 'p'},
                                      {"read", no_argument, nullptr, 'r'},
                                      {"status", no_argument, nullptr, 's'},
                                      {nullptr, 0, nullptr, 0}};
    long port = 888;
    Mode mode = Mode::Write;
    opterr = 0;  // a wrong option gets the usage, as any other mistake
    // "+": the options come first, the bytes after them. --port only as the
    // first option; --read and --status end the options.
    for (int seen = 0; mode == Mode::Write; ++seen) {
        const int got = getopt_long(argc, argv, "+", kOptions, nullptr);
        if (got == -1) {
            break;
        }
        if (got == 'p' && seen == 0 && parseNumber(optarg, -32768, 65535, port)) {
            continue;
        }
        if (got != 'r' && got != 's') {
            return usage();
        }
        mode = got == 'r' ? Mode::Read : Mode::Status;
    }
    if (mode == Mode::Write && optind >= argc) {
        return usage();
    }
    // Addresses above 0x7FFF travel as their signed 16-bit twin, as in PortOut.
    const auto portArg = static_cast<std::int16_t>(static_cast<std::uint16_t>(port));
    if (mode == Mode::Status) {
        const auto status = runlight::portio::portStatus(
            static_cast<std::uint16_t>(port), runlight::portio::Environment::fromProcess());
        std::fputs(status.text.c_str(), stdout);
        return status.reachable ? 0 : 1;
    }
    if (mode == Mode::Read) {
        const std::uint8_t data = PortIn(portArg);
        if (failed()) {
            return 1;
        }
        std::printf("0x%02X\n", static_cast<unsigned>(data));
        return 0;
    }
    for (int i = optind; i < argc; ++i) {
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

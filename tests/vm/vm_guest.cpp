// The program the emulated PC runs, as an ordinary user, against the port
// library's real back end and the kernel's own parport_pc and ppdev drivers.
// Linked statically (the guest has no C library of its own), from the same
// portio_core the shipped libportio.so.1 is made of.
//
// One scenario per run, named on the command line; the guest's init runs
// each in a fresh process with a fresh, empty XDG_RUNTIME_DIR, so that whether
// the simulated port was used shows as a file appearing there. Every check
// prints one line "QTXVM ok|FAIL LABEL: what", and the run ends with
// "QTXVM pass LABEL" or "QTXVM fail LABEL". The host reads these lines from
// the serial console; a run that dies or hangs prints no pass line.
//
//   real PORT         PortOut(PORT, b) for the running light's kind of bytes,
//                     each read back from the data register; the simulated
//                     port stays untouched
//   register DEV HEX  without the library: claim DEV and read its data
//                     register, which must hold HEX (what the last run left)
//   busy PORT DEV     while another process holds DEV, PortOut(PORT) fails at
//                     once, naming DEV and why, and writes nothing anywhere
//   no-port PORT      PortOut(PORT) fails with the no-port error and writes
//                     nothing anywhere
//   sim PORT          PortOut(PORT) lands in the simulated port
//   busy-link PORT DEV  as busy, but PORTIO_DEVICE names DEV by a symlink of
//                     another name: the holder is still found (by the
//                     device's number) and named at once
//   held-unnamed PORT DEV  while another process holds DEV and the library
//                     cannot ask the driver who (no /proc for it), PortOut
//                     gives up within 2 s saying the port is busy; once the
//                     holder lets go, the next PortOut takes the port

#include <dirent.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "guest_common.h"
#include "port_chooser.h"
#include "port_io.h"
#include "portio.h"

namespace {

using namespace runlight::vmguest;

// The bytes the running light puts out: all off, all on, a pattern, and each
// end bit alone (bit 7 = first channel box, bit 0 = last).
constexpr std::array<std::uint8_t, 5> kBytes{0x00, 0xFF, 0xA5, 0x01, 0x80};

std::string lastError() {
    const char* text = PortLastError();
    return text != nullptr ? text : "";
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The simulated port keeps its file under XDG_RUNTIME_DIR, which init made
// empty for this run: anything in it means the simulated port was used.
bool runtimeDirEmpty() {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    if (folder == nullptr || *folder == '\0') {
        check(false, "XDG_RUNTIME_DIR is set");
        return false;
    }
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        check(false, std::string("XDG_RUNTIME_DIR can be read: ") + std::strerror(errno));
        return false;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
        }
    }
    ::closedir(dir);
    return empty;
}

// The port held by someone else: a process of its own that claims `device`
// through ppdev, as a second running light would, and keeps it until told.
class PortHolder : public HeldElsewhere {
public:
    explicit PortHolder(const std::string& device)
        : HeldElsewhere([&device] {
              const int fd = ::open(device.c_str(), O_RDWR);
              return fd >= 0 && ::ioctl(fd, PPCLAIM) == 0;
          }) {}
};

// Reads `device`'s data register with ppdev alone, not through the library.
bool readRegister(const std::string& device, std::uint8_t& value, std::string& error) {
    const int fd = ::open(device.c_str(), O_RDWR);
    if (fd < 0) {
        error = "open " + device + ": " + std::strerror(errno);
        return false;
    }
    unsigned char byte = 0;
    bool ok = ::ioctl(fd, PPCLAIM) == 0;
    if (!ok) {
        error = "PPCLAIM " + device + ": " + std::strerror(errno);
    } else if (!(ok = ::ioctl(fd, PPRDATA, &byte) == 0)) {
        error = "PPRDATA " + device + ": " + std::strerror(errno);
    }
    ::close(fd);
    value = byte;
    return ok;
}

std::string holderName(const std::string& device) {
    // /dev/parportN -> /proc/sys/dev/parport/parportN/devices/active
    const auto slash = device.rfind('/');
    const std::string path =
        "/proc/sys/dev/parport/" + device.substr(slash + 1) + "/devices/active";
    std::string name;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, file) != nullptr) {
            name = line;
        }
        std::fclose(file);
    }
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) {
        name.pop_back();
    }
    return name;
}

void real(std::int16_t port) {
    const std::string where = "(" + std::to_string(port) + ", ";
    for (const std::uint8_t byte : kBytes) {
        PortOut(port, byte);
        const std::string outError = lastError();
        check(outError.empty(), "PortOut" + where + hex(byte) + ") succeeds" +
                                    (outError.empty() ? "" : ": " + outError));
        const unsigned back = PortIn(port);
        const std::string inError = lastError();
        check(inError.empty() && back == byte, "PortIn(" + std::to_string(port) + ") reads " +
                                                   hex(byte) + " back (read " + hex(back) +
                                                   (inError.empty() ? "" : ": " + inError) + ")");
    }
    check(runtimeDirEmpty(), "the simulated port was not used");
}

void registerHolds(const std::string& device, unsigned expected) {
    std::uint8_t value = 0;
    std::string error;
    const bool read = readRegister(device, value, error);
    check(read && value == expected, "the data register of " + device + " holds " + hex(expected) +
                                         " (" + (read ? "read " + hex(value) : error) + ")");
}

void busy(std::int16_t port, const std::string& device) {
    const PortHolder holder(device);
    check(holder.holding(), "another process holds " + device);
    if (!holder.holding()) {
        return;
    }
    const std::string holderText = holderName(device);
    PortOut(port, 0x55);
    const std::string error = lastError();
    check(!error.empty(), "PortOut(" + std::to_string(port) + ", 0x55) fails: " + error);
    check(contains(error, device), "the error names " + device);
    // The driver's name for the holder, or the system's word for a refused claim.
    const bool why = (!holderText.empty() && contains(error, holderText)) ||
                     contains(error, std::strerror(ENXIO)) || contains(error, std::strerror(EBUSY));
    check(why, "the error says why (the port is held by " + holderText + ")");
    check(runtimeDirEmpty(), "nothing went to the simulated port instead");
}

void noPort(std::int16_t port) {
    PortOut(port, 0x5A);
    const std::string error = lastError();
    check(contains(lowered(error), "no parallel port"),
          "PortOut(" + std::to_string(port) + ", 0x5A) gives the no-port error: " + error);
    check(contains(error, std::to_string(port)), "the error names port " + std::to_string(port));
    check(runtimeDirEmpty(), "nothing went to the simulated port instead");
}

void sim(std::int16_t port) {
    PortOut(port, 0xA5);
    const std::string error = lastError();
    check(error.empty(), "PortOut(" + std::to_string(port) + ", 0xA5) succeeds" +
                             (error.empty() ? "" : ": " + error));
    const unsigned back = PortIn(port);
    check(back == 0xA5,
          "PortIn(" + std::to_string(port) + ") reads 0xA5 back (read " + hex(back) + ")");
    check(!runtimeDirEmpty(), "the simulated port was used");
}

double secondsSince(const timespec& start) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

void busyLink(std::int16_t port, const std::string& device) {
    const std::string link = "/tmp/qtx-lamps-" + std::to_string(::getpid());
    check(::symlink(device.c_str(), link.c_str()) == 0, link + " -> " + device);
    ::setenv("PORTIO_DEVICE", link.c_str(), 1);  // read at the library's first call
    const PortHolder holder(device);
    check(holder.holding(), "another process holds " + device);
    if (!holder.holding()) {
        return;
    }
    const std::string holderText = holderName(device);
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    PortOut(port, 0x55);
    const double took = secondsSince(start);
    const std::string error = lastError();
    check(took < 0.5, "PortOut returns at once (" + std::to_string(took) + " s)");
    check(contains(error, link), "the error names " + link + ": " + error);
    check(!holderText.empty() && contains(error, "held by " + holderText),
          "the error names the holder " + holderText);
    check(runtimeDirEmpty(), "nothing went to the simulated port instead");
    ::unlink(link.c_str());
}

void heldUnnamed(std::int16_t port, const std::string& device) {
    using runlight::portio::PortIo;
    runlight::portio::Environment settings;
    settings.backend = "parport";
    settings.device = device;
    settings.procRoot = "/nonexistent";  // the driver cannot be asked who holds the port
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    settings.runtimeDir = runtime != nullptr ? runtime : "";
    PortIo io(settings);
    {
        const PortHolder holder(device);
        check(holder.holding(), "another process holds " + device);
        if (!holder.holding()) {
            return;
        }
        timespec start{};
        ::clock_gettime(CLOCK_MONOTONIC, &start);
        io.out(port, 0x3C);
        const double took = secondsSince(start);
        check(took < 2.0, "PortOut gives up within 2 s (" + std::to_string(took) + " s)");
        check(contains(io.lastError(), "busy") && contains(io.lastError(), device),
              "the error says " + device + " is busy: " + io.lastError());
    }
    io.out(port, 0x3C);  // the holder has let go
    check(io.lastError().empty(), "the next PortOut takes the port: " + io.lastError());
    const unsigned back = io.in(port);
    check(back == 0x3C, "and reads 0x3C back (read " + hex(back) + ")");
}

std::int16_t portArgument(const char* text) {
    return static_cast<std::int16_t>(std::strtol(text, nullptr, 0));
}

int usage() {
    std::fprintf(stderr,
                 "usage: portio_vm_guest LABEL real PORT | register DEVICE HEX | busy PORT "
                 "DEVICE | no-port PORT | sim PORT | busy-link PORT DEVICE | held-unnamed PORT "
                 "DEVICE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return usage();
    }
    startRun(argv[1]);
    const std::string scenario = argv[2];
    if (scenario == "real") {
        real(portArgument(argv[3]));
    } else if (scenario == "register" && argc >= 5) {
        registerHolds(argv[3], static_cast<unsigned>(std::strtoul(argv[4], nullptr, 0)));
    } else if (scenario == "busy" && argc >= 5) {
        busy(portArgument(argv[3]), argv[4]);
    } else if (scenario == "no-port") {
        noPort(portArgument(argv[3]));
    } else if (scenario == "sim") {
        sim(portArgument(argv[3]));
    } else if (scenario == "busy-link" && argc >= 5) {
        busyLink(portArgument(argv[3]), argv[4]);
    } else if (scenario == "held-unnamed" && argc >= 5) {
        heldUnnamed(portArgument(argv[3]), argv[4]);
    } else {
        return usage();
    }
    return endRun();
}

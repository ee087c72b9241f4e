// The program the emulated PC runs, as an ordinary user in group gpio,
// against the GPIO back end and the kernel's own GPIO character device, on
// chips made with gpio-sim (see guest_gpio_init.sh). Linked statically, from
// the code libportio.so.1 and the gpio module are made of, with a static
// libgpiod: the port's settings are read and the back end chosen by the
// library's own chooser (environment and portio.conf), and the port is driven
// through the module's own interface (portio_module), as libportio.so.1
// drives it once it has loaded the module.
//
// One scenario per run, in an environment that holds the port's settings:
//
//   portio_vm_gpio_guest LABEL SCENARIO EXTRA
//
// Every check prints "QTXVM ok|FAIL LABEL: what"; the run ends with
// "QTXVM pass LABEL" or "QTXVM fail LABEL". The lines' levels are read back
// through gpio-sim's own sysfs files
// (/sys/devices/platform/gpio-sim.N/gpiochipM/sim_gpioK/value), not through
// the back end.
//
//   bytes            the lines are taken (dark, consumer "qtx port 888"; the
//                    status report says so), then a sequence of bytes each
//                    lands on them in lamp order (inverted when active-low);
//                    the chip's other lines stay untouched
//   held OFFSET      another program holds line OFFSET: opening fails at
//                    once, naming the holder and the line, and takes
//                    nothing; the status report names the holder too
//   missing          the chip does not exist: the error lists the chips
//   denied           the chip may not be opened: the error says how to fix it
//   release          after the port is released, the lines are free again;
//                    prints what level the kernel left them at

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "gpio_chip.h"
#include "gpio_config.h"
#include "guest_common.h"
#include "module_loader.h"
#include "port_chooser.h"
#include "portio_module.h"
#include "settings.h"

extern "C" const PortioModule* portio_module(std::uint32_t core_abi);

namespace {

using namespace runlight::vmguest;
using runlight::portio::GpioConfig;
using runlight::portio::GpioOffsets;
using runlight::portio::kGpioLineCount;
using runlight::portio::PortSettings;

constexpr std::uint16_t kPort = 888;
constexpr const char* kSimConfig = "/sys/kernel/config/gpio-sim/relays";
constexpr unsigned kSimLines = 16;  // the relays chip's lines (guest_gpio_init.sh)

// All off, all on, two patterns, then each bit alone from lamp 1 (bit 7) on.
constexpr std::array<std::uint8_t, 12> kBytes{0x00, 0xFF, 0xA5, 0x5A, 0x80, 0x40,
                                              0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

void info(const std::string& what) {
    std::printf("QTXVM info %s: %s\n", g_label.c_str(), what.c_str());
    std::fflush(stdout);
}

std::string firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The relays chip as gpio-sim made it: its name and the folder of its lines' levels.
struct SimChip {
    std::string name;    // "gpiochip1"
    std::string folder;  // "/sys/devices/platform/gpio-sim.1/gpiochip1"
};

SimChip simChip() {
    const std::string device = firstLine(std::string(kSimConfig) + "/dev_name");
    const std::string chip = firstLine(std::string(kSimConfig) + "/bank0/chip_name");
    return {chip, "/sys/devices/platform/" + device + "/" + chip};
}

// Line `offset`'s level as gpio-sim holds it: 0 or 1, -1 if unreadable.
int level(const SimChip& chip, unsigned offset) {
    const std::string text =
        firstLine(chip.folder + "/sim_gpio" + std::to_string(offset) + "/value");
    return text == "1" ? 1 : text == "0" ? 0 : -1;
}

// Who holds line `offset` of the chip at `path` now: "" when nobody does.
std::string consumerOf(const std::string& path, unsigned offset) {
    const std::unique_ptr<runlight::portio::GpioChip> chip = runlight::portio::GpioChip::open(path);
    if (!chip) {
        return "(chip cannot be opened: " + std::string(std::strerror(errno)) + ")";
    }
    runlight::portio::GpioLineState line;
    if (!chip->lineState(offset, line)) {
        return "(line cannot be read: " + std::string(std::strerror(errno)) + ")";
    }
    return !line.used ? "" : !line.consumer.empty() ? line.consumer : "(no name)";
}

// The port's settings as the library resolves them from the environment and
// portio.conf, and the back end it chooses: it must be the gpio module.
bool chosen(PortSettings& resolved, GpioConfig& config) {
    using runlight::portio::Choice;
    const Choice choice = runlight::portio::chooseWithSettings(
        kPort, runlight::portio::Environment::fromProcess(), resolved);
    const bool gpio =
        choice.kind == Choice::Kind::Module && std::string(choice.module->name) == "gpio";
    check(gpio, "the library chooses the gpio module" + (gpio ? "" : ": " + choice.error));
    config.chip = resolved.text("chip");
    const auto lines = runlight::portio::parseEightLines(resolved.text("lines"));
    const auto low = runlight::portio::parseYesNo(resolved.text("active-low"));
    const bool read = gpio && lines && low;
    const std::string error = !lines ? lines.error() : !low ? low.error() : "";
    if (read) {
        config.lines = *lines;
        config.activeLow = *low;
    }
    check(read, "the settings are chip=" + config.chip + " lines=" + resolved.text("lines") +
                    " active-low=" + resolved.text("active-low") + (read ? "" : ": " + error));
    return read;
}

void assignText(void* context, const char* text) {
    *static_cast<std::string*>(context) = text != nullptr ? text : "";
}

const char* settingValue(void* context, const char* key) {
    const auto* value = static_cast<const PortSettings*>(context)->find(key);
    return value != nullptr ? value->text.c_str() : nullptr;
}

const char* settingOrigin(void* context, const char* key) {
    const auto* value = static_cast<const PortSettings*>(context)->find(key);
    return value != nullptr ? value->origin.c_str() : nullptr;
}

// The port through the module's interface, closed when this goes.
class ModulePort {
public:
    explicit ModulePort(const PortSettings& settings)
        : m_module(portio_module(PORTIO_MODULE_ABI)),
          m_settings{const_cast<PortSettings*>(&settings), &settingValue, &settingOrigin} {}
    ~ModulePort() { close(); }
    ModulePort(const ModulePort&) = delete;
    ModulePort& operator=(const ModulePort&) = delete;

    bool open(std::string& error) {
        m_backend = m_module->open(kPort, &m_settings, PortioText{&error, &assignText});
        return m_backend != nullptr;
    }
    bool write(std::uint8_t data, std::string& error) {
        return m_module->write(m_backend, data, PortioText{&error, &assignText}) == 1;
    }
    bool read(std::uint8_t& data, std::string& error) {
        return m_module->read(m_backend, &data, PortioText{&error, &assignText}) == 1;
    }
    void close() {
        if (m_backend != nullptr) {
            m_module->close(m_backend);
            m_backend = nullptr;
        }
    }
    // What portio-out --status reports.
    bool probe(std::string& report) const {
        return m_module->probe(kPort, &m_settings, PortioText{&report, &assignText}) == 1;
    }

private:
    const PortioModule* m_module;
    PortioSettings m_settings;
    PortioBackend* m_backend = nullptr;
};

// The offsets the scenario's lines stand for: the relays chip names its
// lines GPIO<offset>, so a name gives its offset away.
GpioOffsets offsetsOf(const GpioConfig& config) {
    GpioOffsets offsets{};
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const auto& line = config.lines[i];
        offsets[i] =
            line.offset ? *line.offset : static_cast<unsigned>(std::atoi(line.text.c_str() + 4));
    }
    return offsets;
}

// Every line of the relays chip: the eight at the levels `data` calls for,
// the rest low as gpio-sim starts them.
bool levelsAre(const SimChip& chip, const GpioOffsets& offsets, bool activeLow, unsigned data,
               std::string& seen) {
    std::array<int, kSimLines> expected{};
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        expected[offsets[i]] = static_cast<int>((data >> (7 - i)) & 1u) ^ (activeLow ? 1 : 0);
    }
    bool same = true;
    seen.clear();
    for (unsigned offset = 0; offset < kSimLines; ++offset) {
        const int actual = level(chip, offset);
        seen += actual < 0 ? '?' : static_cast<char>('0' + actual);
        same = same && actual == expected[offset];
    }
    return same;
}

void bytes(const PortSettings& settings, const GpioConfig& config) {
    const SimChip chip = simChip();
    const GpioOffsets offsets = offsetsOf(config);
    std::string error;
    ModulePort port(settings);
    const bool opened = port.open(error);
    check(opened, "the port takes its lines" + (opened ? "" : ": " + error));
    if (!opened) {
        return;
    }
    std::string seen;
    const bool dark = levelsAre(chip, offsets, config.activeLow, 0x00, seen);
    check(dark, "taken, the lines are dark (levels of lines 0..15: " + seen + ")");
    bool held = true;
    for (const unsigned offset : offsets) {
        held = held && consumerOf("/dev/" + chip.name, offset) == "qtx port 888";
    }
    check(held, "the eight lines are held by \"qtx port 888\"");
    std::string report;
    const bool free = port.probe(report);
    check(free && contains(report, "chip " + chip.name + " [qtx-relays] (16 lines)") &&
              contains(report, "lamp 1 (D7): line " + std::to_string(offsets[0]) + " \"GPIO" +
                                   std::to_string(offsets[0]) + "\", held by \"qtx port 888\"") &&
              contains(report, "lamp 8 (D0): line " + std::to_string(offsets[7]) + " \"GPIO" +
                                   std::to_string(offsets[7]) + "\", held by \"qtx port 888\""),
          "the status report names the chip, its label, the lines and their holder:\n" + report);
    for (const std::uint8_t byte : kBytes) {
        error.clear();
        const bool written = port.write(byte, error);
        const bool landed = written && levelsAre(chip, offsets, config.activeLow, byte, seen);
        check(landed, "byte " + hex(byte) +
                          " is on the lines in lamp order (levels of lines 0..15: " + seen + ")" +
                          (written ? "" : ": " + error));
        std::uint8_t back = 0;
        const bool read = port.read(back, error);
        check(read && back == byte, "the port reads " + hex(byte) + " back (read " + hex(back) +
                                        (read ? "" : ": " + error) + ")");
    }
}

// Another program's hold on one line, kept in a process of its own until
// this object goes.
class LineHolder : public HeldElsewhere {
public:
    LineHolder(const std::string& chipPath, unsigned offset)
        : HeldElsewhere([&chipPath, offset] {
              // Kept until this process ends: the chip and the request are let go of.
              auto* chip = runlight::portio::GpioChip::open(chipPath).release();
              auto* line = chip != nullptr ? chip->request({offset}, "relay-test", false).release()
                                           : nullptr;
              return line != nullptr && line->set({1});
          }) {}
};

void heldLine(const PortSettings& settings, const GpioConfig& config, unsigned heldOffset) {
    const SimChip chip = simChip();
    const std::string path = "/dev/" + chip.name;
    const LineHolder holder(path, heldOffset);
    check(holder.holding(), "another program holds line " + std::to_string(heldOffset));
    if (!holder.holding()) {
        return;
    }
    std::string error;
    ModulePort port(settings);
    const bool refused = !port.open(error);
    check(refused, "the port cannot take its lines: " + error);
    const std::string line = "line " + std::to_string(heldOffset);
    check(contains(error, "\"relay-test\""), "the error names the holder, \"relay-test\"");
    check(contains(error, line + " \"GPIO" + std::to_string(heldOffset) + "\""),
          "the error names " + line + " and its name");
    check(contains(error, chip.name + " [qtx-relays]"), "the error names the chip and its label");
    check(contains(error, "port 888"), "the error names the port");
    check(consumerOf(path, heldOffset) == "relay-test", "the holder still holds " + line);
    check(level(chip, heldOffset) == 1, "the held line keeps the holder's level");
    bool noneTaken = true;
    for (const unsigned offset : offsetsOf(config)) {
        noneTaken = noneTaken && (offset == heldOffset || consumerOf(path, offset).empty());
    }
    check(noneTaken, "none of the other seven lines was taken");
    std::string report;
    const bool free = port.probe(report);
    check(!free && contains(report, line + " \"GPIO" + std::to_string(heldOffset) +
                                        "\", held by \"relay-test\""),
          "the status report names the holder:\n" + report);
}

void missingChip(const PortSettings& settings, const GpioConfig& config) {
    const SimChip chip = simChip();
    std::string error;
    ModulePort port(settings);
    const bool refused = !port.open(error);
    check(refused, "there is no chip " + config.chip + ": " + error);
    check(contains(error, "no GPIO chip \"" + config.chip + "\""), "the error names the chip");
    check(contains(error, chip.name + " [qtx-relays] (16 lines)"),
          "the error lists the chip that is there, with its label");
    check(contains(error, "gpiochip0 (cannot be opened: Permission denied)"),
          "the error lists the chip this user may not open");
}

void denied(const PortSettings& settings, const GpioConfig& config) {
    std::string error;
    ModulePort port(settings);
    const bool refused = !port.open(error);
    check(refused, "the chip may not be opened: " + error);
    check(contains(error, "cannot open /dev/" + config.chip + ": Permission denied"),
          "the error names the device and the reason");
    check(contains(error, "udev rule") && contains(error, "usermod -aG gpio"),
          "the error says how to give the user the chip");
}

void release(const PortSettings& settings, const GpioConfig& config) {
    const SimChip chip = simChip();
    const GpioOffsets offsets = offsetsOf(config);
    std::string error;
    ModulePort port(settings);
    const bool written = port.open(error) && port.write(0xFF, error);
    check(written, "0xFF is written" + (written ? "" : ": " + error));
    if (!written) {
        return;
    }
    std::string seen;
    const bool on = levelsAre(chip, offsets, config.activeLow, 0xFF, seen);
    check(on, "the lines are on (levels of lines 0..15: " + seen + ")");
    port.close();
    bool free = true;
    for (const unsigned offset : offsets) {
        free = free && consumerOf("/dev/" + chip.name, offset).empty();
    }
    check(free, "released, the eight lines are free");
    (void)levelsAre(chip, offsets, config.activeLow, 0xFF, seen);
    info("levels of lines 0..15 after the release: " + seen);
}

int usage() {
    std::fprintf(stderr,
                 "usage: portio_vm_gpio_guest LABEL bytes|held OFFSET|missing|denied|release\n"
                 "(the port's settings in the environment or in portio.conf)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    startRun(argv[1]);
    const std::string scenario = argv[2];
    PortSettings settings;
    GpioConfig config;
    if (chosen(settings, config)) {
        if (scenario == "bytes") {
            bytes(settings, config);
        } else if (scenario == "held" && argc >= 4) {
            heldLine(settings, config, static_cast<unsigned>(std::atoi(argv[3])));
        } else if (scenario == "missing") {
            missingChip(settings, config);
        } else if (scenario == "denied") {
            denied(settings, config);
        } else if (scenario == "release") {
            release(settings, config);
        } else {
            return usage();
        }
    }
    return endRun();
}

// libportio-gpio.so.1: the GPIO back end as a module of the port library
// (see portio_module.h). The core has read and checked the port's settings
// (chip, lines, active-low: their keys and rules are in backend_table.h);
// this turns them into a GpioPort.

#include <memory>
#include <string>

#include "gpio_config.h"
#include "gpio_port.h"
#include "portio_module.h"

struct PortioBackend {
    std::unique_ptr<runlight::portio::GpioPort> port;
};

namespace runlight::portio {
namespace {

void say(PortioText text, const std::string& what) {
    text.assign(text.context, what.c_str());
}

// The port's settings as a GpioConfig; fails when one is unset.
Result<GpioConfig> configFrom(std::uint16_t address, const PortioSettings& settings) {
    const auto value = [&settings](const char* key) {
        const char* text = settings.value(settings.context, key);
        return std::string(text != nullptr ? text : "");
    };
    const auto failed = [address](const std::string& reason) {
        return fail(portLabel(address) + " (GPIO): " + reason);
    };
    const std::string where = "in the port's section of portio.conf ([port " +
                              std::to_string(address) + "]) or in the environment";
    GpioConfig config;
    config.chip = value("chip");
    if (config.chip.empty()) {
        return failed(
            "no chip is set: set chip (PORTIO_GPIO_CHIP) to its name (gpiochip0), "
            "path (/dev/gpiochip0) or label (pinctrl-bcm2711) " +
            where + "; nothing was written");
    }
    const std::string linesText = value("lines");
    const auto lines = parseEightLines(linesText);
    if (linesText.empty() || !lines) {
        const std::string why = linesText.empty() ? "" : lines.error();
        return failed(
            "no lines are set: set lines (PORTIO_GPIO_LINES) to the eight lines' "
            "offsets or names, lamp 1 (D7) first, e.g. \"17 27 22 5 6 13 19 26\", " +
            where + (why.empty() ? "" : " (" + why + ")") + "; nothing was written");
    }
    config.lines = *lines;
    const std::string activeLow = value("active-low");
    if (!activeLow.empty()) {
        const auto low = parseYesNo(activeLow);
        if (!low) {
            return failed("active-low " + low.error());
        }
        config.activeLow = *low;
    }
    return config;
}

PortioBackend* openPort(std::uint16_t address, const PortioSettings* settings, PortioText error) {
    const auto config = configFrom(address, *settings);
    if (!config) {
        say(error, config.error());
        return nullptr;
    }
    auto port = GpioPort::open(address, *config);
    if (!port) {
        say(error, gpioLabel(address) + ": " + port.error());  // a module's text names the port
        return nullptr;
    }
    return std::make_unique<PortioBackend>(PortioBackend{std::move(*port)}).release();
}

int writePort(PortioBackend* backend, std::uint8_t data, PortioText error) {
    const auto written = backend->port->write(data);
    if (!written) {
        say(error, labelled(*backend->port, written.error()));  // a module's text names the port
        return 0;
    }
    return 1;
}

int readPort(PortioBackend* backend, std::uint8_t* data, PortioText error) {
    const auto read = backend->port->read();
    if (!read) {
        say(error, labelled(*backend->port, read.error()));
        return 0;
    }
    *data = *read;
    return 1;
}

void closePort(PortioBackend* backend) {
    std::unique_ptr<PortioBackend> owned(backend);  // releases the lines
}

int probePort(std::uint16_t address, const PortioSettings* settings, PortioText report) {
    const auto config = configFrom(address, *settings);
    if (!config) {
        say(report, config.error());
        return 0;
    }
    std::string text;
    const bool free = describeGpioPort(address, *config, text);
    say(report, text);
    return free ? 1 : 0;
}

// No watch for the lamp monitor: the character device shows a line's level
// only to the process that holds the line.
constexpr PortioModule kModule{PORTIO_MODULE_ABI, "gpio",     &openPort, &writePort, &readPort,
                               &closePort,        &probePort, nullptr,   nullptr,    nullptr};

}  // namespace
}  // namespace runlight::portio

extern "C" __attribute__((visibility("default"))) const PortioModule* portio_module(
    std::uint32_t /*core_abi: the core checks our abi itself*/) {
    return &runlight::portio::kModule;
}

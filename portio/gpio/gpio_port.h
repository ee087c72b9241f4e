#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "gpio_chip.h"
#include "gpio_config.h"
#include "port_backend.h"

namespace runlight::portio {

// A port on eight lines of a GPIO chip, through the kernel's GPIO character
// device (libgpiod 1.6 or 2.x, see gpio_chip.h). Opened at the port's first call: the chip is
// found, the eight lines are requested as outputs under the consumer name "qtx port <address>"
// (off, so lamps stay dark until the first byte) and held until the object is destroyed (when the
// library is unloaded); each byte then sets all eight in one call, lamp 1 (bit 7, D7) on the first
// line. A line another consumer holds is an error at once, naming the holder: it is never waited
// for or taken over.
class GpioPort final : public PortBackend {
public:
    // Fails (naming the chip, the lines, the reason and the fix; the port is
    // the caller's to name, see gpioLabel()) when the chip or a line cannot
    // be had.
    static Result<std::unique_ptr<GpioPort>> open(std::uint16_t address, const GpioConfig& config);
    ~GpioPort() override;
    GpioPort(const GpioPort&) = delete;
    GpioPort& operator=(const GpioPort&) = delete;

    Result<void> write(std::uint8_t data) override;
    // The eight lines' levels as the kernel reports them, as a byte (active-low
    // already undone, so it reads back what was written).
    Result<std::uint8_t> read() override;
    std::string label() const override;  // "port 888 (0x378) (GPIO)"

private:
    struct Requested {  // only open() hands out requested lines
        explicit Requested() = default;
    };

public:
    GpioPort(Requested, std::uint16_t address, std::unique_ptr<GpioChip> chip, std::string chipText,
             std::unique_ptr<GpioLineRequest> lines, std::string linesText);

private:
    std::uint16_t m_address;
    std::unique_ptr<GpioChip> m_chip;
    std::string m_chipText;                    // "gpiochip0 [pinctrl-bcm2711] (58 lines)"
    std::unique_ptr<GpioLineRequest> m_lines;  // lamp order; released before m_chip closes
    std::string m_linesText;                   // "17 27 22 5 6 13 19 26"
};

// "port 888 (0x378) (GPIO)": how messages name a GPIO port.
std::string gpioLabel(std::uint16_t address);

// What `portio-out --status` says of a GPIO port, without requesting a line:
// the chip and its label, then one line per lamp with the line's offset, its
// name and who holds it; or why the chip or the lines cannot be had. Lines
// end in '\n' but the last. Returns false when the lines cannot be had.
bool describeGpioPort(std::uint16_t address, const GpioConfig& config, std::string& text);

}  // namespace runlight::portio

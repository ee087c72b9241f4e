#pragma once

#include <memory>
#include <string>
#include <vector>

namespace runlight::portio {

// The little of libgpiod the GPIO back end uses, the same whichever libgpiod
// it is built with: 1.6 (Debian 12, Raspberry Pi OS bookworm; gpio_chip_v1.cpp)
// or 2.x (Debian 13, Raspberry Pi OS trixie; gpio_chip_v2.cpp), whose API
// replaced 1.6's. The build picks one from the installed libgpiod.
// Failures return false or null with errno set, as libgpiod does.

// A libgpiod object owned through the library's own function for freeing
// it (gpiod_chip_close, gpiod_line_request_release, ...): one owner, freed
// when the owner goes, as libgpiod's C++ bindings hold theirs.
template <typename T, void (*Free)(T*)>
struct GpiodFreer {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)>
using GpiodOwned = std::unique_ptr<T, GpiodFreer<T, Free>>;

// One line as the kernel reports it now.
struct GpioLineState {
    std::string name;      // "GPIO17"; "" for an unnamed line
    bool used = false;     // requested by someone, or taken by a driver
    std::string consumer;  // who requested it; "" when unused or unnamed
};

// Lines requested as outputs, held until the object is destroyed.
class GpioLineRequest {
public:
    virtual ~GpioLineRequest() = default;
    // One value (0 or 1, as seen through active-low) per requested line, in
    // the order they were requested, all set in one call (one ioctl: the
    // kernel sets them together).
    virtual bool set(const std::vector<int>& values) = 0;
    virtual bool get(std::vector<int>& values) = 0;
};

class GpioChip {
public:
    // Null with errno set when `path` cannot be opened as a GPIO chip.
    static std::unique_ptr<GpioChip> open(const std::string& path);
    virtual ~GpioChip() = default;

    virtual std::string name() const = 0;   // "gpiochip0"
    virtual std::string label() const = 0;  // "pinctrl-bcm2711"
    virtual unsigned lineCount() const = 0;
    // Line `offset` as the kernel reports it at this moment.
    virtual bool lineState(unsigned offset, GpioLineState& state) = 0;
    // The lines at `offsets` as outputs under `consumer`, all in one request,
    // each active-low when `activeLow` is set, all off (inactive) at first.
    // A request made through a chip must be destroyed before the chip.
    virtual std::unique_ptr<GpioLineRequest> request(const std::vector<unsigned>& offsets,
                                                     const std::string& consumer,
                                                     bool activeLow) = 0;
};

}  // namespace runlight::portio

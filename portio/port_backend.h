#pragma once

#include <cstdint>
#include <string>

#include "result.h"

namespace runlight::portio {

// One port's way to the outside: the real parallel port, the simulated one,
// or a module's. Made at the first call for a port and kept until the
// library is unloaded.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    // Puts `data` on the data lines. A failure's reason names the device and
    // what went wrong, not the port: see label().
    virtual Result<void> write(std::uint8_t data) = 0;
    // The data register read back; failures as for write.
    virtual Result<std::uint8_t> read() = 0;
    // How a message names the port before a failure's reason, once, where
    // the failure leaves the library: "port 888 (0x378)", with the kind of
    // back end where messages say it ("port 888 (0x378) (simulated)"); ""
    // when the reasons name the port themselves (a module's).
    virtual std::string label() const = 0;
};

// "<label>: <reason>", or the reason alone when the back end's label is "".
std::string labelled(const PortBackend& backend, const std::string& reason);

// "port 888 (0x378)": how every message names a port.
std::string portLabel(std::uint16_t address);

// The system's reason for `errnum` ("Permission denied").
std::string systemReason(int errnum);

// `fd`, or a duplicate of it at 3 or above (close-on-exec) with `fd` closed:
// a program started with standard error closed would otherwise find the
// library's file at descriptor 2 and its messages written into that file.
// Every descriptor the library opens goes through here. On failure closes
// `fd` and returns -1 with errno set.
int aboveStandardStreams(int fd);

}  // namespace runlight::portio

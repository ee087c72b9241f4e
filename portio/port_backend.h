#pragma once

#include <cstdint>
#include <string>

namespace runlight::portio {

// One port's way to the outside: the real parallel port or the simulated one.
// Made at the first call for a port and kept until the library is unloaded.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    // Puts `data` on the data lines. On failure returns false and sets `error`
    // to a text naming the port, the device and the reason.
    virtual bool write(std::uint8_t data, std::string& error) = 0;
    // Reads the data register back into `data`; failures as for write.
    virtual bool read(std::uint8_t& data, std::string& error) = 0;
};

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

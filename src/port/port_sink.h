#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace runlight {

// A port could not be written: the library or its PortOut is missing, or the
// library reported a failed write. The text names what failed and why.
class PortError : public std::runtime_error {
public:
    explicit PortError(const std::string& what) : std::runtime_error(what) {}
};

// Where WritePort's byte goes: the port library, or a recorder in tests.
class PortSink {
public:
    virtual ~PortSink() = default;
    // Puts `value` on I/O port `port` at once. Throws PortError on failure.
    virtual void out(std::int16_t port, std::uint8_t value) = 0;
};

}  // namespace runlight

#include "module1.h"

#include <stdexcept>
#include <string>

#include "port_sink.h"

namespace runlight {

void Module1::WritePort() {
    OutByte = OutValue;
    if (OutByte < 0 || OutByte > 255) {
        // A value no byte can carry is a fault in the caller, never truncated.
        throw std::range_error("output value " + std::to_string(OutByte) + " is not a byte");
    }
    m_sink.out(PortAddr, static_cast<std::uint8_t>(OutByte));
}

}  // namespace runlight

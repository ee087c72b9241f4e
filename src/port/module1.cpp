#include "module1.h"

#include "port_sink.h"

namespace runlight {

void Module1::WritePort(std::uint8_t OutValue) {
    m_sink.out(PortAddr, OutValue);
}

}  // namespace runlight

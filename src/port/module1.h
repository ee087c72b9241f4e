#pragma once

#include <cstdint>

namespace runlight {

class PortSink;

// The port address and the routine that writes a byte to it. Owned by the
// sequencer for the whole run.
class Module1 {
public:
    explicit Module1(PortSink& sink) : m_sink(sink) {}

    std::int16_t PortAddr = 0;  // 888 (0x378) from start-up on

    // Writes `OutValue` (the byte just composed from a step, or 0) to port
    // PortAddr. Throws PortError if the port library cannot be bound or
    // reports a failure.
    void WritePort(std::uint8_t OutValue);

private:
    PortSink& m_sink;
};

}  // namespace runlight

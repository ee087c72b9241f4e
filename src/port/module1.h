#pragma once

#include <cstdint>

namespace runlight {

class PortSink;

// The output value, the port address, and the routine that writes one to the
// other. Owned by the sequencer for the whole run; the readout reads OutValue.
class Module1 {
public:
    explicit Module1(PortSink& sink) : m_sink(sink) {}

    int OutValue = 0;           // 0..255: the byte last composed from a step, or 0
    std::int16_t PortAddr = 0;  // 888 (0x378) from start-up on
    int OutByte = 0;            // copy of OutValue made by WritePort just before the write

    // Writes OutValue to port PortAddr. Throws PortError if the port library
    // cannot be bound or reports a failure, and std::range_error if OutValue
    // is outside 0..255 (no byte could carry it).
    void WritePort();

private:
    PortSink& m_sink;
};

}  // namespace runlight

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "port_backend.h"
#include "port_chooser.h"

namespace runlight::portio {

class Trace;

// All the library does, for one set of settings: the exports use one PortIo
// made from the environment at their first call; tests make their own with
// roots and folders of their own. Each port gets its back end at its first
// call (see choose()) and keeps it; a port whose back end could not be set
// up, or failed a write, is released and set up again from the start at its
// next call. Thread-compatible.
class PortIo {
public:
    explicit PortIo(Environment settings);
    ~PortIo();
    PortIo(const PortIo&) = delete;
    PortIo& operator=(const PortIo&) = delete;

    // PortOut: writes, then appends the trace line (also for a failed write).
    // Trouble with the trace is told once on standard error, never through
    // lastError(): that speaks of the byte only.
    void out(std::int16_t port, std::uint8_t data);
    // PortIn: the data register of the port, 0 on failure.
    std::uint8_t in(std::int16_t port);
    // PortLastError: "" after a call that succeeded, else why it did not.
    const std::string& lastError() const { return m_lastError; }

private:
    PortBackend* backendFor(std::uint16_t address);
    void traceOut(std::uint16_t address, std::uint8_t data);

    Environment m_settings;
    std::map<std::uint16_t, std::unique_ptr<PortBackend>> m_ports;
    // The trace file of each port that was set up, from its settings (the
    // settings file's `trace` or PORTIO_TRACE); one file is open at a time.
    std::map<std::uint16_t, std::string> m_tracePaths;
    std::unique_ptr<Trace> m_trace;
    std::string m_tracePath;          // of m_trace
    bool m_traceOpenFailed = false;   // reported once; the trace is off
    bool m_traceTroubleTold = false;  // the first dropped line is told, not each one
    std::string m_lastError;
};

}  // namespace runlight::portio

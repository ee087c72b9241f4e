#pragma once

// What portio-out --status prints: which back end a port would use, what
// chose it (a file and line, a variable, or the default), the settings that
// back end reads and where each came from, and whether it is reachable now.

#include <cstdint>
#include <string>

namespace runlight::portio {

struct Environment;

struct PortStatus {
    std::string text;        // lines, each ending in '\n'
    bool reachable = false;  // the port could be written now
};

// Looks, without writing: the real port is opened and claimed and let go at
// once (a port held by another program says so), the simulated port's folder
// is made if need be, a module's back end is asked through its probe.
PortStatus portStatus(std::uint16_t address, const Environment& environment);

}  // namespace runlight::portio

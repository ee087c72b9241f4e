#pragma once

#include <cstdint>
#include <string>

#include "parport_finder.h"

namespace runlight::portio {

struct ParportDriver;

// What steers the library, read from the environment at its first call.
struct Settings {
    std::string backend;     // PORTIO_BACKEND: "" or "auto", "parport", "sim"
    std::string device;      // PORTIO_DEVICE: "/dev/parportN" overrides the choice of device
    std::string trace;       // PORTIO_TRACE: trace file, "" for none
    std::string runtimeDir;  // XDG_RUNTIME_DIR: where simulated ports live
    std::string tmpDir;      // TMPDIR: the fallback's parent
    std::string procRoot = kProcRoot;
    std::string devRoot = kDevRoot;
    const ParportDriver* driver = nullptr;  // the system's calls; tests give a fake

    static Settings fromEnvironment();
};

struct Choice {
    enum class Kind { Parport, Sim, Error };
    Kind kind = Kind::Error;
    ParportChoice parport;  // for Parport
    std::string error;      // for Error: names the port and what is wrong
};

// Which back end serves `address`:
// - sim: always the simulated port;
// - parport: the real port findParport picks (PORTIO_DEVICE, the address, or
//   for 888 the first port), else an error that says no port was found;
// - auto (or unset): the real port when there is one as for parport, else
//   the simulated one. A real port found here that then cannot be opened or
//   claimed is an error at the write, never a quiet switch to the simulation;
// - anything else: an error naming the value.
Choice choose(std::uint16_t address, const Settings& settings);

}  // namespace runlight::portio

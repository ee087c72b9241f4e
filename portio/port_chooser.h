#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "parport_finder.h"

namespace runlight::portio {

struct ParportDriver;
struct BackendInfo;
class PortSettings;

// What the library is given by its process at its first call: the
// environment variables that steer it and where it finds things. Tests make
// their own, with folders, roots and a driver of their own.
struct Environment {
    std::string backend;     // PORTIO_BACKEND: "" or "auto", "parport", "sim"
    std::string device;      // PORTIO_DEVICE: "/dev/parportN" overrides the choice of device
    std::string trace;       // PORTIO_TRACE: trace file, "" for none
    std::string runtimeDir;  // XDG_RUNTIME_DIR: where simulated ports live
    std::string tmpDir;      // TMPDIR: the fallback's parent
    std::string procRoot = kProcRoot;
    std::string devRoot = kDevRoot;
    const ParportDriver* driver = nullptr;  // the system's calls; tests give a fake
    // The settings file (portio.conf, see settings.h), "" for none.
    std::string configFile;
    // The environment variables of the back ends' keys that are set
    // (PORTIO_OLA_UNIVERSE=2, ...). backend, device and trace above win over
    // any PORTIO_BACKEND, PORTIO_DEVICE, PORTIO_TRACE here.
    std::map<std::string, std::string, std::less<>> variables;
    // Where back end modules are looked for; empty: moduleFolders().
    std::vector<std::string> moduleFolders;

    static Environment fromProcess();
};

struct Choice {
    enum class Kind { Parport, Sim, Module, Error };
    Kind kind = Kind::Error;
    ParportChoice parport;                // for Parport
    const BackendInfo* module = nullptr;  // for Module: the back end's entry in the table
    std::string error;                    // for Error: names the port and what is wrong
};

// Which back end serves `address`:
// - sim: always the simulated port;
// - parport: the real port findParport picks (PORTIO_DEVICE, the address, or
//   for 888 the first port), else an error that says no port was found;
// - auto (or unset): the real port when there is one as for parport, else
//   the simulated one. A real port found here that then cannot be opened or
//   claimed is an error at the write, never a quiet switch to the simulation;
// - a back end that lives in a module (ola): that module;
// - anything else: an error naming the value.
Choice choose(std::uint16_t address, const Environment& environment);

// The same for `address` with its settings file section and environment
// (see resolvePortSettings): fills `resolved` with every value and where it
// came from, and returns an Error choice naming the port for a bad file or
// variable (with `resolved` left empty).
Choice chooseWithSettings(std::uint16_t address, const Environment& environment,
                          PortSettings& resolved);

}  // namespace runlight::portio

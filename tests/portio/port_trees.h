#pragma once

// The trees and settings the port library's tests give it in place of the
// machine's: a /proc with parallel ports of the test's choosing, and settings
// that point every root and folder there.

#include <string>

#include <gtest/gtest.h>

#include "port_chooser.h"
#include "sim_file.h"
#include "temp_folder.h"

namespace runlight::testing {

// A /proc tree with the given ports: {number, "base-addr contents"}.
inline void addPort(const TempFolder& proc, int number, const std::string& baseAddr,
                    const std::string& active = "none\n") {
    const std::string folder = "sys/dev/parport/parport" + std::to_string(number);
    proc.write(folder + "/base-addr", baseAddr);
    proc.write(folder + "/devices/active", active);
}

// Settings for `backend`, with /proc and /dev in `procRoot` and the runtime
// folder (the simulated ports' home) at `runtimeDir`.
inline portio::Environment settingsFor(const std::string& backend, const std::string& procRoot,
                                       const std::string& runtimeDir = "") {
    portio::Environment settings;
    settings.backend = backend;
    settings.procRoot = procRoot;
    settings.devRoot = procRoot + "/dev";
    settings.runtimeDir = runtimeDir;
    return settings;
}

// Settings for the simulated port in `runtime`, its trace at `trace` ("" for
// none), and a /proc that lists no parallel port.
inline portio::Environment simSettings(const TempFolder& runtime, const std::string& trace = "") {
    portio::Environment settings;
    settings.backend = "sim";
    settings.runtimeDir = runtime.path();
    settings.procRoot = runtime / "no-proc";
    settings.trace = trace;
    return settings;
}

// The simulated ports' folder in `runtime`, made as the library makes it;
// "" when it is refused, which fails the test with the reason.
inline std::string simFolderIn(const TempFolder& runtime) {
    const auto folder = portio::simFolder(runtime.path(), "");
    if (!folder) {
        ADD_FAILURE() << folder.error();
        return {};
    }
    return *folder;
}

}  // namespace runlight::testing

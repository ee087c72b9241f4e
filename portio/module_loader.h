#pragma once

// Loads back end modules (libportio-NAME.so.1) by name, checks their
// interface version, and wraps what they open as a PortBackend. See
// portio_module.h for the interface itself.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backend_table.h"
#include "dynamic_library.h"
#include "port_backend.h"
#include "result.h"

struct PortioModule;
struct PortioWatch;

namespace runlight::portio {

class PortSettings;
class BackendModule;

// Where modules are looked for, in order: the folder of the file that holds
// this code (libportio.so.1, or the program it is linked into: the real
// program file, never the name it was started by), then the library folder
// the project installs to. A module file is checked before it is loaded: a
// damaged one (not a regular file, cut short) is refused by name.
std::vector<std::string> moduleFolders();

// A module's watch on what the far end holds for a port (see
// PortioModule::watch); stops watching when destroyed.
class ModuleWatch {
public:
    using Levels = std::array<std::uint8_t, 8>;  // lamp 1 (bit 7) first; 0 = off
    ~ModuleWatch();
    ModuleWatch(const ModuleWatch&) = delete;
    ModuleWatch& operator=(const ModuleWatch&) = delete;

    // The latest levels, and while the far end is not reached why not (else "").
    struct Reading {
        Levels levels{};
        std::string problem;
    };
    Reading read() const;
    // One line naming what is watched: "OLA universe 2, channels 3–10 · olad ...".
    const std::string& title() const { return m_title; }

    struct Started {  // only BackendModule::watch makes one
        explicit Started() = default;
    };
    ModuleWatch(Started, std::shared_ptr<const BackendModule> owner, const PortioModule& module,
                std::unique_ptr<std::function<void()>> changed);

private:
    friend class BackendModule;
    std::shared_ptr<const BackendModule> m_owner;
    const PortioModule& m_module;
    std::unique_ptr<std::function<void()>> m_changed;  // the module's thread calls it
    PortioWatch* m_watch = nullptr;
    std::string m_title;
};

// A loaded module whose interface version matched. It stays mapped for the
// rest of the process (RTLD_NODELETE): a module's third-party libraries
// (libola, protobuf) are not all safe to unload and load again.
class BackendModule : public std::enable_shared_from_this<BackendModule> {
public:
    // Loads the module of `backend` (a module's entry of the back end table)
    // from the first of `folders` that has its file. Fails saying what is
    // missing and which package to install, why the file would not load, or
    // that it speaks another interface version.
    static Result<std::shared_ptr<BackendModule>> load(const BackendInfo& backend,
                                                       const std::vector<std::string>& folders);

    // The module's back end for `address`; fails with the module's reason.
    Result<std::unique_ptr<PortBackend>> open(std::uint16_t address, const PortSettings& settings);
    // See PortioModule::probe: what the module found, as a value when the far
    // end is reachable now, as the failure when it is not.
    Result<std::string> probe(std::uint16_t address, const PortSettings& settings) const;

    // Starts the module's watch on `address` (see PortioModule::watch):
    // `changed` runs on the module's thread after every change. Fails when
    // the module has none or it could not start.
    Result<std::unique_ptr<ModuleWatch>> watch(std::uint16_t address, const PortSettings& settings,
                                               std::function<void()> changed) const;

    const std::string& path() const { return m_path; }

    struct Loaded {  // only load() makes one
        explicit Loaded() = default;
    };
    BackendModule(Loaded, std::string path, DynamicLibrary library, const PortioModule* module);
    BackendModule(const BackendModule&) = delete;
    BackendModule& operator=(const BackendModule&) = delete;

private:
    std::string m_path;
    DynamicLibrary m_library;  // Keep::Mapped
    const PortioModule* m_module;
};

}  // namespace runlight::portio

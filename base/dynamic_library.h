#pragma once

// A library loaded at run time, by the system's loader (dlopen/dlsym), and
// let go when its owner goes. The program loads the port library through
// this, and the port library its back end modules.

#include <string>

#include "result.h"

namespace runlight {

class DynamicLibrary {
public:
    enum class Keep {
        Unloadable,  // dlclose unloads it when nothing else holds it
        Mapped,      // stays mapped after dlclose (RTLD_NODELETE): a thread or a
                     // callback of it may outlive our hold on it
    };

    // Loads `path` (a bare name is looked for as the loader does). The
    // failure is the loader's own words.
    static Result<DynamicLibrary> open(const std::string& path, Keep keep = Keep::Unloadable);

    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary();

    // The address of the exported symbol `name`; the failure names it.
    Result<void*> symbol(const char* name) const;

    // Typed: library.function<PortOutFn>("PortOut").
    template <class F>
    Result<F> function(const char* name) const {
        auto address = symbol(name);
        if (!address) {
            return fail(address.error());
        }
        return reinterpret_cast<F>(*address);
    }

private:
    explicit DynamicLibrary(void* handle) : m_handle(handle) {}
    void* m_handle = nullptr;
};

}  // namespace runlight

#include "dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace runlight {

namespace {
std::string loaderError() {
    const char* text = ::dlerror();
    return text != nullptr ? text : "unknown error";
}
}  // namespace

Result<DynamicLibrary> DynamicLibrary::open(const std::string& path, Keep keep) {
    ::dlerror();
    const int flags = RTLD_NOW | RTLD_LOCAL | (keep == Keep::Mapped ? RTLD_NODELETE : 0);
    void* handle = ::dlopen(path.c_str(), flags);
    if (handle == nullptr) {
        return fail(loaderError());
    }
    return DynamicLibrary(handle);
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        if (m_handle != nullptr) {
            ::dlclose(m_handle);
        }
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

DynamicLibrary::~DynamicLibrary() {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
}

Result<void*> DynamicLibrary::symbol(const char* name) const {
    ::dlerror();
    void* address = ::dlsym(m_handle, name);
    if (address == nullptr) {
        return fail(loaderError());
    }
    return address;
}

}  // namespace runlight

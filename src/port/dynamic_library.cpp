#include "dynamic_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace runlight::dynlib {

namespace {
std::string lastError() {
    const char* text = ::dlerror();
    return text != nullptr ? text : "unknown error";
}

// The folder the running program lives in, or "" if it cannot be told.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    const std::string exe(path, static_cast<std::size_t>(length));
    return exe.substr(0, exe.rfind('/') + 1);
}

}  // namespace

void* open(const std::string& fileName, std::string& error) {
    ::dlerror();
    void* handle = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
        return handle;
    }
    error = lastError();
    // A bare name is also looked for beside the program itself. The RPATH
    // says the same, but it is not consulted when something (a sanitizer's
    // interceptor, a preloaded library) stands between us and dlopen.
    if (fileName.find('/') == std::string::npos) {
        const std::string folder = programFolder();
        if (!folder.empty()) {
            handle = ::dlopen((folder + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    return handle;
}

void* symbol(void* handle, const char* name, std::string& error) {
    ::dlerror();
    void* address = ::dlsym(handle, name);
    if (address == nullptr) {
        error = lastError();
    }
    return address;
}

void close(void* handle) {
    if (handle != nullptr) {
        ::dlclose(handle);
    }
}

}  // namespace runlight::dynlib

#include "port_library.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <utility>

namespace runlight {

namespace {
// "888 (0x378)"
std::string portName(std::int16_t port) {
    char text[32];
    std::snprintf(text, sizeof text, "%d (0x%X)", port, static_cast<unsigned>(port) & 0xFFFFU);
    return text;
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

Result<DynamicLibrary> openPortLibrary(const std::string& fileName) {
    auto library = DynamicLibrary::open(fileName);
    if (library || fileName.find('/') != std::string::npos) {
        return library;
    }
    const std::string folder = programFolder();
    if (folder.empty()) {
        return library;
    }
    auto beside = DynamicLibrary::open(folder + fileName);
    return beside ? std::move(beside) : std::move(library);
}

PortLibrary::PortLibrary(std::string fileName) : m_fileName(std::move(fileName)) {}

PortLibrary::~PortLibrary() = default;

Result<void> PortLibrary::bind() {
    auto library = openPortLibrary(m_fileName);
    if (!library) {
        return fail("The port library " + m_fileName + " could not be loaded: " + library.error());
    }
    const auto portOut = library->function<PortOutFn>("PortOut");
    if (!portOut) {
        return fail("The port library " + m_fileName + " has no PortOut: " + portOut.error());
    }
    const auto portLastError = library->function<PortLastErrorFn>("PortLastError");
    m_portOut = *portOut;
    m_portLastError = portLastError ? *portLastError : nullptr;  // PortLastError is optional
    m_library = std::move(*library);
    return {};
}

void PortLibrary::out(std::int16_t port, std::uint8_t value) {
    if (m_portOut == nullptr) {
        if (auto bound = bind(); !bound) {
            throw PortError(bound.error());
        }
    }
    m_portOut(port, value);
    if (m_portLastError == nullptr) {
        return;
    }
    const char* report = m_portLastError();
    if (report == nullptr || *report == '\0') {
        return;
    }
    throw PortError("Writing " + std::to_string(value) + " to port " + portName(port) +
                    " through " + m_fileName + " failed: " + report);
}

}  // namespace runlight

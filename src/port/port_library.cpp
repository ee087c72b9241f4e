#include "port_library.h"

#include <cstdio>
#include <utility>

#include "dynamic_library.h"

namespace runlight {

namespace {
void closeLibrary(void* handle) {
    dynlib::close(handle);
}

// "888 (0x378)"
std::string portName(std::int16_t port) {
    char text[32];
    std::snprintf(text, sizeof text, "%d (0x%X)", port, static_cast<unsigned>(port) & 0xFFFFU);
    return text;
}
}  // namespace

PortLibrary::PortLibrary(std::string fileName)
    : m_fileName(std::move(fileName)), m_handle(nullptr, &closeLibrary) {}

PortLibrary::~PortLibrary() = default;

void PortLibrary::bind() {
    std::string error;
    m_handle.reset(dynlib::open(m_fileName, error));
    if (!m_handle) {
        throw PortError("The port library " + m_fileName + " could not be loaded: " + error);
    }
    m_portOut = reinterpret_cast<PortOutFn>(dynlib::symbol(m_handle.get(), "PortOut", error));
    if (m_portOut == nullptr) {
        unbind();
        throw PortError("The port library " + m_fileName + " has no PortOut: " + error);
    }
    std::string ignored;  // PortLastError is optional
    m_portLastError =
        reinterpret_cast<PortLastErrorFn>(dynlib::symbol(m_handle.get(), "PortLastError", ignored));
}

void PortLibrary::unbind() {
    m_portOut = nullptr;
    m_portLastError = nullptr;
    m_handle.reset();
}

void PortLibrary::out(std::int16_t port, std::uint8_t value) {
    if (m_portOut == nullptr) {
        bind();
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

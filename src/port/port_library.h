#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "port_sink.h"

namespace runlight {

// The file name the program loads its port library by.
inline constexpr const char* kPortLibraryName = "libportio.so.1";

// The port-I/O library, loaded by name at the first write, not at start-up.
// It is looked up as the system looks up any library: beside the program
// (through its RPATH), then the usual library path. It binds PortOut and,
// if the library has it, PortLastError, which it asks after every PortOut.
// A library or PortOut that cannot be bound is looked for again at the next
// write (one installed meanwhile is found then). A bound library that reports
// a failed write stays loaded: it starts that port afresh itself, and what it
// has learnt (a trace it gave up on, reported once) is not thrown away with it.
class PortLibrary final : public PortSink {
public:
    explicit PortLibrary(std::string fileName = kPortLibraryName);
    ~PortLibrary() override;
    PortLibrary(const PortLibrary&) = delete;
    PortLibrary& operator=(const PortLibrary&) = delete;

    // Throws PortError naming the missing file or symbol, or quoting the
    // library's own report of a failed write.
    void out(std::int16_t port, std::uint8_t value) override;

    bool isBound() const { return m_portOut != nullptr; }

private:
    using PortOutFn = void (*)(std::int16_t, std::uint8_t);
    using PortLastErrorFn = const char* (*)();

    void bind();
    void unbind();

    std::string m_fileName;
    std::unique_ptr<void, void (*)(void*)> m_handle;
    PortOutFn m_portOut = nullptr;
    PortLastErrorFn m_portLastError = nullptr;
};

}  // namespace runlight

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dynamic_library.h"
#include "port_sink.h"
#include "result.h"

namespace runlight {

// The file name the program loads its port library by.
inline constexpr const char* kPortLibraryName = "libportio.so.1";

// Loads a port library by file name as the program does: as the system's
// loader looks it up (beside the program through its RPATH, then the usual
// library path), and a bare name also beside the program itself, for when
// something (a sanitizer's interceptor, a preloaded library) stands between
// the program and the loader. The failure is the loader's words for the
// name as given.
Result<DynamicLibrary> openPortLibrary(const std::string& fileName);

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

    Result<void> bind();

    std::string m_fileName;
    std::optional<DynamicLibrary> m_library;
    PortOutFn m_portOut = nullptr;
    PortLastErrorFn m_portLastError = nullptr;
};

}  // namespace runlight

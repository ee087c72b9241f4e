#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace runlight::portio {

// The trace file (PORTIO_TRACE): one line "T PORT BYTE" per PortOut, T the
// CLOCK_MONOTONIC time in ns, PORT the address (0..65535) and BYTE (0..255)
// in decimal: "1234567890 888 165". Each line goes out in one append-mode
// write, so it is on disk (in the page cache) at once and lines of several
// processes never interleave within a line.
class Trace {
public:
    // Opens `path` for appending, creating it. Returns null and sets `error`.
    static std::unique_ptr<Trace> open(const std::string& path, std::string& error);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Appends the line for a PortOut made now. Returns false and sets `error`
    // if the line could not be written whole.
    bool record(std::uint16_t address, std::uint8_t data, std::string& error);

private:
    struct Opened {  // only open() hands out a descriptor
        explicit Opened() = default;
    };

public:
    Trace(Opened, std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}

private:
    std::string m_path;
    int m_fd;
};

// "1234567890 888 165\n"
std::string traceLine(std::uint64_t monotonicNs, std::uint16_t address, std::uint8_t data);

// CLOCK_MONOTONIC now, in ns.
std::uint64_t monotonicNow();

}  // namespace runlight::portio

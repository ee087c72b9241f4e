#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "result.h"
#include "unique_fd.h"

namespace runlight::portio {

// The trace (PORTIO_TRACE): one line "T PORT BYTE" per PortOut, T the
// monotonic time in ns (std::chrono::steady_clock: CLOCK_MONOTONIC on Linux), PORT the address
// (0..65535) and BYTE (0..255) in decimal: "1234567890 888 165". Whatever the path names (a regular
// file, a FIFO, a device) the trace never blocks its writer and never lets SIGPIPE end it:
// - the file is opened non-blocking, so a FIFO with no reader is refused at
//   once (ENXIO) instead of waiting for one;
// - each line goes out in one write() with O_APPEND, so lines of several
//   processes never interleave within a line, and on a pipe (a line is far
//   shorter than PIPE_BUF) a line goes in whole or not at all;
// - a line that cannot go out now (a pipe that is full because its reader
//   stopped reading, a full disk) is dropped and counted, never waited for;
//   a regular file that took only part of a line is cut back to where the
//   line began, so no half line stays behind;
// - SIGPIPE (a pipe whose reader went away) and SIGXFSZ (a file at the
//   process's size limit, as it was when the trace was opened) raised by a
//   trace write are kept from the program; after SIGPIPE the trace is closed
//   (nobody can read it any more).
// The first trouble is told once on standard error with the path and the
// reason; the number of dropped lines is told there when the trace closes.
// None of it touches the port: the byte is written all the same.
class Trace {
public:
    // Opens `path` for appending, creating it; on failure, why (naming the path).
    static Result<std::unique_ptr<Trace>> open(const std::string& path);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    enum class Outcome {
        Written,  // the line is out whole
        Dropped,  // not written now (counted); later lines are tried
        Closed,   // not written, and the trace cannot go on (its reader is gone)
    };
    // Appends the line for a PortOut made now. For Dropped and Closed, sets
    // `error` to the path and the reason.
    Outcome record(std::uint16_t address, std::uint8_t data, std::string& error);
    // Writes `line` (one whole line) as record() does.
    Outcome writeLine(const std::string& line, std::string& error);

    // Lines dropped so far.
    std::uint64_t dropped() const { return m_dropped; }
    const std::string& path() const { return m_path; }

private:
    struct Opened {  // only open() hands out a descriptor
        explicit Opened() = default;
    };

public:
    Trace(Opened, std::string path, UniqueFd fd, bool guardSignals)
        : m_path(std::move(path)), m_fd(std::move(fd)), m_guardSignals(guardSignals) {}

private:
    long writeKeepingSignals(const std::string& line, int& errnum) const;

    std::string m_path;
    UniqueFd m_fd;        // none once the trace is closed (its reader has gone)
    bool m_guardSignals;  // a write may raise SIGPIPE or SIGXFSZ (see open())
    std::uint64_t m_dropped = 0;
};

// "1234567890 888 165\n"
std::string traceLine(std::uint64_t monotonicNs, std::uint16_t address, std::uint8_t data);

// The monotonic clock (steady_clock, CLOCK_MONOTONIC) now, in ns.
std::uint64_t monotonicNow();

}  // namespace runlight::portio

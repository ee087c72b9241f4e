#include "trace.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "port_backend.h"

namespace runlight::portio {

std::string traceLine(std::uint64_t monotonicNs, std::uint16_t address, std::uint8_t data) {
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%" PRIu64 " %u %u\n", monotonicNs,
                                     static_cast<unsigned>(address), static_cast<unsigned>(data));
    return std::string(line, static_cast<std::size_t>(length));
}

std::uint64_t monotonicNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000U +
           static_cast<std::uint64_t>(now.tv_nsec);
}

std::unique_ptr<Trace> Trace::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "the trace file " + path +
                " (PORTIO_TRACE) cannot be opened: " + systemReason(errno) +
                "; the port is still written, the trace is off";
        return nullptr;
    }
    return std::make_unique<Trace>(Opened{}, path, fd);
}

Trace::~Trace() {
    ::close(m_fd);
}

bool Trace::record(std::uint16_t address, std::uint8_t data, std::string& error) {
    const std::string line = traceLine(monotonicNow(), address, data);
    ssize_t written = 0;
    do {
        written = ::write(m_fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(line.size())) {
        error = "writing the trace file " + m_path +
                " (PORTIO_TRACE) failed: " + systemReason(written < 0 ? errno : ENOSPC) +
                "; the trace is off";
        return false;
    }
    return true;
}

}  // namespace runlight::portio

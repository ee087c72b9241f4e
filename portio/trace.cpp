#include "trace.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(sinceStart).count());
}

Result<std::unique_ptr<Trace>> Trace::open(const std::string& path) {
    // Non-blocking: a FIFO without a reader fails at once (ENXIO) instead of
    // waiting for one, and a full pipe refuses a line instead of waiting.
    UniqueFd fd(aboveStandardStreams(::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644)));
    if (!fd) {
        const int errnum = errno;
        return fail("the trace " + path + " (PORTIO_TRACE) cannot be opened: " +
                    systemReason(errnum) + (errnum == ENXIO ? " (a FIFO that nobody reads)" : ""));
    }
    // Whether a write may raise SIGPIPE or SIGXFSZ: to a FIFO, to a regular
    // file under a size limit, to anything else the library cannot tell.
    // Only those writes pay for holding the signals back (three calls more).
    struct stat info {};
    rlimit size{};
    const bool unlimitedFile = ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
                               ::getrlimit(RLIMIT_FSIZE, &size) == 0 &&
                               size.rlim_cur == RLIM_INFINITY;
    return std::make_unique<Trace>(Opened{}, path, std::move(fd), !unlimitedFile);
}

Trace::~Trace() {
    m_fd.reset();
    if (m_dropped > 0) {
        std::fprintf(stderr, "portio: %" PRIu64 " line%s of the trace %s (PORTIO_TRACE) dropped\n",
                     m_dropped, m_dropped == 1 ? "" : "s", m_path.c_str());
    }
}

long Trace::writeKeepingSignals(const std::string& line, int& errnum) const {
    // Two signals would end the program by default: SIGPIPE, raised in the
    // writing thread for a pipe whose reader has gone, and SIGXFSZ, for a
    // file at the process's size limit. Blocked here, one raised by this
    // write stays pending and is taken back; one that was pending before is
    // the program's own and stays.
    sigset_t ours;
    sigemptyset(&ours);
    sigaddset(&ours, SIGPIPE);
    sigaddset(&ours, SIGXFSZ);
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &ours, &before);
    sigset_t pendingBefore;
    ::sigpending(&pendingBefore);
    ssize_t written = 0;
    do {
        written = ::write(m_fd.get(), line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    errnum = errno;
    if (written < 0 && (errnum == EPIPE || errnum == EFBIG)) {
        sigset_t pendingNow;
        ::sigpending(&pendingNow);
        for (const int signal : {SIGPIPE, SIGXFSZ}) {
            if (sigismember(&pendingNow, signal) == 1 && sigismember(&pendingBefore, signal) != 1) {
                sigset_t one;
                sigemptyset(&one);
                sigaddset(&one, signal);
                const timespec now{0, 0};
                while (::sigtimedwait(&one, nullptr, &now) < 0 && errno == EINTR) {
                }
            }
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return written;
}

Trace::Outcome Trace::record(std::uint16_t address, std::uint8_t data, std::string& error) {
    return writeLine(traceLine(monotonicNow(), address, data), error);
}

Trace::Outcome Trace::writeLine(const std::string& line, std::string& error) {
    if (!m_fd) {
        ++m_dropped;
        return Outcome::Dropped;
    }
    int errnum = 0;
    ssize_t written = 0;
    if (m_guardSignals) {
        written = writeKeepingSignals(line, errnum);
    } else {
        do {
            written = ::write(m_fd.get(), line.data(), line.size());
        } while (written < 0 && errno == EINTR);
        errnum = errno;
    }
    if (written == static_cast<ssize_t>(line.size())) {
        return Outcome::Written;
    }
    ++m_dropped;
    if (written > 0) {
        // Part of the line went in (a regular file on a full disk, a device).
        // In a regular file the part is cut off again, provided nothing was
        // appended after it meanwhile; a pipe never takes part of a line this
        // short (PIPE_BUF), and what a device took cannot be taken back.
        const off_t end = ::lseek(m_fd.get(), 0, SEEK_CUR);
        struct stat info {};
        if (end >= written && ::fstat(m_fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_size == end) {
            (void)!::ftruncate(m_fd.get(), end - written);
        }
        errnum = ENOSPC;
    }
    error = "writing the trace " + m_path + " (PORTIO_TRACE) failed: " + systemReason(errnum);
    if (errnum == EPIPE) {
        // The reader has gone: nobody will read what comes after.
        m_fd.reset();
        error += " (its reader has gone; the trace is closed)";
        return Outcome::Closed;
    }
    error += " (lines that cannot be written now are dropped)";
    return Outcome::Dropped;
}

}  // namespace runlight::portio

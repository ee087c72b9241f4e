#pragma once

// A file descriptor with one owner, closed when the owner goes. Every
// descriptor the program and the port library open is held in one of these,
// so that no path (an early return, a failure half way) leaves one open.

#include <unistd.h>

#include <utility>

namespace runlight {

class UniqueFd {
public:
    UniqueFd() = default;
    // Takes `fd` (-1 for none).
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }
    // Closes what is held (the close's own failure is of no use: the
    // descriptor is gone either way) and takes `fd`.
    void reset(int fd = -1) {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0) {
            ::close(old);
        }
    }

private:
    int m_fd = -1;
};

}  // namespace runlight

#include "port_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "unique_fd.h"

namespace runlight::portio {

std::string portLabel(std::uint16_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "port %u (0x%X)", static_cast<unsigned>(address),
                  static_cast<unsigned>(address));
    return text;
}

std::string labelled(const PortBackend& backend, const std::string& reason) {
    const std::string label = backend.label();
    return label.empty() ? reason : label + ": " + reason;
}

std::string systemReason(int errnum) {
    return std::strerror(errnum);
}

int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    UniqueFd low(fd);
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int errnum = errno;
    low.reset();
    errno = errnum;
    return moved;
}

}  // namespace runlight::portio

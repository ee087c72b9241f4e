#include "parport_device.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "unique_fd.h"

namespace runlight::portio {

namespace {
int systemIoctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}
}  // namespace

const ParportDriver& ParportDriver::system() {
    static const ParportDriver driver{
        [](const char* path, int flags) { return aboveStandardStreams(::open(path, flags)); },
        &systemIoctl, [](int fd) { return ::close(fd); },
        [](int fd, struct stat* info) { return ::fstat(fd, info); },
        [](int fd, int timeoutMs) { return claimWithin(fd, timeoutMs, &systemIoctl); }};
    return driver;
}

int claimWithin(int fd, int timeoutMs,
                int (*ioctl)(int fd, unsigned long request, void* argument)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) < 0) {
        return -1;
    }
    UniqueFd answer(ends[0]);
    UniqueFd answering(ends[1]);
    const pid_t child = ::fork();
    if (child < 0) {
        const int errnum = errno;
        answer.reset();
        answering.reset();
        errno = errnum;
        return -1;
    }
    if (child == 0) {
        // Only async-signal-safe calls here: the program may have threads.
        int result = 0;
        do {
            result = ioctl(fd, PPCLAIM, nullptr);
        } while (result < 0 && errno == EINTR);
        const auto reason = static_cast<unsigned char>(result == 0 ? 0 : errno);
        (void)!::write(answering.get(), &reason, 1);
        ::_exit(0);
    }
    answering.reset();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    unsigned char reason = 0;
    bool answered = false;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd wait{answer.get(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(std::max<decltype(left)>(0, left)));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        answered = ready > 0 && ::read(answer.get(), &reason, 1) == 1;
        break;
    }
    if (!answered) {
        ::kill(child, SIGKILL);  // ends its wait in PPCLAIM
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (!answered) {
        // It may have got the claim just before it was killed: then it is
        // ours all the same.
        answered = ::read(answer.get(), &reason, 1) == 1;
    }
    answer.reset();
    if (!answered) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (reason != 0) {
        errno = reason;
        return -1;
    }
    return 0;
}

namespace {
// ioctl, again after a signal.
int retryIoctl(const ParportDriver& driver, int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = driver.ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

std::string openHint(int errnum) {
    switch (errnum) {
        case EACCES:
        case EPERM:
            return " (an ordinary user needs to be in the device's group, usually lp: "
                   "usermod -aG lp USER, then log in again)";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return " (is the ppdev module loaded? modprobe ppdev)";
        default:
            return {};
    }
}
}  // namespace

Result<std::unique_ptr<ParportDevice>> ParportDevice::open(std::uint16_t address,
                                                           const ParportChoice& choice,
                                                           const std::string& procRoot,
                                                           const ParportDriver& driver) {
    // Non-blocking, so that a path naming some other device cannot make the
    // open wait; ppdev's data register calls do not look at it.
    const int fd = driver.open(choice.device.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int errnum = errno;
        return fail("cannot open " + choice.device + ": " + systemReason(errnum) +
                    openHint(errnum));
    }
    const auto refused = [&](const std::string& why) {
        driver.close(fd);
        return fail(why);
    };
    // Which port this is, by its device number: whatever path names it.
    struct stat info {};
    if (driver.fstat(fd, &info) < 0) {
        return refused("cannot look at " + choice.device + ": " + systemReason(errno));
    }
    if (!S_ISCHR(info.st_mode) || major(info.st_rdev) != kPpdevMajor) {
        return refused(choice.device + " is not a parallel port device (ppdev, major " +
                       std::to_string(kPpdevMajor) + "); nothing was written");
    }
    const int number = static_cast<int>(minor(info.st_rdev));
    // PPCLAIM waits while another driver or program holds the port, for as
    // long as it does; the driver says who does, so ask first and report at
    // once. A holder the driver does not name, or one that took the port in
    // the instant between, is waited for kClaimWaitMs at most.
    const auto heldBy = [&]() -> std::string {
        const std::string holder = parportHolder(procRoot, number);
        return holder.empty()
                   ? std::string{}
                   : "cannot claim " + choice.device + ": the port is held by " + holder +
                         " (the lp printer driver while printing, or another program)";
    };
    if (const std::string held = heldBy(); !held.empty()) {
        return refused(held);
    }
    int claimed = 0;
    do {
        claimed = driver.claim(fd, kClaimWaitMs);
    } while (claimed < 0 && errno == EINTR);
    if (claimed < 0 && errno == ETIMEDOUT) {
        const std::string held = heldBy();
        return refused(!held.empty()
                           ? held
                           : "cannot claim " + choice.device +
                                 ": the port is busy (held by a program the system does not "
                                 "name; gave up after " +
                                 std::to_string(kClaimWaitMs) + " ms)");
    }
    if (claimed < 0) {
        return refused("cannot claim " + choice.device + " (PPCLAIM): " + systemReason(errno));
    }
    return std::make_unique<ParportDevice>(Claimed{}, address, choice.device, fd, driver);
}

ParportDevice::~ParportDevice() {
    // Nobody is left to hear of a failed release; closing drops the claim anyway.
    (void)retryIoctl(m_driver, m_fd, PPRELEASE, nullptr);
    m_driver.close(m_fd);
}

Result<void> ParportDevice::write(std::uint8_t data) {
    unsigned char byte = data;
    if (retryIoctl(m_driver, m_fd, PPWDATA, &byte) < 0) {
        return fail("writing " + m_device + " (PPWDATA) failed: " + systemReason(errno));
    }
    return {};
}

Result<std::uint8_t> ParportDevice::read() {
    unsigned char byte = 0;
    if (retryIoctl(m_driver, m_fd, PPRDATA, &byte) < 0) {
        return fail("reading " + m_device + " (PPRDATA) failed: " + systemReason(errno));
    }
    return std::uint8_t{byte};
}

std::string ParportDevice::label() const {
    return portLabel(m_address);
}

}  // namespace runlight::portio

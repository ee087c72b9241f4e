#include "sim_port.h"

#include <linux/futex.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace runlight::portio {

namespace {
// Shared (not FUTEX_PRIVATE) operations: the words live in a file mapping
// that other processes use too.
long futex(std::uint32_t* word, int op, std::uint32_t value, const timespec* timeout,
           std::uint32_t* word2, std::uint32_t value3) {
    return ::syscall(SYS_futex, word, op, value, timeout, word2, value3);
}
}  // namespace

std::string simLabel(std::uint16_t address) {
    return portLabel(address) + " (simulated)";
}

Result<std::unique_ptr<SimPort>> SimPort::open(std::uint16_t address, const std::string& folder) {
    auto file = openSimFile(address, folder, false);
    if (!file) {
        return fail(file.error());
    }
    return std::make_unique<SimPort>(Opened{}, address, folder, std::move(*file));
}

SimPort::SimPort(Opened, std::uint16_t address, std::string folder, SimFile file)
    : m_address(address),
      m_folder(std::move(folder)),
      m_path(simFilePath(m_folder, address)),
      m_file(std::move(file)),
      m_nextCheck(Clock::now() + std::chrono::milliseconds(kCheckPeriodMs)) {}

SimPort::~SimPort() = default;

// The words are only ever handed to the kernel (futex) and never read or
// written here: a load or store on a page the file no longer has would be
// SIGBUS, where the kernel answers EFAULT.
std::uint32_t* SimPort::countWord() const {
    return m_file.mapping.word(kSimCountOffset);
}

std::uint32_t* SimPort::byteWord() const {
    return m_file.mapping.word(kSimByteOffset);
}

int SimPort::apply(std::uint8_t data) const {
    // FUTEX_WAKE_OP changes the second word atomically (here: set it to the
    // byte; then add one to the count) and wakes the sleepers on the first.
    // The byte is set before the count moves, and readers read the count
    // first, so a reader never pairs a new count with an old byte.
    const auto op = [](int operation, unsigned argument) {
        return static_cast<std::uint32_t>(FUTEX_OP(operation, argument, FUTEX_OP_CMP_EQ, 0));
    };
    if (futex(byteWord(), FUTEX_WAKE_OP, 0, nullptr, byteWord(), op(FUTEX_OP_SET, data)) < 0 ||
        futex(countWord(), FUTEX_WAKE_OP, INT_MAX, nullptr, countWord(), op(FUTEX_OP_ADD, 1)) < 0) {
        return errno;
    }
    return 0;
}

Result<void> SimPort::write(std::uint8_t data) {
    if (!inPlace()) {
        auto reopened = reopen();
        if (!reopened) {
            return reopened;
        }
        // made afresh: what the check found is mended
    }
    // Cut short, but not below the words' page: the kernel still reaches
    // them (no EFAULT), yet readers find nothing there. Grown back first.
    int errnum = m_cut ? prepareSimFile(m_file.fd.get()) : 0;
    m_cut = errnum != 0;
    if (errnum == 0) {
        errnum = apply(data);
    }
    if (errnum == EFAULT) {
        // The file was cut short under the mapping: give it its size back
        // (the byte and count start again from 0) and write again.
        errnum = prepareSimFile(m_file.fd.get());
        if (errnum == 0) {
            errnum = apply(data);
        }
    }
    if (errnum != 0) {
        return fail("writing " + m_path + " failed: " + systemReason(errnum));
    }
    return {};
}

Result<std::uint8_t> SimPort::read() {
    const auto now = look();
    if (!now) {
        return fail(now.error());
    }
    return now->byte;
}

std::string SimPort::label() const {
    return simLabel(m_address);
}

Result<SimPort::State> SimPort::look() const {
    std::uint32_t count = 0;
    std::uint32_t byte = 0;
    const int fd = m_file.fd.get();
    if (::pread(fd, &count, sizeof count, kSimCountOffset) != static_cast<ssize_t>(sizeof count) ||
        ::pread(fd, &byte, sizeof byte, kSimByteOffset) != static_cast<ssize_t>(sizeof byte)) {
        return fail(m_path + " has been cut short");
    }
    return State{count, static_cast<std::uint8_t>(byte)};
}

void SimPort::waitForChange(std::uint32_t seenCount, int timeoutMs) const {
    if (timeoutMs <= 0) {
        return;
    }
    const timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    // Returns at a wake-up, a signal, the timeout, at once if the count is no
    // longer `seenCount`, and with EFAULT if the file has been cut short.
    (void)futex(countWord(), FUTEX_WAIT, seenCount, &timeout, nullptr, 0);
}

void SimPort::wakeWatchers() const {
    (void)futex(countWord(), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

Result<void> SimPort::inPlace(bool now) {
    const auto nowTime = Clock::now();
    if (!now && m_inPlace && nowTime < m_nextCheck) {
        return {};
    }
    m_nextCheck = nowTime + std::chrono::milliseconds(kCheckPeriodMs);
    m_inPlace = false;
    struct stat info {};
    if (::stat(m_path.c_str(), &info) < 0) {
        return fail(m_path + " is gone: " + systemReason(errno));
    }
    if (static_cast<std::uint64_t>(info.st_dev) != m_file.device ||
        static_cast<std::uint64_t>(info.st_ino) != m_file.inode) {
        return fail(m_path + " has been replaced");
    }
    m_inPlace = true;
    m_cut = info.st_size < static_cast<off_t>(kFileSize);
    return {};
}

Result<void> SimPort::reopen() {
    auto opened = openSimFile(m_address, m_folder, true);
    if (!opened) {
        return fail(opened.error());
    }
    m_file = std::move(*opened);
    m_inPlace = true;
    m_nextCheck = Clock::now() + std::chrono::milliseconds(kCheckPeriodMs);
    return {};
}

}  // namespace runlight::portio

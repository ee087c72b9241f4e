#include "sim_port.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace runlight::portio {

namespace {
constexpr char kMagic[8] = {'p', 'o', 'r', 't', 'i', 'o', '2', '\n'};
// The earlier layout (one word of byte and count at 8, a count of sleeping
// readers at 12), taken over when found: the byte goes dark.
constexpr char kEarlierMagic[8] = {'p', 'o', 'r', 't', 'i', 'o', '1', '\n'};
constexpr off_t kCountOffset = 8;
constexpr off_t kByteOffset = 12;

// Shared (not FUTEX_PRIVATE) operations: the words live in a file mapping
// that other processes use too.
long futex(std::uint32_t* word, int op, std::uint32_t value, const timespec* timeout,
           std::uint32_t* word2, std::uint32_t value3) {
    return ::syscall(SYS_futex, word, op, value, timeout, word2, value3);
}

std::int64_t coarseNowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Makes `folder` if missing (and `make`), opens it and checks that it is a
// private folder of ours. Returns its descriptor, or -1 with `error`. The port's file is
// opened in the folder so checked (openat), so that a folder swapped in
// between (in a runtime folder that others may write to) is never used.
int openPrivateFolder(const std::string& folder, bool make, std::string& error) {
    if (make && ::mkdir(folder.c_str(), 0700) < 0 && errno != EEXIST) {
        error = "cannot make the simulated port's folder " + folder + ": " + systemReason(errno);
        return -1;
    }
    const std::string notPrivate =
        "the simulated port's folder " + folder +
        " is not a private folder of this user (mode 0700); not using it";
    const int fd = aboveStandardStreams(
        ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd < 0) {
        const int errnum = errno;
        error = errnum == ENOTDIR || errnum == ELOOP ? notPrivate
                                                     : "cannot open the simulated port's folder " +
                                                           folder + ": " + systemReason(errnum);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) < 0) {
        error = "cannot look at the simulated port's folder " + folder + ": " + systemReason(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        error = notPrivate;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool makePrivateFolder(const std::string& folder, std::string& error) {
    const int fd = openPrivateFolder(folder, true, error);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

// Holds SIGXFSZ back while it lives: growing the file beyond the process's
// file size limit (ulimit -f) is then an error (EFBIG) instead of the end of
// the program. A SIGXFSZ raised meanwhile is taken back; one that was
// pending before is the program's own and stays. Keeps errno.
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld() {
        sigemptyset(&m_signal);
        sigaddset(&m_signal, SIGXFSZ);
        ::pthread_sigmask(SIG_BLOCK, &m_signal, &m_before);
        sigset_t pending;
        ::sigpending(&pending);
        m_pendingBefore = sigismember(&pending, SIGXFSZ) == 1;
    }
    ~FileSizeSignalHeld() {
        const int errnum = errno;
        sigset_t pending;
        ::sigpending(&pending);
        if (!m_pendingBefore && sigismember(&pending, SIGXFSZ) == 1) {
            const timespec now{0, 0};
            while (::sigtimedwait(&m_signal, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
        errno = errnum;
    }
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

private:
    sigset_t m_signal{};
    sigset_t m_before{};
    bool m_pendingBefore = false;
};

// Whether `head` (the file's first bytes, zeros past its end) is `magic`
// whole, or the start of it followed by zeros: a file made by another
// process a moment ago, or one cut short inside its magic (and perhaps grown
// back with zeros since). Anything else is somebody else's file.
bool startsLike(const char (&head)[sizeof kMagic], const char (&magic)[sizeof kMagic]) {
    std::size_t same = 0;
    while (same < sizeof kMagic && head[same] == magic[same]) {
        ++same;
    }
    for (std::size_t i = same; i < sizeof kMagic; ++i) {
        if (head[i] != '\0') {
            return false;
        }
    }
    return true;
}

// Gives the file its 16 bytes with their blocks allocated, so that no later
// use needs a block the filesystem may not have, and the magic if it lacks
// it. A file that does not start as a port's file (see startsLike) is left
// as it is, not even grown: EILSEQ. Growing zero-fills and never changes
// what is there, so processes doing this at once do no harm. Returns 0, or
// an errno.
int prepareFile(int fd) {
    const FileSizeSignalHeld held;
    char head[sizeof kMagic] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got < 0) {
        return errno;
    }
    const bool earlier = std::memcmp(head, kEarlierMagic, sizeof kEarlierMagic) == 0;
    if (!earlier && !startsLike(head, kMagic) && !startsLike(head, kEarlierMagic)) {
        return EILSEQ;
    }
    int result = 0;
    do {
        result = ::posix_fallocate(fd, 0, static_cast<off_t>(SimPort::kFileSize));
    } while (result == EINTR);
    if (result != 0) {
        return result;
    }
    if (std::memcmp(head, kMagic, sizeof kMagic) == 0) {
        return 0;
    }
    if (earlier) {
        const std::uint32_t dark = 0;
        if (::pwrite(fd, &dark, sizeof dark, kByteOffset) != static_cast<ssize_t>(sizeof dark)) {
            return errno != 0 ? errno : EIO;
        }
    }
    if (::pwrite(fd, kMagic, sizeof kMagic, 0) != static_cast<ssize_t>(sizeof kMagic)) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}

struct OpenedFile {
    int fd = -1;
    void* mapping = nullptr;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Opens `folder` (made if missing when `makeFolder`) and the file of
// `address` in it (made if missing).
bool openFile(std::uint16_t address, const std::string& folder, bool makeFolder, OpenedFile& opened,
              std::string& error) {
    const std::string path = simFilePath(folder, address);
    const auto fail = [&](const std::string& what, int errnum, int fd) {
        error =
            portLabel(address) + " (simulated): " + what + " " + path + ": " + systemReason(errnum);
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    };
    const int folderFd = openPrivateFolder(folder, makeFolder, error);
    if (folderFd < 0) {
        error = portLabel(address) + " (simulated): " + error;
        return false;
    }
    const std::string name = path.substr(folder.size() + 1);
    const int fd = aboveStandardStreams(::openat(
        folderFd, name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    const int openErrno = errno;
    ::close(folderFd);
    errno = openErrno;
    if (fd < 0) {
        return fail("cannot open", errno, -1);
    }
    struct stat info {};
    if (::fstat(fd, &info) < 0) {
        return fail("cannot look at", errno, fd);  // errno taken before close() can change it
    }
    if (!S_ISREG(info.st_mode)) {
        error = portLabel(address) + " (simulated): " + path +
                " is not a regular file; not touching it";
        ::close(fd);
        return false;
    }
    const int prepared = prepareFile(fd);
    if (prepared == EILSEQ) {
        error = portLabel(address) + " (simulated): " + path +
                " is not a simulated port's file (wrong magic); not touching it";
        ::close(fd);
        return false;
    }
    if (prepared != 0) {
        return fail("cannot make room for", prepared, fd);
    }
    void* mapping = ::mmap(nullptr, SimPort::kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        return fail("cannot map", errno, fd);
    }
    opened = {fd, mapping, static_cast<std::uint64_t>(info.st_dev),
              static_cast<std::uint64_t>(info.st_ino)};
    return true;
}
}  // namespace

std::string simFolder(const std::string& runtimeDir, const std::string& tmpDir,
                      std::string& error) {
    std::string folder;
    if (!runtimeDir.empty() && runtimeDir.front() == '/') {
        folder = runtimeDir + "/portio";
    } else {
        const std::string base = !tmpDir.empty() && tmpDir.front() == '/' ? tmpDir : P_tmpdir;
        folder = base + "/portio-" + std::to_string(::geteuid());
    }
    return makePrivateFolder(folder, error) ? folder : std::string{};
}

std::string simFilePath(const std::string& folder, std::uint16_t address) {
    return folder + "/port-" + std::to_string(address);
}

std::unique_ptr<SimPort> SimPort::open(std::uint16_t address, const std::string& folder,
                                       std::string& error) {
    const std::string path = simFilePath(folder, address);
    OpenedFile opened;
    if (!openFile(address, folder, false, opened, error)) {
        return nullptr;
    }
    auto port =
        std::make_unique<SimPort>(Opened{}, address, folder, path, opened.fd, opened.mapping);
    port->m_device = opened.device;
    port->m_inode = opened.inode;
    return port;
}

SimPort::SimPort(Opened, std::uint16_t address, std::string folder, std::string path, int fd,
                 void* mapping)
    : m_address(address),
      m_folder(std::move(folder)),
      m_path(std::move(path)),
      m_fd(fd),
      m_mapping(mapping),
      m_nextCheckMs(coarseNowMs() + kCheckPeriodMs) {}

SimPort::~SimPort() {
    ::munmap(m_mapping, kFileSize);
    ::close(m_fd);
}

// The words are only ever handed to the kernel (futex) and never read or
// written here: a load or store on a page the file no longer has would be
// SIGBUS, where the kernel answers EFAULT.
std::uint32_t* SimPort::countWord() const {
    return reinterpret_cast<std::uint32_t*>(static_cast<char*>(m_mapping) + kCountOffset);
}

std::uint32_t* SimPort::byteWord() const {
    return reinterpret_cast<std::uint32_t*>(static_cast<char*>(m_mapping) + kByteOffset);
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

bool SimPort::write(std::uint8_t data, std::string& error) {
    if (!inPlace(error)) {
        if (!reopen(error)) {
            return false;
        }
        error.clear();  // made afresh: what the check found is mended
    }
    // Cut short, but not below the words' page: the kernel still reaches
    // them (no EFAULT), yet readers find nothing there. Grown back first.
    int errnum = m_cut ? prepareFile(m_fd) : 0;
    m_cut = errnum != 0;
    if (errnum == 0) {
        errnum = apply(data);
    }
    if (errnum == EFAULT) {
        // The file was cut short under the mapping: give it its size back
        // (the byte and count start again from 0) and write again.
        errnum = prepareFile(m_fd);
        if (errnum == 0) {
            errnum = apply(data);
        }
    }
    if (errnum != 0) {
        error = portLabel(m_address) + " (simulated): writing " + m_path +
                " failed: " + systemReason(errnum);
        return false;
    }
    return true;
}

bool SimPort::read(std::uint8_t& data, std::string& error) {
    State state;
    if (!look(state, error)) {
        return false;
    }
    data = state.byte;
    return true;
}

bool SimPort::look(State& state, std::string& error) const {
    std::uint32_t count = 0;
    std::uint32_t byte = 0;
    if (::pread(m_fd, &count, sizeof count, kCountOffset) != static_cast<ssize_t>(sizeof count) ||
        ::pread(m_fd, &byte, sizeof byte, kByteOffset) != static_cast<ssize_t>(sizeof byte)) {
        error = portLabel(m_address) + " (simulated): " + m_path + " has been cut short";
        return false;
    }
    state.count = count;
    state.byte = static_cast<std::uint8_t>(byte);
    return true;
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

bool SimPort::inPlace(std::string& error, bool now) {
    const std::int64_t nowMs = coarseNowMs();
    if (!now && m_inPlace && nowMs < m_nextCheckMs) {
        return true;
    }
    m_nextCheckMs = nowMs + kCheckPeriodMs;
    struct stat info {};
    if (::stat(m_path.c_str(), &info) < 0) {
        error =
            portLabel(m_address) + " (simulated): " + m_path + " is gone: " + systemReason(errno);
        m_inPlace = false;
    } else if (static_cast<std::uint64_t>(info.st_dev) != m_device ||
               static_cast<std::uint64_t>(info.st_ino) != m_inode) {
        error = portLabel(m_address) + " (simulated): " + m_path + " has been replaced";
        m_inPlace = false;
    } else {
        m_inPlace = true;
        m_cut = info.st_size < static_cast<off_t>(kFileSize);
    }
    return m_inPlace;
}

bool SimPort::reopen(std::string& error) {
    OpenedFile opened;
    if (!openFile(m_address, m_folder, true, opened, error)) {
        return false;
    }
    ::munmap(m_mapping, kFileSize);
    ::close(m_fd);
    m_fd = opened.fd;
    m_mapping = opened.mapping;
    m_device = opened.device;
    m_inode = opened.inode;
    m_inPlace = true;
    m_nextCheckMs = coarseNowMs() + kCheckPeriodMs;
    return true;
}

}  // namespace runlight::portio

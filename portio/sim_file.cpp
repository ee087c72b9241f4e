#include "sim_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "port_backend.h"

namespace runlight::portio {

namespace {
constexpr char kMagic[8] = {'p', 'o', 'r', 't', 'i', 'o', '2', '\n'};
// The earlier layout (one word of byte and count at 8, a count of sleeping
// readers at 12), taken over when found: the byte goes dark.
constexpr char kEarlierMagic[8] = {'p', 'o', 'r', 't', 'i', 'o', '1', '\n'};

// Makes `folder` if missing (and `make`), opens it and checks that it is a
// private folder of ours. The port's file is
// opened in the folder so checked (openat), so that a folder swapped in
// between (in a runtime folder that others may write to) is never used.
Result<UniqueFd> openPrivateFolder(const std::string& folder, bool make) {
    if (make && ::mkdir(folder.c_str(), 0700) < 0 && errno != EEXIST) {
        return fail("cannot make the simulated port's folder " + folder + ": " +
                    systemReason(errno));
    }
    const std::string notPrivate =
        "the simulated port's folder " + folder +
        " is not a private folder of this user (mode 0700); not using it";
    UniqueFd fd(aboveStandardStreams(
        ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)));
    if (!fd) {
        const int errnum = errno;
        return fail(errnum == ENOTDIR || errnum == ELOOP
                        ? notPrivate
                        : "cannot open the simulated port's folder " + folder + ": " +
                              systemReason(errnum));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) < 0) {
        return fail("cannot look at the simulated port's folder " + folder + ": " +
                    systemReason(errno));
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        return fail(notPrivate);
    }
    return fd;
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

}  // namespace

void SimMapping::reset() {
    if (m_address != nullptr) {
        ::munmap(m_address, kSimFileSize);
        m_address = nullptr;
    }
}

int prepareSimFile(int fd) {
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
        result = ::posix_fallocate(fd, 0, static_cast<off_t>(kSimFileSize));
    } while (result == EINTR);
    if (result != 0) {
        return result;
    }
    if (std::memcmp(head, kMagic, sizeof kMagic) == 0) {
        return 0;
    }
    if (earlier) {
        const std::uint32_t dark = 0;
        if (::pwrite(fd, &dark, sizeof dark, kSimByteOffset) != static_cast<ssize_t>(sizeof dark)) {
            return errno != 0 ? errno : EIO;
        }
    }
    if (::pwrite(fd, kMagic, sizeof kMagic, 0) != static_cast<ssize_t>(sizeof kMagic)) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}

Result<SimFile> openSimFile(std::uint16_t address, const std::string& folder, bool makeFolder) {
    const std::string path = simFilePath(folder, address);
    const auto failed = [&](const std::string& what, int errnum) {
        return fail(what + " " + path + ": " + systemReason(errnum));
    };
    UniqueFd fd;
    {
        auto folderFd = openPrivateFolder(folder, makeFolder);
        if (!folderFd) {
            return fail(folderFd.error());
        }
        const std::string name = path.substr(folder.size() + 1);
        fd.reset(aboveStandardStreams(
            ::openat(folderFd->get(), name.c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600)));
        if (!fd) {
            return failed("cannot open", errno);  // before the folder's close can change errno
        }
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) < 0) {
        return failed("cannot look at", errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(path + " is not a regular file; not touching it");
    }
    const int prepared = prepareSimFile(fd.get());
    if (prepared == EILSEQ) {
        return fail(path + " is not a simulated port's file (wrong magic); not touching it");
    }
    if (prepared != 0) {
        return failed("cannot make room for", prepared);
    }
    void* mapping = ::mmap(nullptr, kSimFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (mapping == MAP_FAILED) {
        return failed("cannot map", errno);
    }
    return SimFile{std::move(fd), SimMapping(mapping), static_cast<std::uint64_t>(info.st_dev),
                   static_cast<std::uint64_t>(info.st_ino)};
}

Result<std::string> simFolder(const std::string& runtimeDir, const std::string& tmpDir) {
    std::string folder;
    if (!runtimeDir.empty() && runtimeDir.front() == '/') {
        folder = runtimeDir + "/portio";
    } else {
        const std::string base = !tmpDir.empty() && tmpDir.front() == '/' ? tmpDir : P_tmpdir;
        folder = base + "/portio-" + std::to_string(::geteuid());
    }
    auto made = openPrivateFolder(folder, true);
    if (!made) {
        return fail(made.error());
    }
    return folder;
}

std::string simFilePath(const std::string& folder, std::uint16_t address) {
    return folder + "/port-" + std::to_string(address);
}

}  // namespace runlight::portio

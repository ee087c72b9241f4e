#include "sim_port.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace runlight::portio {

namespace {
constexpr char kMagic[8] = {'p', 'o', 'r', 't', 'i', 'o', '1', '\n'};
constexpr std::size_t kStateOffset = 8;
constexpr std::size_t kWatcherOffset = 12;

// Shared (not FUTEX_PRIVATE) operations: the word lives in a file mapping
// that other processes wait on too.
long futex(std::uint32_t* word, int op, std::uint32_t value, const timespec* timeout) {
    return ::syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free,
              "the state word must be lock-free to be shared between processes");

// Makes `folder` if missing and checks that it is a private folder of ours.
bool makePrivateFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0700) < 0 && errno != EEXIST) {
        error = "cannot make the simulated port's folder " + folder + ": " + systemReason(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) < 0) {
        error = "cannot look at the simulated port's folder " + folder + ": " + systemReason(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        error = "the simulated port's folder " + folder +
                " is not a private folder of this user (mode 0700); not using it";
        return false;
    }
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
    const auto fail = [&](const std::string& what) {
        error =
            portLabel(address) + " (simulated): " + what + " " + path + ": " + systemReason(errno);
        return nullptr;
    };
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return fail("cannot open");
    }
    struct stat info {};
    if (::fstat(fd, &info) < 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = S_ISREG(info.st_mode) ? errno : EINVAL;
        return fail("cannot use");
    }
    // Growing zero-fills; a file already long enough is left as it is, so a
    // second process opening it at the same time changes nothing.
    if (static_cast<std::size_t>(info.st_size) < kFileSize &&
        ::ftruncate(fd, static_cast<off_t>(kFileSize)) < 0) {
        ::close(fd);
        return fail("cannot size");
    }
    void* mapping = ::mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);  // the mapping keeps the file
    if (mapping == MAP_FAILED) {
        return fail("cannot map");
    }
    auto* bytes = static_cast<char*>(mapping);
    constexpr char kZero[sizeof kMagic] = {};
    if (std::memcmp(bytes, kZero, sizeof kMagic) == 0) {
        std::memcpy(bytes, kMagic, sizeof kMagic);  // new file; racing openers write the same
    } else if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) {
        ::munmap(mapping, kFileSize);
        error = portLabel(address) + " (simulated): " + path +
                " is not a simulated port's file (wrong magic); not touching it";
        return nullptr;
    }
    return std::make_unique<SimPort>(Mapped{}, address, path, mapping);
}

SimPort::SimPort(Mapped, std::uint16_t address, std::string path, void* mapping)
    : m_address(address), m_path(std::move(path)), m_mapping(mapping) {}

SimPort::~SimPort() {
    ::munmap(m_mapping, kFileSize);
}

std::uint32_t* SimPort::stateWord() const {
    return reinterpret_cast<std::uint32_t*>(static_cast<char*>(m_mapping) + kStateOffset);
}

std::uint32_t* SimPort::watcherWord() const {
    return reinterpret_cast<std::uint32_t*>(static_cast<char*>(m_mapping) + kWatcherOffset);
}

std::uint32_t SimPort::state() const {
    return std::atomic_ref<std::uint32_t>(*stateWord()).load(std::memory_order_acquire);
}

bool SimPort::write(std::uint8_t data, std::string&) {
    std::atomic_ref<std::uint32_t> word(*stateWord());
    std::uint32_t old = word.load(std::memory_order_relaxed);
    std::uint32_t next = 0;
    do {
        next = ((old & ~0xFFU) + 0x100U) | data;
    } while (!word.compare_exchange_weak(old, next, std::memory_order_seq_cst,
                                         std::memory_order_relaxed));
    // Pairs with waitForChange: it counts itself in before it looks at the
    // word, this looks at the count after changing the word (both seq_cst),
    // so either the waiter sees the new word or this sees the waiter.
    if (std::atomic_ref<std::uint32_t>(*watcherWord()).load() != 0) {
        wakeWatchers();
    }
    return true;
}

std::uint32_t SimPort::waitForChange(std::uint32_t seen, int timeoutMs) const {
    std::atomic_ref<std::uint32_t> watchers(*watcherWord());
    watchers.fetch_add(1);
    std::uint32_t now = std::atomic_ref<std::uint32_t>(*stateWord()).load();
    if (now == seen && timeoutMs > 0) {
        const timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
        // Returns at a wake-up, a signal, the timeout, or at once if the
        // word is no longer `seen`; the caller looks again in every case.
        (void)futex(stateWord(), FUTEX_WAIT, seen, &timeout);
        now = state();
    }
    watchers.fetch_sub(1);
    return now;
}

void SimPort::wakeWatchers() const {
    (void)futex(stateWord(), FUTEX_WAKE, INT_MAX, nullptr);
}

bool SimPort::read(std::uint8_t& data, std::string&) {
    data = byteOf(state());
    return true;
}

}  // namespace runlight::portio

#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "port_backend.h"
#include "result.h"
#include "sim_file.h"

namespace runlight::portio {

// A simulated port: its last byte kept in a small file that every process
// using it opens, so that the lamp monitor (any number of them) sees what the
// running light writes, whichever of them starts first, and across restarts
// of either. The file, in host byte order (it never leaves the machine), 16
// bytes:
//   bytes 0..7    magic "portio2\n"
//   bytes 8..11   change count: every write adds one (wrapping); readers
//                 sleep on it (a futex: the file is mapped shared for that)
//   bytes 12..15  the byte last written, in bits 0..7 (the rest 0)
//
// Whatever happens to the file, no process using it dies. The mapping is
// never touched by the program itself: a write is two futex operations that
// the kernel carries out on the mapped words (set the byte; add one to the
// count and wake the readers), and a reader reads with pread. The kernel
// answers a word it cannot reach (the file was cut short by someone) with an
// error, where the program's own load or store would get SIGBUS. So:
// - the file's blocks are allocated (posix_fallocate) before it is used, so
//   a full filesystem is an error at open, not a signal at the first write;
// - a file cut short while in use is grown back and the write made again
//   (cut inside its first page, where the kernel still reaches the words,
//   it is grown back at the next look at the path);
// - a file or folder removed or replaced is noticed by a writer within
//   kCheckPeriodMs (one stat of the path, at most that often; between checks
//   a write costs one read of the monotonic clock more), and the port
//   is made afresh, where the readers look for it too;
// - a reader holds no count of itself in the file that a killed reader could
//   leave behind: the writer wakes whoever sleeps in the same call that adds
//   to the count.
// Two writers at once (threads or processes) lose no count: each operation
// is atomic in the kernel.
class SimPort final : public PortBackend {
public:
    static constexpr std::size_t kFileSize = kSimFileSize;
    static constexpr int kCheckPeriodMs = 250;

    // Opens the file of `address` in `folder`, creating it (zero: lamps dark)
    // if need be. Reasons here and below leave the port out: the caller names
    // it (simLabel()) where the text leaves it.
    static Result<std::unique_ptr<SimPort>> open(std::uint16_t address, const std::string& folder);
    ~SimPort() override;
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    Result<void> write(std::uint8_t data) override;
    Result<std::uint8_t> read() override;
    std::string label() const override;  // "port 888 (0x378) (simulated)"

    struct State {
        std::uint32_t count = 0;  // changes at every write, even of the same byte
        std::uint8_t byte = 0;
        bool operator==(const State&) const = default;
    };
    // The state as it is now: the count first, then the byte, so that the
    // byte is never older than the count. Fails if the file cannot be read
    // whole (cut short).
    Result<State> look() const;

    // Blocks until the count differs from `seenCount`, `timeoutMs` (>= 0)
    // have passed, a wakeWatchers() or a signal; at once if the file has been
    // cut short. The caller looks again in every case. Any thread.
    void waitForChange(std::uint32_t seenCount, int timeoutMs) const;
    // Wakes every waitForChange on this port (of any process) without
    // writing. For stopping a watcher.
    void wakeWatchers() const;

    // Whether the path still names the file this port has open: fails,
    // saying what happened, once the file or its folder has been removed or
    // replaced. Looks at most once per kCheckPeriodMs (the answer in between
    // is the last one) unless `now` is set. One thread at a time.
    Result<void> inPlace(bool now = false);

    const std::string& path() const { return m_path; }

private:
    struct Opened {  // only open() hands out a descriptor and mapping
        explicit Opened() = default;
    };

public:
    SimPort(Opened, std::uint16_t address, std::string folder, SimFile file);

private:
    using Clock = std::chrono::steady_clock;

    Result<void> reopen();
    std::uint32_t* countWord() const;
    std::uint32_t* byteWord() const;
    int apply(std::uint8_t data) const;  // 0 or the errno of the failed operation

    std::uint16_t m_address;
    std::string m_folder;
    std::string m_path;
    SimFile m_file;
    Clock::time_point m_nextCheck;  // of the next look at the path
    bool m_inPlace = true;
    bool m_cut = false;  // the last look found the file shorter than kFileSize
};

// "port 888 (0x378) (simulated)": how messages name a simulated port.
std::string simLabel(std::uint16_t address);

// simFolder() and simFilePath(): see sim_file.h.

}  // namespace runlight::portio

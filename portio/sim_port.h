#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "port_backend.h"

namespace runlight::portio {

// A simulated port: its last byte kept in a small file mapped into every
// process that uses it, so that the lamp monitor (any number of them) sees
// what the running light writes, whichever of them starts first, and across
// restarts of either. The file, in host byte order (it never leaves the
// machine), 16 bytes:
//   bytes 0..7    magic "portio1\n"
//   bytes 8..11   state word: bits 0..7 the byte last written, bits 8..31 a
//                 change count that every write adds one to (wrapping)
//   bytes 12..15  watcher count: readers blocked in waitForChange right now
// The state word is one lock-free 32-bit atomic, so a reader never sees half
// a write and needs no lock; a writer replaces it with compare-and-swap, so
// even two writers at once lose no count. A reader that keeps the last word
// it saw knows whether anything was written since by comparing one word, or
// sleeps until then on a futex on that word (the mapping is shared, so the
// futex is too); a writer makes the wake-up call only while someone waits.
class SimPort final : public PortBackend {
public:
    static constexpr std::size_t kFileSize = 16;

    // Opens the file of `address` in `folder`, creating it (zero: lamps dark)
    // if need be. Returns null and sets `error` on failure.
    static std::unique_ptr<SimPort> open(std::uint16_t address, const std::string& folder,
                                         std::string& error);
    ~SimPort() override;
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    bool write(std::uint8_t data, std::string& error) override;
    bool read(std::uint8_t& data, std::string& error) override;

    // The state word as it is now (see above). Costs one memory read.
    std::uint32_t state() const;
    static std::uint8_t byteOf(std::uint32_t state) { return static_cast<std::uint8_t>(state); }

    // Blocks until the state word differs from `seen` or `timeoutMs` (ms,
    // >= 0) have passed, and returns the state word then. Any thread.
    std::uint32_t waitForChange(std::uint32_t seen, int timeoutMs) const;
    // Wakes every waitForChange on this port (of any process) without
    // writing; they return the unchanged word. For stopping a watcher.
    void wakeWatchers() const;

    const std::string& path() const { return m_path; }

private:
    struct Mapped {  // only open() hands out a mapping
        explicit Mapped() = default;
    };

public:
    SimPort(Mapped, std::uint16_t address, std::string path, void* mapping);

private:
    std::uint32_t* stateWord() const;
    std::uint32_t* watcherWord() const;

    std::uint16_t m_address;
    std::string m_path;
    void* m_mapping;
};

// The folder that holds the simulated ports: <runtimeDir>/portio when
// `runtimeDir` (XDG_RUNTIME_DIR) is an absolute path, else
// <tmpDir, else P_tmpdir>/portio-<uid>. Created (mode 0700) if missing, and refused
// unless it is a real folder of this user that nobody else may enter.
// Returns "" and sets `error` on failure.
std::string simFolder(const std::string& runtimeDir, const std::string& tmpDir, std::string& error);

// <folder>/port-<address>, address in decimal (port-888).
std::string simFilePath(const std::string& folder, std::uint16_t address);

}  // namespace runlight::portio

#pragma once

// The simulated port's file on disk: the private folder that holds it, and
// making, checking and mapping the file itself (its layout is described at
// SimPort). Reasons are given without the port's label: the caller says
// which port they are about.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "result.h"
#include "unique_fd.h"

namespace runlight::portio {

inline constexpr std::size_t kSimFileSize = 16;
inline constexpr off_t kSimCountOffset = 8;
inline constexpr off_t kSimByteOffset = 12;

// A shared mapping of a port's file, unmapped when its owner goes.
class SimMapping {
public:
    SimMapping() = default;
    explicit SimMapping(void* address) : m_address(address) {}
    ~SimMapping() { reset(); }
    SimMapping(SimMapping&& other) noexcept : m_address(std::exchange(other.m_address, nullptr)) {}
    SimMapping& operator=(SimMapping&& other) noexcept {
        if (this != &other) {
            reset();
            m_address = std::exchange(other.m_address, nullptr);
        }
        return *this;
    }
    SimMapping(const SimMapping&) = delete;
    SimMapping& operator=(const SimMapping&) = delete;

    // The word at `offset`: only ever handed to the kernel (futex), never
    // loaded or stored here (see SimPort).
    std::uint32_t* word(off_t offset) const {
        return reinterpret_cast<std::uint32_t*>(static_cast<char*>(m_address) + offset);
    }

private:
    void reset();
    void* m_address = nullptr;
};

// A port's file, open, prepared and mapped.
struct SimFile {
    UniqueFd fd;
    SimMapping mapping;
    std::uint64_t device = 0;  // st_dev and st_ino of the open file
    std::uint64_t inode = 0;
};

// Opens `folder` (made if missing when `makeFolder`) and the file of
// `address` in it (made if missing), prepared (see prepareSimFile) and mapped.
Result<SimFile> openSimFile(std::uint16_t address, const std::string& folder, bool makeFolder);

// Gives the file its kSimFileSize bytes with their blocks allocated, so that
// no later use needs a block the filesystem may not have, and the magic if
// it lacks it. A file that does not start as a port's file is left as it
// is, not even grown: EILSEQ. Growing zero-fills and never changes what is
// there, so processes doing this at once do no harm. Returns 0, or an errno.
int prepareSimFile(int fd);

// The folder that holds the simulated ports: <runtimeDir>/portio when
// `runtimeDir` (XDG_RUNTIME_DIR) is an absolute path, else
// <tmpDir, else P_tmpdir>/portio-<uid>. Created (mode 0700) if missing, and refused
// unless it is a real folder of this user that nobody else may enter.
// Fails saying why (without naming a port: the folder serves them all).
Result<std::string> simFolder(const std::string& runtimeDir, const std::string& tmpDir);

// <folder>/port-<address>, address in decimal (port-888).
std::string simFilePath(const std::string& folder, std::uint16_t address);

}  // namespace runlight::portio

#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "parport_finder.h"
#include "port_backend.h"

namespace runlight::portio {

// The system calls a real port is driven with; tests put a fake driver in
// their place. (open and ioctl are variadic, so these are plain wrappers.)
struct ParportDriver {
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*close)(int fd);
    int (*fstat)(int fd, struct stat* info);
    // PPCLAIM, waiting at most `timeoutMs`: 0, or -1 with errno (ETIMEDOUT
    // when the port stayed held). The system's is claimWithin().
    int (*claim)(int fd, int timeoutMs);

    static const ParportDriver& system();
};

// How long a claim may wait for a port that someone else holds, so that no
// PortOut waits 2 s: PPCLAIM itself waits as long as the holder keeps it.
inline constexpr int kClaimWaitMs = 1500;

// PPCLAIM on `fd` through `ioctl`, waiting at most `timeoutMs`. The driver
// offers no claim that gives up, and the wait cannot be cut short from
// another thread, so the claim is made by a short-lived child process that
// shares the open file (a claim belongs to the open file, not to a
// process): if it has not answered in time it is killed, which ends its
// wait, and the program goes on; no thread, signal handler or claim is left
// behind. Returns 0, or -1 with errno: the claim's own, or ETIMEDOUT.
int claimWithin(int fd, int timeoutMs, int (*ioctl)(int fd, unsigned long request, void* argument));

// Major device number of the kernel's ppdev devices (/dev/parportN is 99, N).
inline constexpr unsigned kPpdevMajor = 99;

// A real parallel port through the ppdev driver: opened and claimed at the
// first write, kept claimed, released and closed when destroyed (when the
// library is unloaded). The claim is the driver's shared one (PPCLAIM, never
// PPEXCL), so the lp printer driver may stay loaded beside it. Only the data
// register is touched, and only through PPWDATA/PPRDATA: no root, no ioperm,
// no /dev/port; an ordinary user in the group owning /dev/parportN will do.
class ParportDevice final : public PortBackend {
public:
    // Opens and claims `choice.device` for `address`. The device is known by
    // what it is, not by its name (a symlink or any other path will do): a
    // ppdev device, major 99, whose minor N is port parportN. Fails, with the
    // reason (the device and what to do; the port's label is the caller's to
    // add, see portLabel), if the device cannot be opened, is no ppdev device,
    // is held by another driver or program (looked up under `procRoot`),
    // stays held for kClaimWaitMs, or refuses the claim.
    static Result<std::unique_ptr<ParportDevice>> open(
        std::uint16_t address, const ParportChoice& choice, const std::string& procRoot,
        const ParportDriver& driver = ParportDriver::system());
    ~ParportDevice() override;
    ParportDevice(const ParportDevice&) = delete;
    ParportDevice& operator=(const ParportDevice&) = delete;

    Result<void> write(std::uint8_t data) override;
    Result<std::uint8_t> read() override;
    std::string label() const override;

private:
    struct Claimed {  // only open() hands out a claimed descriptor
        explicit Claimed() = default;
    };

public:
    ParportDevice(Claimed, std::uint16_t address, std::string device, int fd,
                  const ParportDriver& driver)
        : m_address(address), m_device(std::move(device)), m_fd(fd), m_driver(driver) {}

private:
    std::uint16_t m_address;
    std::string m_device;
    int m_fd;
    const ParportDriver& m_driver;
};

}  // namespace runlight::portio

#pragma once

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

    static const ParportDriver& system();
};

// A real parallel port through the ppdev driver: opened and claimed at the
// first write, kept claimed, released and closed when destroyed (when the
// library is unloaded). The claim is the driver's shared one (PPCLAIM, never
// PPEXCL), so the lp printer driver may stay loaded beside it. Only the data
// register is touched, and only through PPWDATA/PPRDATA: no root, no ioperm,
// no /dev/port; an ordinary user in the group owning /dev/parportN will do.
class ParportDevice final : public PortBackend {
public:
    // Opens and claims `choice.device` for `address`. Returns null and sets
    // `error` if the device cannot be opened, is held by another driver or
    // program (looked up under `procRoot`), or refuses the claim.
    static std::unique_ptr<ParportDevice> open(
        std::uint16_t address, const ParportChoice& choice, const std::string& procRoot,
        std::string& error, const ParportDriver& driver = ParportDriver::system());
    ~ParportDevice() override;
    ParportDevice(const ParportDevice&) = delete;
    ParportDevice& operator=(const ParportDevice&) = delete;

    bool write(std::uint8_t data, std::string& error) override;
    bool read(std::uint8_t& data, std::string& error) override;

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

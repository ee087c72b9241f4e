#include "parport_device.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace runlight::portio {

const ParportDriver& ParportDriver::system() {
    static const ParportDriver driver{
        [](const char* path, int flags) { return ::open(path, flags); },
        [](int fd, unsigned long request, void* argument) {
            return ::ioctl(fd, request, argument);
        },
        [](int fd) { return ::close(fd); }};
    return driver;
}

namespace {
// ioctl, again after a signal (PPCLAIM sleeps while someone else holds the port).
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

std::unique_ptr<ParportDevice> ParportDevice::open(std::uint16_t address,
                                                   const ParportChoice& choice,
                                                   const std::string& procRoot, std::string& error,
                                                   const ParportDriver& driver) {
    const int fd = driver.open(choice.device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int errnum = errno;
        error = portLabel(address) + ": cannot open " + choice.device + ": " +
                systemReason(errnum) + openHint(errnum);
        return nullptr;
    }
    // PPCLAIM waits, without end, while another driver or program holds the
    // port; the driver says who does, so ask first and report instead of
    // hanging the caller. (A claim taken in the instant between the two is
    // waited for; the lp driver holds the port only while it prints.)
    const std::string holder = parportHolder(procRoot, choice.number);
    if (!holder.empty()) {
        error = portLabel(address) + ": cannot claim " + choice.device + ": the port is held by " +
                holder + " (the lp printer driver while printing, or another program)";
        driver.close(fd);
        return nullptr;
    }
    if (retryIoctl(driver, fd, PPCLAIM, nullptr) < 0) {
        error = portLabel(address) + ": cannot claim " + choice.device +
                " (PPCLAIM): " + systemReason(errno);
        driver.close(fd);
        return nullptr;
    }
    return std::make_unique<ParportDevice>(Claimed{}, address, choice.device, fd, driver);
}

ParportDevice::~ParportDevice() {
    // Nobody is left to hear of a failed release; closing drops the claim anyway.
    (void)retryIoctl(m_driver, m_fd, PPRELEASE, nullptr);
    m_driver.close(m_fd);
}

bool ParportDevice::write(std::uint8_t data, std::string& error) {
    unsigned char byte = data;
    if (retryIoctl(m_driver, m_fd, PPWDATA, &byte) < 0) {
        error = portLabel(m_address) + ": writing " + m_device +
                " (PPWDATA) failed: " + systemReason(errno);
        return false;
    }
    return true;
}

bool ParportDevice::read(std::uint8_t& data, std::string& error) {
    unsigned char byte = 0;
    if (retryIoctl(m_driver, m_fd, PPRDATA, &byte) < 0) {
        error = portLabel(m_address) + ": reading " + m_device +
                " (PPRDATA) failed: " + systemReason(errno);
        return false;
    }
    data = byte;
    return true;
}

}  // namespace runlight::portio

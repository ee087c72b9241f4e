// The real parallel port through the ppdev driver: what its errors say, and
// the exact calls it makes, against a driver in memory (and, for the claim's
// bound, a real child process).

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "parport_device.h"
#include "parport_finder.h"
#include "port_io.h"
#include "port_status.h"
#include "port_trees.h"
#include "temp_folder.h"

namespace runlight::portio {
namespace {

using runlight::testing::addPort;
using runlight::testing::settingsFor;
using runlight::testing::TempFolder;
using ::testing::HasSubstr;

// Tests run as root, so no permission bit refuses an open: each failure here
// is made with a path that really fails.
TEST(ParportDevice, ErrorsNameThePortTheDeviceAndTheReason) {
    TempFolder root;
    addPort(root, 0, "888\t1912\n");
    TempFolder runtime;
    const auto openWith = [&](const std::string& device) {
        auto settings = settingsFor("parport", root.path(), runtime.path());
        settings.device = device;
        PortIo io(settings);
        io.out(888, 1);
        const std::string error = io.lastError();
        EXPECT_THAT(error, HasSubstr("port 888 (0x378): "));
        EXPECT_THAT(error, HasSubstr(device));
        return error;
    };

    const std::string missing = openWith(root / "dev/parport0");
    EXPECT_THAT(missing, HasSubstr("No such file or directory"));
    EXPECT_THAT(missing, HasSubstr("modprobe ppdev"));

    ASSERT_EQ(::mkdir((root / "dev").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root / "dev/parport0").c_str(), 0755), 0);
    EXPECT_THAT(openWith(root / "dev/parport0"), HasSubstr("cannot open"));
    EXPECT_THAT(openWith(root / "dev/parport0"), HasSubstr("Is a directory"));

    root.write("dev/parport1", "");  // opens, but is no port: known by what it is
    EXPECT_THAT(openWith(root / "dev/parport1"),
                HasSubstr("is not a parallel port device (ppdev, major 99)"));
    EXPECT_THAT(openWith("/dev/null"), HasSubstr("is not a parallel port device"));
}

// A ppdev driver in memory: it records every call, holds a data register,
// and fails the requests it is told to, in order, with the errno given.
struct FakeDriver {
    static inline std::vector<std::string> calls;
    static inline unsigned char dataRegister = 0;
    static inline std::map<unsigned long, std::vector<int>> failures;

    static std::string name(unsigned long request) {
        switch (request) {
            case PPCLAIM:
                return "PPCLAIM";
            case PPRELEASE:
                return "PPRELEASE";
            case PPWDATA:
                return "PPWDATA";
            case PPRDATA:
                return "PPRDATA";
            default:
                return "ioctl " + std::to_string(request);
        }
    }
    static int open(const char* path, int) {
        calls.push_back(std::string("open ") + path);
        return 42;
    }
    static int ioctl(int fd, unsigned long request, void* argument) {
        EXPECT_EQ(fd, 42);
        auto& pending = failures[request];
        if (!pending.empty()) {
            errno = pending.front();
            pending.erase(pending.begin());
            calls.push_back(name(request) + " failed");
            return -1;
        }
        auto* byte = static_cast<unsigned char*>(argument);
        if (request == PPWDATA) {
            dataRegister = *byte;
            calls.push_back("PPWDATA " + std::to_string(*byte));
        } else {
            if (request == PPRDATA) {
                *byte = dataRegister;
            }
            calls.push_back(name(request));
        }
        return 0;
    }
    static int close(int fd) {
        calls.push_back("close " + std::to_string(fd));
        return 0;
    }
    static inline unsigned minorNumber = 0;  // the device is parport<minorNumber>
    static int fstat(int, struct stat* info) {
        *info = {};
        info->st_mode = S_IFCHR | 0660;
        info->st_rdev = makedev(kPpdevMajor, minorNumber);
        return 0;
    }
    static int claim(int fd, int) { return ioctl(fd, PPCLAIM, nullptr); }
    static void reset() {
        calls.clear();
        failures.clear();
        dataRegister = 0;
        minorNumber = 0;
    }
};
using Calls = std::vector<std::string>;

const ParportDriver kFakeDriver{&FakeDriver::open, &FakeDriver::ioctl, &FakeDriver::close,
                                &FakeDriver::fstat, &FakeDriver::claim};

// A port held by someone else is reported at once, not waited for, whatever
// path names the device: the holder is found by the device's number (here a
// symlink-like name for parport3, which the driver says lp0 holds).
TEST(ParportDevice, AHeldPortIsReportedAtOnceWhateverPathNamesIt) {
    FakeDriver::reset();
    FakeDriver::minorNumber = 3;
    TempFolder root;
    addPort(root, 0, "888\t1912\n");
    addPort(root, 3, "53264\t53272\n", "lp0\n");
    TempFolder runtime;
    auto settings = settingsFor("parport", root.path(), runtime.path());
    settings.device = "/dev/my-lamps";
    settings.driver = &kFakeDriver;
    PortIo io(settings);
    io.out(888, 1);
    EXPECT_EQ(io.lastError(),
              "port 888 (0x378): cannot claim /dev/my-lamps: the port is held by lp0 (the lp "
              "printer driver while printing, or another program)");
    EXPECT_EQ(FakeDriver::calls, (Calls{"open /dev/my-lamps", "close 42"})) << "no PPCLAIM";
    const PortStatus status = portStatus(888, settings);
    EXPECT_FALSE(status.reachable);
    EXPECT_THAT(status.text, HasSubstr("not reachable: " + io.lastError() + "\n"))
        << "--status finds what a write finds";
}

// The claim's bound, with a real child process: one that never returns (as
// PPCLAIM on a held port) is given up after the time given, and killed; a
// refusal and a success come back as they are.
int claimNeverReturns(int, unsigned long, void*) {
    for (;;) {
        ::pause();
    }
}
int claimRefused(int, unsigned long, void*) {
    errno = EBUSY;
    return -1;
}
int claimGranted(int, unsigned long request, void*) {
    return request == PPCLAIM ? 0 : -1;
}

TEST(ParportDevice, AClaimThatWaitsIsGivenUpInTimeAndOthersComeBackAsTheyAre) {
    errno = 0;
    EXPECT_EQ(claimWithin(0, 200, &claimNeverReturns), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(claimWithin(0, 5000, &claimRefused), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(claimWithin(0, 5000, &claimGranted), 0);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no child left behind";
    EXPECT_EQ(errno, ECHILD);
}

TEST(ParportDevice, ClaimsOnceKeepsItWritesWithPpwdataOnlyAndReleasesAtTheEnd) {
    FakeDriver::reset();
    TempFolder root;
    addPort(root, 0, "888\t1912\n");
    TempFolder runtime;
    auto settings = settingsFor("auto", root.path(), runtime.path());
    settings.driver = &kFakeDriver;
    {
        PortIo io(settings);
        EXPECT_TRUE(FakeDriver::calls.empty()) << "nothing before the first call";
        io.out(888, 0);
        io.out(888, 0xA5);
        EXPECT_EQ(io.in(888), 0xA5);
        EXPECT_EQ(io.lastError(), "");
    }
    const std::string device = root / "dev/parport0";
    EXPECT_EQ(FakeDriver::calls, (Calls{"open " + device, "PPCLAIM", "PPWDATA 0", "PPWDATA 165",
                                        "PPRDATA", "PPRELEASE", "close 42"}));
    EXPECT_FALSE(std::filesystem::exists(runtime / "portio/port-888"));
}

TEST(ParportDevice, FailedCallsAreReportedAndTheNextWriteStartsAfresh) {
    FakeDriver::reset();
    TempFolder root;
    addPort(root, 0, "888\t1912\n");
    TempFolder runtime;
    auto settings = settingsFor("parport", root.path(), runtime.path());
    settings.driver = &kFakeDriver;
    const std::string device = root / "dev/parport0";
    PortIo io(settings);

    FakeDriver::failures[PPCLAIM] = {EINTR, EBUSY};  // a signal, then a refusal
    io.out(888, 1);
    EXPECT_EQ(io.lastError(),
              "port 888 (0x378): cannot claim " + device + " (PPCLAIM): Device or resource busy");
    EXPECT_EQ(FakeDriver::calls,
              (Calls{"open " + device, "PPCLAIM failed", "PPCLAIM failed", "close 42"}));

    FakeDriver::calls.clear();
    FakeDriver::failures[PPWDATA] = {EIO};
    io.out(888, 2);
    EXPECT_EQ(io.lastError(),
              "port 888 (0x378): writing " + device + " (PPWDATA) failed: Input/output error");
    io.out(888, 3);
    EXPECT_EQ(io.lastError(), "");
    EXPECT_EQ(FakeDriver::calls, (Calls{"open " + device, "PPCLAIM", "PPWDATA failed", "PPRELEASE",
                                        "close 42", "open " + device, "PPCLAIM", "PPWDATA 3"}));
}

}  // namespace
}  // namespace runlight::portio

// The port library's inside, against trees and folders of the tests' own: how
// an address finds its device, which back end serves a port, what the errors
// say, the simulated port's shared file, and the trace.

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "parport_device.h"
#include "parport_finder.h"
#include "port_chooser.h"
#include "port_io.h"
#include "port_status.h"
#include "sim_port.h"
#include "sim_port_look.h"
#include "temp_folder.h"
#include "trace.h"

namespace runlight::portio {
namespace {

using runlight::testing::fileLines;
using runlight::testing::openedSim;
using runlight::testing::stateOf;
using runlight::testing::succeeded;
using runlight::testing::TempFolder;
using ::testing::HasSubstr;

// A /proc tree with the given ports: {number, "base-addr contents"}.
void addPort(const TempFolder& proc, int number, const std::string& baseAddr,
             const std::string& active = "none\n") {
    const std::string folder = "sys/dev/parport/parport" + std::to_string(number);
    proc.write(folder + "/base-addr", baseAddr);
    proc.write(folder + "/devices/active", active);
}

TEST(ParportFinder, PicksThePortWhoseBaseAddressMatches) {
    TempFolder proc;
    addPort(proc, 0, "956\t1980\n");  // 0x3BC
    addPort(proc, 1, "888\t1912\n");
    addPort(proc, 2, "53264\t53272\n");  // a PCIe card at 0xD010
    proc.write("sys/dev/parport/default/timeslice", "200\n");

    const auto at888 = findParport(888, proc.path(), "/dev", "");
    ASSERT_TRUE(at888);
    EXPECT_EQ(at888->device, "/dev/parport1");
    EXPECT_EQ(at888->number, 1);
    EXPECT_EQ(at888->rule, ParportChoice::Rule::Address);

    const auto card = findParport(0xD010, proc.path(), "/dev", "");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->device, "/dev/parport2");
    EXPECT_FALSE(findParport(0x278, proc.path(), "/dev", "")) << "no port, and 0x278 is not 888";
}

TEST(ParportFinder, TakesTheFirstPortFor888WhenNoneHasThatAddress) {
    TempFolder proc;
    addPort(proc, 2, "53264\t53272\n");
    addPort(proc, 1, "49152\t49160\n");
    const auto first = findParport(888, proc.path(), "/dev", "");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->device, "/dev/parport1") << "the lowest-numbered port is the first one";
    EXPECT_EQ(first->rule, ParportChoice::Rule::FirstPort);
    EXPECT_FALSE(findParport(0x278, proc.path(), "/dev", ""));
}

TEST(ParportFinder, TheDeviceOverrideWinsAndAMissingDriverListsNothing) {
    TempFolder proc;
    addPort(proc, 0, "888\t1912\n");
    const auto chosen = findParport(888, proc.path(), "/dev", "/dev/parport3");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->device, "/dev/parport3");
    EXPECT_EQ(chosen->number, 3);
    EXPECT_EQ(chosen->rule, ParportChoice::Rule::Override);

    TempFolder empty;
    EXPECT_TRUE(listParports(empty.path()).empty());
    EXPECT_FALSE(findParport(888, empty.path(), "/dev", ""));
}

Settings settingsFor(const std::string& backend, const std::string& procRoot,
                     const std::string& runtimeDir = "") {
    Settings settings;
    settings.backend = backend;
    settings.procRoot = procRoot;
    settings.devRoot = procRoot + "/dev";
    settings.runtimeDir = runtimeDir;
    return settings;
}

TEST(PortChooser, AutoTakesTheRealPortWhenThereIsOneElseTheSimulation) {
    TempFolder none;
    TempFolder withPort;
    addPort(withPort, 0, "888\t1912\n");
    EXPECT_EQ(choose(888, settingsFor("", none.path())).kind, Choice::Kind::Sim);
    EXPECT_EQ(choose(888, settingsFor("auto", none.path())).kind, Choice::Kind::Sim);
    EXPECT_EQ(choose(888, settingsFor("auto", withPort.path())).kind, Choice::Kind::Parport);
    EXPECT_EQ(choose(888, settingsFor("sim", withPort.path())).kind, Choice::Kind::Sim);

    auto overridden = settingsFor("auto", none.path());
    overridden.device = "/dev/parport7";
    const auto choice = choose(888, overridden);
    EXPECT_EQ(choice.kind, Choice::Kind::Parport)
        << "a named device is a request for the real port";
    EXPECT_EQ(choice.parport.device, "/dev/parport7");
}

TEST(PortChooser, ParportWithoutAPortAndUnknownValuesAreErrors) {
    TempFolder none;
    const auto missing = choose(888, settingsFor("parport", none.path()));
    EXPECT_EQ(missing.kind, Choice::Kind::Error);
    EXPECT_THAT(missing.error, HasSubstr("port 888 (0x378)"));
    EXPECT_THAT(missing.error, HasSubstr("no parallel port found"));
    EXPECT_THAT(missing.error,
                HasSubstr("USB-to-parallel printer cables cannot drive the data lines"));

    TempFolder other;
    addPort(other, 0, "53264\t53272\n");
    const auto elsewhere = choose(0x278, settingsFor("parport", other.path()));
    EXPECT_THAT(elsewhere.error, HasSubstr("PORTIO_DEVICE")) << "says how to pick the card's port";

    const auto garbage = choose(888, settingsFor("paralel", none.path()));
    EXPECT_EQ(garbage.kind, Choice::Kind::Error);
    EXPECT_THAT(garbage.error, HasSubstr("PORTIO_BACKEND=paralel"));
    EXPECT_THAT(garbage.error, HasSubstr("auto, parport, sim"));
}

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

// Reads the byte of a simulated port straight from its shared file.
std::uint8_t simByte(const std::string& runtimeDir, std::uint16_t address = 888) {
    std::string error;
    const auto port = openedSim(address, simFolder(runtimeDir, "", error));
    return port ? stateOf(*port).byte : 0;
}

TEST(PortIo, AutoWithoutAPortWritesTheSimulatedPortAndReadsItBack) {
    TempFolder none;
    TempFolder runtime;
    PortIo io(settingsFor("auto", none.path(), runtime.path()));
    io.out(888, 0xA5);
    EXPECT_EQ(io.lastError(), "");
    EXPECT_EQ(io.in(888), 0xA5);
    EXPECT_EQ(simByte(runtime.path()), 0xA5);
    io.out(-12272, 7);  // 0xD010 travels as a negative 16-bit number
    EXPECT_EQ(simByte(runtime.path(), 0xD010), 7);
    EXPECT_EQ(simByte(runtime.path()), 0xA5) << "each port has its own byte";
}

TEST(PortIo, ARefusedRealPortIsAnErrorAndNeverFallsBackToTheSimulation) {
    TempFolder root;
    addPort(root, 0, "888\t1912\n");  // listed, but no /dev/parport0
    TempFolder runtime;
    PortIo sim(settingsFor("sim", root.path(), runtime.path()));
    sim.out(888, 0x11);

    for (const std::string backend : {"auto", "parport", "bogus"}) {
        PortIo io(settingsFor(backend, root.path(), runtime.path()));
        io.out(888, 0x22);
        EXPECT_THAT(io.lastError(), HasSubstr("port 888 (0x378)")) << backend;
        io.out(888, 0x33);  // tried again from the start, and refused again
        EXPECT_NE(io.lastError(), "") << backend;
        EXPECT_EQ(simByte(runtime.path()), 0x11) << backend << " wrote to the simulated port";
    }
    TempFolder none;
    PortIo parport(settingsFor("parport", none.path(), runtime.path()));
    parport.out(888, 0x44);
    EXPECT_THAT(parport.lastError(), HasSubstr("USB-to-parallel"));
    EXPECT_EQ(simByte(runtime.path()), 0x11);

    sim.out(888, 0x55);
    EXPECT_EQ(sim.lastError(), "") << "a later success clears the report";
}

TEST(Trace, EveryPortOutAppendsTimePortAndByteInDecimal) {
    TempFolder none;
    TempFolder runtime;
    auto settings = settingsFor("sim", none.path(), runtime.path());
    settings.trace = runtime / "trace.txt";
    runtime.write("trace.txt", "earlier line\n");  // appended to, never truncated
    const std::uint64_t before = monotonicNow();
    {
        PortIo io(settings);
        io.out(888, 0);
        io.out(888, 165);
        io.out(-12272, 255);
    }
    const std::uint64_t after = monotonicNow();
    EXPECT_EQ(traceLine(1234567890, 888, 165), "1234567890 888 165\n");

    const auto lines = fileLines(settings.trace);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "earlier line");
    std::uint64_t previous = before;
    const std::pair<unsigned, unsigned> expected[] = {{888, 0}, {888, 165}, {53264, 255}};
    for (std::size_t i = 0; i < 3; ++i) {
        std::istringstream fields(lines[i + 1]);
        std::uint64_t time = 0;
        unsigned port = 0;
        unsigned byte = 0;
        std::string rest;
        ASSERT_TRUE(fields >> time >> port >> byte) << lines[i + 1];
        EXPECT_FALSE(fields >> rest) << "three fields only: " << lines[i + 1];
        EXPECT_GE(time, previous);
        EXPECT_LE(time, after);
        EXPECT_EQ(std::make_pair(port, byte), expected[i]);
        previous = time;
    }
}

TEST(Trace, AnUnopenableTraceIsToldOnceOnStandardErrorNeverAsAFailedWrite) {
    TempFolder none;
    TempFolder runtime;
    auto settings = settingsFor("sim", none.path(), runtime.path());
    settings.trace = runtime / "no-such-folder/trace.txt";
    PortIo io(settings);
    ::testing::internal::CaptureStderr();
    io.out(888, 9);
    EXPECT_EQ(io.lastError(), "") << "the byte landed";
    EXPECT_EQ(simByte(runtime.path()), 9);
    io.out(888, 10);
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(io.lastError(), "");
    EXPECT_EQ(simByte(runtime.path()), 10);
    EXPECT_THAT(told, HasSubstr(settings.trace));
    EXPECT_THAT(told, HasSubstr("No such file or directory"));
    EXPECT_EQ(told.find(settings.trace), told.rfind(settings.trace)) << "told once: " << told;
}

TEST(SimPort, EveryWriteCountsEvenTheSameByteAgain) {
    TempFolder runtime;
    std::string error;
    const std::string folder = simFolder(runtime.path(), "", error);
    const auto writer = openedSim(888, folder);
    const auto reader = openedSim(888, folder);
    ASSERT_TRUE(writer && reader) << error;
    EXPECT_EQ(stateOf(*reader), SimPort::State{}) << "a new port starts dark";
    ASSERT_TRUE(succeeded(writer->write(0xA5)));
    const auto first = stateOf(*reader);
    ASSERT_TRUE(succeeded(writer->write(0xA5)));
    const auto second = stateOf(*reader);
    EXPECT_EQ(first.byte, 0xA5);
    EXPECT_EQ(second.byte, 0xA5);
    EXPECT_NE(first.count, second.count);
}

TEST(SimPort, AWaitingReaderReturnsWithTheNewCount) {
    TempFolder runtime;
    std::string error;
    const std::string folder = simFolder(runtime.path(), "", error);
    const auto writer = openedSim(888, folder);
    const auto reader = openedSim(888, folder);
    ASSERT_TRUE(writer && reader) << error;
    constexpr int kLongMs = 60000;  // only a hang would reach it

    const auto start = stateOf(*reader);
    ASSERT_TRUE(succeeded(writer->write(1)));
    reader->waitForChange(start.count, kLongMs);  // missed write: returns at once
    EXPECT_EQ(stateOf(*reader).byte, 1);

    // Whether the waiter is asleep before the write or not, it returns with it.
    const auto seen = stateOf(*reader);
    SimPort::State woken;
    std::thread waiter([&] {
        reader->waitForChange(seen.count, kLongMs);
        woken = stateOf(*reader);
    });
    EXPECT_TRUE(succeeded(writer->write(2)));
    waiter.join();
    EXPECT_EQ(woken.byte, 2);
    EXPECT_NE(woken.count, seen.count);
}

// The descriptors this process has open now.
std::size_t openDescriptors() {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

TEST(SimPort, AFileThatIsNotASimulatedPortIsLeftAlone) {
    TempFolder runtime;
    std::string error;
    const std::string folder = simFolder(runtime.path(), "", error);
    const std::string stranger = "something else entirely\n";
    runtime.write("portio/port-888", stranger);
    const std::size_t descriptorsBefore = openDescriptors();
    const auto stranger888 = SimPort::open(888, folder);
    ASSERT_FALSE(stranger888);
    EXPECT_THAT(stranger888.error(), HasSubstr("port-888"));
    EXPECT_EQ(fileLines(runtime / "portio/port-888"),
              std::vector<std::string>{"something else entirely"});

    runtime.write("portio/port-889", "hi");
    EXPECT_FALSE(SimPort::open(889, folder));
    EXPECT_EQ(std::filesystem::file_size(runtime / "portio/port-889"), 2u) << "not even grown";
    EXPECT_EQ(openDescriptors(), descriptorsBefore) << "neither the file nor its folder left open";
}

TEST(SimFolder, RuntimeDirElseAPrivateTempFolderAndNeverAnOpenOne) {
    TempFolder runtime;
    TempFolder tmp;
    std::string error;
    EXPECT_EQ(simFolder(runtime.path(), tmp.path(), error), runtime / "portio");
    struct stat info {};
    ASSERT_EQ(::stat((runtime / "portio").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const std::string fallback = tmp / ("portio-" + std::to_string(::geteuid()));
    EXPECT_EQ(simFolder("", tmp.path(), error), fallback);
    EXPECT_EQ(simFolder("relative/dir", tmp.path(), error), fallback)
        << "a relative XDG_RUNTIME_DIR is ignored";

    ASSERT_EQ(::chmod(fallback.c_str(), 0755), 0);
    EXPECT_EQ(simFolder("", tmp.path(), error), "");
    EXPECT_THAT(error, HasSubstr("not a private folder"));
}

// Runs portio-out with the simulated port in `runtimeDir`; returns its output.
std::string runPortioOut(const std::string& runtimeDir, const std::string& arguments) {
    const std::string command = "env PORTIO_BACKEND=sim XDG_RUNTIME_DIR=" + runtimeDir +
                                " " PORTIO_OUT_PATH " " + arguments;
    FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    EXPECT_EQ(pipe != nullptr ? ::pclose(pipe) : -1, 0) << command;
    return output;
}

TEST(SimPort, AWriteInOneProcessIsReadInAnother) {
    TempFolder runtime;
    runPortioOut(runtime.path(), "0x5A");
    EXPECT_EQ(simByte(runtime.path()), 0x5A);

    std::string error;
    const auto port = openedSim(888, simFolder(runtime.path(), "", error));
    ASSERT_TRUE(port) << error;
    ASSERT_TRUE(succeeded(port->write(0xC3)));
    EXPECT_EQ(runPortioOut(runtime.path(), "--read"), "0xC3\n");
}

}  // namespace
}  // namespace runlight::portio

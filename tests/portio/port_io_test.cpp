// A port's write path as PortIo takes it: the simulated port (its shared
// file, its folder, a write seen by another process), and the trace line
// every PortOut leaves.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "port_io.h"
#include "port_trees.h"
#include "sim_port.h"
#include "sim_port_look.h"
#include "temp_folder.h"
#include "trace.h"

namespace runlight::portio {
namespace {

using runlight::testing::addPort;
using runlight::testing::fileLines;
using runlight::testing::openedSim;
using runlight::testing::settingsFor;
using runlight::testing::simFolderIn;
using runlight::testing::stateOf;
using runlight::testing::succeeded;
using runlight::testing::TempFolder;
using ::testing::HasSubstr;

// Reads the byte of a simulated port straight from its shared file.
std::uint8_t simByte(const std::string& runtimeDir, std::uint16_t address = 888) {
    const auto port = openedSim(address, simFolder(runtimeDir, "").value_or(""));
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
    const std::string folder = simFolderIn(runtime);
    const auto writer = openedSim(888, folder);
    const auto reader = openedSim(888, folder);
    ASSERT_TRUE(writer && reader);
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
    const std::string folder = simFolderIn(runtime);
    const auto writer = openedSim(888, folder);
    const auto reader = openedSim(888, folder);
    ASSERT_TRUE(writer && reader);
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
    const std::string folder = simFolderIn(runtime);
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
    EXPECT_EQ(simFolder(runtime.path(), tmp.path()).value_or(""), runtime / "portio");
    struct stat info {};
    ASSERT_EQ(::stat((runtime / "portio").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const std::string fallback = tmp / ("portio-" + std::to_string(::geteuid()));
    EXPECT_EQ(simFolder("", tmp.path()).value_or(""), fallback);
    EXPECT_EQ(simFolder("relative/dir", tmp.path()).value_or(""), fallback)
        << "a relative XDG_RUNTIME_DIR is ignored";

    ASSERT_EQ(::chmod(fallback.c_str(), 0755), 0);
    const auto refused = simFolder("", tmp.path());
    ASSERT_FALSE(refused);
    EXPECT_THAT(refused.error(), HasSubstr("not a private folder"));
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
    const auto port = openedSim(888, simFolder(runtime.path(), "").value_or(""));
    ASSERT_TRUE(port);
    ASSERT_TRUE(succeeded(port->write(0xC3)));
    EXPECT_EQ(runPortioOut(runtime.path(), "--read"), "0xC3\n");
}

}  // namespace
}  // namespace runlight::portio

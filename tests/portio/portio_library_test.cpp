// The built libportio.so.1 as the running light uses it: loaded by name
// through the program's own binding code, its START and ticks landing in the
// simulated port and the trace; and what loading and unloading it does.
// Each test points the library at a fresh folder of its own.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dynamic_library.h"
#include "fake_window.h"
#include "port_library.h"
#include "step_sequencer.h"
#include "temp_folder.h"

namespace runlight {
namespace {

using testing::FakeWindow;
using testing::fileLines;
using ::testing::HasSubstr;
using testing::TempFolder;

class PortioLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("PORTIO_BACKEND", "sim", 1);
        ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
        ::setenv("PORTIO_TRACE", tracePath().c_str(), 1);
        ::unsetenv("PORTIO_DEVICE");
    }

    std::string tracePath() const { return m_runtime / "trace.txt"; }

    // The simulated port 888 as another program sees it: the shared file.
    int simulatedByte() const {
        std::ifstream file(m_runtime / "portio/port-888", std::ios::binary);
        char bytes[16] = {};
        if (!file.read(bytes, sizeof bytes)) {
            return -1;
        }
        EXPECT_EQ(std::string(bytes, 8), "portio2\n");
        return static_cast<unsigned char>(bytes[12]);
    }

    // The trace's lines without their times: "888 165".
    std::vector<std::string> tracedWrites() const {
        std::vector<std::string> writes;
        for (const auto& line : fileLines(tracePath())) {
            writes.push_back(line.substr(line.find(' ') + 1));
        }
        return writes;
    }

    TempFolder m_runtime;
};

// Looks up an export of an already loaded library.
template <typename Fn>
Fn exported(const std::optional<DynamicLibrary>& library, const char* name) {
    auto function = library->function<Fn>(name);
    EXPECT_TRUE(function) << (function ? "" : function.error());
    return function ? *function : nullptr;
}

// Loads the library as the program does; empty (and the test failed) if it cannot.
std::optional<DynamicLibrary> load() {
    auto library = openPortLibrary(kPortLibraryName);
    EXPECT_TRUE(library) << (library ? "" : library.error());
    return library ? std::optional<DynamicLibrary>(std::move(*library)) : std::nullopt;
}

TEST_F(PortioLibrary, StartAndTicksOfTheRunningLightLandInTheSimulatedPortAndTheTrace) {
    FakeWindow window;
    PortLibrary library;  // libportio.so.1, by name, as the program binds it
    StepSequencer seq{window, library};
    seq.Form_Load();
    window.enableOnly({1, 3});
    window.setStepByte(0, 0xA5);
    window.setStepByte(2, 0x3C);

    seq.Start_Stop_Click();
    ASSERT_TRUE(library.isBound()) << (window.reports.empty() ? "" : window.reports.front());
    EXPECT_EQ(simulatedByte(), 0);
    seq.Timer1_Timer();
    EXPECT_EQ(simulatedByte(), 0xA5);
    seq.Timer1_Timer();
    EXPECT_EQ(simulatedByte(), 0x3C);
    EXPECT_TRUE(window.reports.empty());

    auto handle = load();  // the same loaded library
    ASSERT_TRUE(handle);
    EXPECT_EQ(exported<std::uint8_t (*)(std::int16_t)>(handle, "PortIn")(888), 0x3C);
    handle.reset();

    EXPECT_EQ(tracedWrites(), (std::vector<std::string>{"888 0", "888 165", "888 60"}));
}

// Whether a library of this file name is mapped into the process now.
bool mapped(const std::string& fileName) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.size() > fileName.size() && line.compare(line.size() - fileName.size() - 1,
                                                          std::string::npos, "/" + fileName) == 0) {
            return true;
        }
    }
    return false;
}

TEST_F(PortioLibrary, LoadingDoesNothingAndUnloadingDropsTheLibraryWhole) {
    auto handle = load();
    ASSERT_TRUE(handle);
    ASSERT_TRUE(mapped(kPortLibraryName)) << "the check below would see nothing";
    EXPECT_FALSE(std::filesystem::exists(m_runtime / "portio")) << "nothing before the first call";
    EXPECT_FALSE(std::filesystem::exists(tracePath()));

    auto portOut = exported<void (*)(std::int16_t, std::uint8_t)>(handle, "PortOut");
    auto lastError = exported<const char* (*)()>(handle, "PortLastError");
    EXPECT_STREQ(lastError(), "") << "no report before the first call";
    portOut(888, 1);
    EXPECT_STREQ(lastError(), "");
    ::setenv("PORTIO_BACKEND", "nonsense", 1);
    portOut(888, 2);
    EXPECT_STREQ(lastError(), "") << "the settings are read once, at the first call";
    handle.reset();
    EXPECT_FALSE(mapped(kPortLibraryName))
        << "still loaded after dlclose: its ports would stay claimed";

    handle = load();
    ASSERT_TRUE(handle);
    portOut = exported<void (*)(std::int16_t, std::uint8_t)>(handle, "PortOut");
    lastError = exported<const char* (*)()>(handle, "PortLastError");
    portOut(888, 3);
    EXPECT_THAT(lastError(), HasSubstr("PORTIO_BACKEND=nonsense"));
    EXPECT_EQ(simulatedByte(), 2);
    handle.reset();
}

TEST_F(PortioLibrary, ATraceThatCannotBeWrittenNeverStopsTheRunningLight) {
    ::setenv("PORTIO_TRACE", m_runtime.path().c_str(), 1);  // a folder: no file opens there
    FakeWindow window;
    PortLibrary library;
    StepSequencer seq{window, library};
    seq.Form_Load();
    window.enableOnly({1});
    window.setStepByte(0, 0x81);
    ::testing::internal::CaptureStderr();
    seq.Start_Stop_Click();
    seq.Timer1_Timer();
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(seq.running());
    EXPECT_TRUE(window.reports.empty()) << window.reports.front();
    EXPECT_EQ(simulatedByte(), 0x81);
    EXPECT_THAT(told, HasSubstr(m_runtime.path() + " (PORTIO_TRACE) cannot be opened"));
}

TEST_F(PortioLibrary, AFailedWriteReachesTheRunningLightWithThePortAndTheReason) {
    ::setenv("PORTIO_BACKEND", "parport", 1);
    ::setenv("PORTIO_DEVICE", (m_runtime / "no-such-parport0").c_str(), 1);
    FakeWindow window;
    PortLibrary library;
    StepSequencer seq{window, library};
    seq.Form_Load();
    seq.Start_Stop_Click();
    EXPECT_FALSE(seq.running());
    ASSERT_EQ(window.reports.size(), 1u);
    EXPECT_THAT(window.reports[0], HasSubstr("port 888 (0x378)"));
    EXPECT_THAT(window.reports[0], HasSubstr("no-such-parport0"));
    EXPECT_THAT(window.reports[0], HasSubstr("No such file or directory"));
    EXPECT_EQ(simulatedByte(), -1) << "never a quiet switch to the simulated port";
    const auto traced = tracedWrites();
    ASSERT_EQ(traced.size(), 1u) << "a failed write is traced too";
    EXPECT_THAT(traced[0], ::testing::StartsWith("888 "));
}

}  // namespace
}  // namespace runlight

// The program's own binding code against port libraries loaded by name: the
// tests' recording library, a library without PortOut, and a missing one.

#include "port_library.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "fake_window.h"
#include "step_sequencer.h"
#include "test_port_recorder.h"

namespace runlight {
namespace {

using testing::FakeWindow;
using testing::kRecordingLibrary;
using Recorder = testing::TestPortRecorder;

using Writes = std::vector<std::pair<int, int>>;

TEST(PortLibrary, BindsByNameAtTheFirstWriteAndPassesPortAndByte) {
    Recorder recorder;
    PortLibrary library{kRecordingLibrary};
    EXPECT_FALSE(library.isBound()) << "nothing is loaded before the first write";
    library.out(888, 0);
    library.out(888, 0xA5);
    library.out(-1, 255);
    EXPECT_TRUE(library.isBound());
    EXPECT_EQ(recorder.writes(), (Writes{{888, 0}, {888, 165}, {-1, 255}}));
}

TEST(PortLibrary, ErrorsNameTheLibraryOrExportAndTheReason) {
    PortLibrary missing{"libno-such-port-library.so"};
    try {
        missing.out(888, 1);
        FAIL() << "a missing library must throw";
    } catch (const PortError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("libno-such-port-library.so"), std::string::npos) << text;
        EXPECT_NE(text.find("No such file"), std::string::npos) << text;
    }

    PortLibrary noExport{"libnoportout.so"};
    try {
        noExport.out(888, 1);
        FAIL() << "a library without PortOut must throw";
    } catch (const PortError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("libnoportout.so"), std::string::npos) << text;
        EXPECT_NE(text.find("PortOut"), std::string::npos) << text;
    }
    EXPECT_FALSE(noExport.isBound());

    Recorder recorder;
    recorder.failWith("/dev/parport0: Permission denied");
    PortLibrary failing{kRecordingLibrary};
    try {
        failing.out(888, 7);
        FAIL() << "a write the library reports as failed must throw";
    } catch (const PortError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("888 (0x378)"), std::string::npos) << text;
        EXPECT_NE(text.find("/dev/parport0: Permission denied"), std::string::npos) << text;
    }
}

TEST(PortLibrary, AReportedFailureKeepsTheLibraryAndTheNextWriteGoesThrough) {
    Recorder recorder;
    recorder.failWith("busy");
    PortLibrary library{kRecordingLibrary};
    EXPECT_THROW(library.out(888, 1), PortError);
    EXPECT_TRUE(library.isBound()) << "the library asks its port again by itself";
    recorder.failWith("");
    library.out(888, 2);
    EXPECT_EQ(recorder.writes(), (Writes{{888, 2}}));
}
// The whole way: START and ticks through the real binding code, and a failing
// library that costs the run but not the step program.
TEST(PortLibrary, SequencerRunsThroughTheLibraryAndSurvivesItsFailure) {
    Recorder recorder;
    FakeWindow window;
    PortLibrary library{kRecordingLibrary};
    StepSequencer seq{window, library};
    seq.Form_Load();
    window.enableOnly({1, 2});
    window.setStepByte(0, 0xA5);
    window.setStepByte(1, 0x0F);
    const auto program = window.channels;

    recorder.failWith("claim refused");
    seq.Start_Stop_Click();
    EXPECT_FALSE(seq.running());
    ASSERT_EQ(window.reports.size(), 1u);
    EXPECT_NE(window.reports[0].find("claim refused"), std::string::npos);
    EXPECT_EQ(window.channels, program);

    recorder.failWith("");
    seq.Start_Stop_Click();
    seq.Timer1_Timer();
    seq.Timer1_Timer();
    EXPECT_EQ(recorder.writes(), (Writes{{888, 0}, {888, 0xA5}, {888, 0x0F}}));
    EXPECT_EQ(window.readout, std::vector<std::string>{"0000xxxx"});
    EXPECT_EQ(window.reports.size(), 1u);
}

TEST(PortLibrary, SequencerReportsAMissingLibraryAndRetriesAtTheNextStart) {
    FakeWindow window;
    PortLibrary library{"libno-such-port-library.so"};
    StepSequencer seq{window, library};
    seq.Form_Load();
    seq.Start_Stop_Click();
    seq.Start_Stop_Click();
    EXPECT_FALSE(seq.running());
    ASSERT_EQ(window.reports.size(), 2u) << "each START tries the binding again";
    EXPECT_NE(window.reports[1].find("libno-such-port-library.so"), std::string::npos);
}

// A library that is missing at the first START and installed before the
// next: the second START binds it, and its writes arrive.
TEST(PortLibrary, ALibraryMissingAtTheFirstStartIsBoundAtTheNext) {
    Recorder recorder;
    char folder[] = "/tmp/qtx-later-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string later = std::string(folder) + "/libqtx-later.so";
    char exe[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    const std::string programFolder = std::filesystem::path(exe).parent_path().string();

    FakeWindow window;
    PortLibrary library{later};
    StepSequencer seq{window, library};
    seq.Form_Load();
    window.enableOnly({1});
    window.setStepByte(0, 0x42);
    seq.Start_Stop_Click();
    EXPECT_FALSE(seq.running());
    ASSERT_EQ(window.reports.size(), 1u);

    ASSERT_EQ(::symlink((programFolder + "/" + kRecordingLibrary).c_str(), later.c_str()), 0);
    seq.Start_Stop_Click();
    seq.Timer1_Timer();
    EXPECT_TRUE(seq.running()) << window.reports.back();
    EXPECT_EQ(window.reports.size(), 1u);
    EXPECT_EQ(recorder.writes(), (Writes{{888, 0}, {888, 0x42}}));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace runlight

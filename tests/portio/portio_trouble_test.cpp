// The port library when the world around it misbehaves: a simulated port's
// file that is filled up, cut short, removed or replaced (the trace's
// troubles are in trace_trouble_test.cpp). Nothing here may kill, hang or
// misreport: a byte that landed is a success, one that did not is a failure,
// and everything else is told on standard error.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "port_chooser.h"
#include "port_io.h"
#include "port_trees.h"
#include "run_command.h"
#include "sim_port.h"
#include "sim_port_look.h"
#include "temp_folder.h"
#include "trace.h"

namespace runlight::portio {
namespace {

using runlight::testing::fileLines;
using runlight::testing::openedSim;
using runlight::testing::runCommand;
using runlight::testing::simFolderIn;
using runlight::testing::simSettings;
using runlight::testing::stateOf;
using runlight::testing::succeeded;
using runlight::testing::TempFolder;
using ::testing::HasSubstr;

// A file cut to nothing while writer and reader have it mapped: touching the
// mapping would be SIGBUS. The reader is told, the writer grows it back and
// its byte lands, and the reader then sees it; a reader asleep on the count
// is not left asleep.
TEST(SimFileTrouble, AFileCutShortWhileInUseKillsNobodyAndIsMadeWholeAgain) {
    TempFolder runtime;
    const std::string folder = simFolderIn(runtime);
    const auto writer = openedSim(888, folder);
    const auto reader = openedSim(888, folder);
    ASSERT_TRUE(writer && reader);
    ASSERT_TRUE(succeeded(writer->write(0x11)));

    ASSERT_EQ(::truncate(writer->path().c_str(), 0), 0);
    const auto cut = reader->look();
    ASSERT_FALSE(cut);
    EXPECT_THAT(cut.error(), HasSubstr("cut short"));
    reader->waitForChange(0, 60000);  // returns at once: the word is gone

    EXPECT_TRUE(succeeded(writer->write(0x22)));
    EXPECT_EQ(std::filesystem::file_size(writer->path()), SimPort::kFileSize);
    EXPECT_EQ(stateOf(*reader).byte, 0x22);
    const auto back = writer->read();
    ASSERT_TRUE(succeeded(back));
    EXPECT_EQ(*back, 0x22);

    // Cut inside its magic: the words' page is still there, so no write
    // fails; the writer grows it back at its next look at the path. It is
    // still the port's own file, taken back by the next process that opens
    // the port even before.
    ASSERT_EQ(::truncate(writer->path().c_str(), 5), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(SimPort::kCheckPeriodMs + 30));
    EXPECT_TRUE(succeeded(writer->write(0x33)));
    EXPECT_EQ(std::filesystem::file_size(writer->path()), SimPort::kFileSize);
    EXPECT_EQ(stateOf(*reader).byte, 0x33);
    ASSERT_EQ(::truncate(writer->path().c_str(), 5), 0);
    const auto later = openedSim(888, folder);
    ASSERT_TRUE(later);
    EXPECT_TRUE(succeeded(later->write(0x44)));
    EXPECT_EQ(stateOf(*reader).byte, 0x44);
}

// The folder removed, then the file replaced by another: within a check
// period the writer is writing into the file that the path names again, so
// that a reader opening the port afresh (as the monitor does) meets it.
TEST(SimFileTrouble, AWriterFollowsARemovedFolderAndAReplacedFile) {
    TempFolder runtime;
    const std::string folder = simFolderIn(runtime);
    const auto writer = openedSim(888, folder);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(succeeded(writer->write(0x01)));
    const auto afterAPeriod = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(SimPort::kCheckPeriodMs + 30));
    };

    std::filesystem::remove_all(folder);
    afterAPeriod();
    ASSERT_TRUE(succeeded(writer->write(0x5A)));
    auto reader = openedSim(888, folder);
    ASSERT_TRUE(reader);
    EXPECT_EQ(stateOf(*reader).byte, 0x5A) << "writer and reader meet in the new folder";
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "made as private as the first time";

    const std::string replacement = runtime / "replacement";
    {
        const auto other = openedSim(999, runtime.path());  // a port file elsewhere
        ASSERT_TRUE(other);
        ASSERT_EQ(::rename((runtime / "port-999").c_str(), writer->path().c_str()), 0);
    }
    afterAPeriod();
    ASSERT_TRUE(succeeded(writer->write(0xA6)));
    reader = openedSim(888, folder);
    ASSERT_TRUE(reader);
    EXPECT_EQ(stateOf(*reader).byte, 0xA6);

    // Through the library: a byte that landed in the port made afresh is a
    // success, whatever the check found on the way.
    PortIo io(simSettings(runtime));
    io.out(888, 0x01);
    ASSERT_EQ(io.lastError(), "");
    std::filesystem::remove(writer->path());
    afterAPeriod();
    io.out(888, 0x02);
    EXPECT_EQ(io.lastError(), "");
    EXPECT_EQ(io.in(888), 0x02);
}

// Two writers on one port, as two threads and as two processes, a million
// writes each: the count moves by exactly two million, not one lost.
TEST(SimFileTrouble, TwoWritersAtOnceLoseNoCountInThreadsOrProcesses) {
    constexpr std::uint32_t kWrites = 1000000;
    TempFolder runtime;
    const std::string folder = simFolderIn(runtime);
    const auto reader = openedSim(888, folder);
    ASSERT_TRUE(reader);
    const auto writeMany = [&folder](std::uint8_t byte) {
        const auto writer = SimPort::open(888, folder);
        for (std::uint32_t i = 0; writer && i < kWrites; ++i) {
            if (!(*writer)->write(byte)) {
                return false;
            }
        }
        return writer.has_value();
    };

    const std::uint32_t before = stateOf(*reader).count;
    bool firstOk = false;
    bool secondOk = false;
    std::thread first([&] { firstOk = writeMany(0x0F); });
    std::thread second([&] { secondOk = writeMany(0xF0); });
    first.join();
    second.join();
    EXPECT_TRUE(firstOk && secondOk);
    const auto threads = stateOf(*reader);
    EXPECT_EQ(threads.count - before, 2 * kWrites);
    EXPECT_TRUE(threads.byte == 0x0F || threads.byte == 0xF0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(writeMany(0x33) ? 0 : 1);
    }
    const bool parentOk = writeMany(0xCC);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(parentOk);
    EXPECT_EQ(stateOf(*reader).count - threads.count, 2 * kWrites);
}

// A full filesystem under the port's folder (a 64 KiB tmpfs, as a small
// $XDG_RUNTIME_DIR is). A new port there is a failed write with the reason,
// in this process and in another (portio-out), never SIGBUS; a port opened
// before the filesystem filled keeps working; with room again the next write
// makes the port. Mounting needs root: the test runs in a mount namespace of
// its own, so the mount goes when the test process ends, whatever happens.
TEST(SimFileTrouble, AFullFilesystemIsAFailedWriteNeverASignal) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a small tmpfs needs root (the test command runs as root)";
    }
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
        GTEST_SKIP() << "no mount namespace of our own here: " << std::strerror(errno);
    }
    TempFolder runtime;
    ASSERT_EQ(::mount("tmpfs", runtime.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                      "size=64k,mode=0700"),
              0)
        << std::strerror(errno);
    auto settings = simSettings(runtime);
    PortIo early(settings);
    early.out(999, 0x01);  // a port made while there is room
    ASSERT_EQ(early.lastError(), "");

    const std::string filler = runtime / "filler";
    {
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    PortIo io(settings);
    io.out(888, 0xA5);
    EXPECT_THAT(io.lastError(), HasSubstr("port 888 (0x378)"));
    EXPECT_THAT(io.lastError(), HasSubstr("No space left on device"));

    const std::string command = "env PORTIO_BACKEND=sim XDG_RUNTIME_DIR=" + runtime.path() +
                                " " PORTIO_OUT_PATH " 0x5A 2>&1";
    const auto [status, said] = runCommand(command);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_THAT(said, HasSubstr("No space left on device"));
    const std::string probe = "env PORTIO_BACKEND=sim XDG_RUNTIME_DIR=" + runtime.path() +
                              " " PORTIO_OUT_PATH " --status >/dev/null 2>&1";
    EXPECT_NE(std::system(probe.c_str()), 0) << "--status finds what a write finds";

    early.out(999, 0x02);
    EXPECT_EQ(early.lastError(), "") << "its blocks were allocated when it was made";

    ASSERT_EQ(::unlink(filler.c_str()), 0);
    io.out(888, 0xA5);
    EXPECT_EQ(io.lastError(), "");
    EXPECT_EQ(io.in(888), 0xA5);
    ::umount2(runtime.path().c_str(), MNT_DETACH);
}

// The process's file size limit at 0 (ulimit -f 0): growing the port's file
// raises SIGXFSZ, which would end the program. A new port and one whose file
// was cut short are failed writes with the reason, in this process and in
// portio-out; no signal is left pending.
TEST(SimFileTrouble, AFileSizeLimitIsAFailedWriteNeverASignal) {
    TempFolder runtime;
    const std::string folder = simFolderIn(runtime);
    const auto early = openedSim(999, folder);
    ASSERT_TRUE(early);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit none = before;
    none.rlim_cur = 0;

    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
    PortIo io(simSettings(runtime));
    io.out(888, 0xA5);
    const std::string newPort = io.lastError();
    ASSERT_EQ(::truncate(early->path().c_str(), 0), 0);
    const auto cutWritten = early->write(0x22);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);

    EXPECT_THAT(newPort, HasSubstr("port 888 (0x378) (simulated)"));
    EXPECT_THAT(newPort, HasSubstr("File too large"));
    ASSERT_FALSE(cutWritten) << "a byte that did not land is a failure";
    const std::string error = labelled(*early, cutWritten.error());  // as the library tells it
    EXPECT_THAT(error, HasSubstr("port 999 (0x3E7) (simulated): writing "));
    EXPECT_THAT(error, HasSubstr("File too large"));
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGXFSZ), 0);
    EXPECT_TRUE(succeeded(early->write(0x33)));

    const auto [status, said] =
        runCommand("ulimit -f 0; env PORTIO_BACKEND=sim XDG_RUNTIME_DIR=" + runtime.path() +
                   " " PORTIO_OUT_PATH " --port 777 1 2>&1");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_THAT(said, HasSubstr("File too large"));
}

// portio-out started with standard error closed, and with a link in the
// port file's place: the library's files never become descriptor 2 (the
// trace's complaint would go into the port's file), and --status says what
// a write would find.
TEST(SimFileTrouble, PortioOutSaysWhatAWriteFindsAndNeverWritesItsMessagesIntoAPort) {
    TempFolder runtime;
    ASSERT_EQ(::mkfifo((runtime / "unread").c_str(), 0600), 0);
    const std::string tool = "env PORTIO_BACKEND=sim XDG_RUNTIME_DIR=" + runtime.path() +
                             " PORTIO_TRACE=" + runtime / "unread" + " " PORTIO_OUT_PATH;
    const auto written = runCommand(tool + " 0x5A 2>&-");
    EXPECT_EQ(written.first, 0) << written.second;
    const std::string folder = simFolderIn(runtime);
    const auto port = openedSim(888, folder);
    ASSERT_TRUE(port);
    EXPECT_EQ(stateOf(*port).byte, 0x5A);

    ASSERT_EQ(::symlink(port->path().c_str(), (folder + "/port-889").c_str()), 0);
    const auto status = runCommand(tool + " --port 889 --status 2>&1");
    EXPECT_TRUE(WIFEXITED(status.first) && WEXITSTATUS(status.first) == 1) << status.second;
    EXPECT_THAT(status.second, HasSubstr("not reachable: port 889 (0x379) (simulated)"));
    const auto write = runCommand(tool + " --port 889 1 2>&1");
    EXPECT_TRUE(WIFEXITED(write.first) && WEXITSTATUS(write.first) == 1) << write.second;
}

}  // namespace
}  // namespace runlight::portio

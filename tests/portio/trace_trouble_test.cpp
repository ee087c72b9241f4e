// The trace when the world around it misbehaves: a FIFO without a reader, with
// one that stops reading or goes away, a file at the process's size limit.
// None of it may block or kill the writer or make a byte's write look
// failed; the trouble is told on standard error.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "port_io.h"
#include "port_trees.h"
#include "temp_folder.h"
#include "trace.h"

namespace runlight::portio {
namespace {

using runlight::testing::fileLines;
using runlight::testing::simSettings;
using runlight::testing::TempFolder;
using ::testing::HasSubstr;

// "T PORT BYTE": three runs of digits with one space between them.
bool isTraceLine(const std::string& line) {
    int fields = 0;
    bool inDigits = false;
    for (const char c : line) {
        if (c >= '0' && c <= '9') {
            fields += inDigits ? 0 : 1;
            inDigits = true;
        } else if (c == ' ' && inDigits) {
            inDigits = false;
        } else {
            return false;
        }
    }
    return fields == 3 && inDigits;
}

// Everything a non-blocking reader can take from `fd` now.
std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got = 0; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Whole lines of `text`, and whether it ended at a line's end.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t from = 0;
    for (std::size_t end = 0; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
        result.push_back(text.substr(from, end - from));
    }
    EXPECT_EQ(from, text.size()) << "a half line at the end";
    return result;
}

// A FIFO as PORTIO_TRACE: without a reader, with one that stops reading, and
// with one that goes away. The first START must not wait for a reader, a full
// pipe must not freeze the writer, a vanished reader must not kill it
// (SIGPIPE at its default action would end this test program), and no case
// makes the byte's write look failed.
TEST(TraceTrouble, AFifoNeverBlocksNorKillsAndEveryLineInItIsWhole) {
    TempFolder runtime;
    const std::string fifo = runtime / "trace.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::signal(SIGPIPE, SIG_DFL), SIG_DFL) << "the test needs SIGPIPE's default action";
    {
        PortIo io(simSettings(runtime, fifo));
        ::testing::internal::CaptureStderr();
        io.out(888, 1);  // no reader: would block in open() without O_NONBLOCK
        io.out(888, 2);
        const std::string told = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(io.lastError(), "");
        EXPECT_THAT(told, HasSubstr(fifo));
        EXPECT_THAT(told, HasSubstr("No such device or address"));
        EXPECT_EQ(told.find(fifo), told.rfind(fifo)) << "told once: " << told;
    }

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const int pipeSize = ::fcntl(reader, F_GETPIPE_SZ);
    ASSERT_GT(pipeSize, 0);
    auto io = std::make_unique<PortIo>(simSettings(runtime, fifo));
    ::testing::internal::CaptureStderr();
    const int writes = pipeSize / 10 + 100;  // a line is at least 10 bytes: overfills the pipe
    for (int i = 0; i < writes; ++i) {
        io->out(888, static_cast<std::uint8_t>(i));  // a blocking write would stop here
        ASSERT_EQ(io->lastError(), "");
    }
    std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(told, HasSubstr("Resource temporarily unavailable"));
    const auto first = lines(drain(reader));
    EXPECT_GT(first.size(), 0u);
    EXPECT_LT(first.size(), static_cast<std::size_t>(writes)) << "some lines were dropped";
    for (const auto& line : first) {
        ASSERT_TRUE(isTraceLine(line)) << line;
    }
    io->out(888, 0xEE);  // room again: lines flow again
    const auto later = lines(drain(reader));
    ASSERT_EQ(later.size(), 1u);
    EXPECT_THAT(later[0], ::testing::EndsWith(" 888 238"));

    ::close(reader);  // the reader goes away
    ::testing::internal::CaptureStderr();
    io->out(888, 3);
    io->out(888, 4);
    EXPECT_EQ(io->lastError(), "");
    io.reset();  // the dropped lines are counted when the trace closes
    told = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(told, HasSubstr("Broken pipe"));
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "no SIGPIPE left behind";
    const auto dropped = static_cast<std::size_t>(writes + 1 - first.size() - later.size() + 2);
    EXPECT_THAT(told, HasSubstr(std::to_string(dropped) + " lines of the trace " + fifo));
}

// A regular file that takes only part of a line (here: the process's file
// size limit; a full disk does the same) is cut back, so the file holds whole
// lines only; the next line that hits the limit outright raises SIGXFSZ,
// which would end the program at its default action.
TEST(TraceTrouble, ARegularFileThatTakesPartOfALineIsCutBackToWholeLines) {
    TempFolder runtime;
    const std::string path = runtime / "trace.txt";
    const std::string line = traceLine(1234567890, 888, 165);  // 19 bytes
    ASSERT_EQ(::signal(SIGXFSZ, SIG_DFL), SIG_DFL);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = line.size() + line.size() / 2;  // room for one line and a half
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto opened = Trace::open(path);
    ASSERT_TRUE(opened) << opened.error();
    const auto trace = std::move(*opened);
    std::string error;
    const auto first = trace->writeLine(line, error);
    const auto second = trace->writeLine(line, error);  // half of it fits
    small.rlim_cur = line.size();                       // no room after the first line:
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto third = trace->writeLine(line, error);  // SIGXFSZ
    ::setrlimit(RLIMIT_FSIZE, &before);

    EXPECT_EQ(first, Trace::Outcome::Written);
    EXPECT_EQ(second, Trace::Outcome::Dropped);
    EXPECT_EQ(third, Trace::Outcome::Dropped);
    EXPECT_THAT(error, HasSubstr(path));
    EXPECT_EQ(trace->dropped(), 2u);
    EXPECT_EQ(fileLines(path), std::vector<std::string>{"1234567890 888 165"});
    EXPECT_EQ(std::filesystem::file_size(path), line.size()) << "the half line is cut off";
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGXFSZ), 0);
}

}  // namespace
}  // namespace runlight::portio

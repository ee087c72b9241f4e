// The OLA back end on the wire: olad's real E1.31 (sACN) output, in a
// network namespace this test makes for itself (as root: unshare -n; skipped
// where that is not allowed), read back packet by packet from the other end
// of a veth pair. Nothing leaves the machine: the pair is all the namespace
// has besides its loopback.

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e131_wire.h"
#include "olad_sandbox.h"
#include "port_library.h"

namespace runlight {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::E131Capture;
using testing::E131Frame;

std::string g_namespaceProblem;  // why the namespace could not be made ("skip: ..." or a failure)

class OlaWire : public ::testing::Test {
protected:
    void SetUp() override {
        if (g_namespaceProblem.rfind("skip: ", 0) == 0) {
            GTEST_SKIP() << g_namespaceProblem.substr(6);
        }
        ASSERT_EQ(g_namespaceProblem, "");
        ::setenv("XDG_CONFIG_HOME", m_config.path().c_str(), 1);
        ::setenv("PORTIO_BACKEND", "ola", 1);
        ::unsetenv("PORTIO_TRACE");
        ::unsetenv("PORTIO_OLA_KEEPALIVE");
        ::setenv("PORTIO_OLA_PORT", std::to_string(m_olad.port()).c_str(), 1);
        const std::string problem = m_olad.start(testing::kE131Ip);
        if (problem.rfind("skip: ", 0) == 0) {
            GTEST_SKIP() << "ola cannot be installed here: " << problem;
        }
        ASSERT_EQ(problem, "");
        ASSERT_EQ(m_capture.error(), "");
    }
    void TearDown() override { m_olad.stop(); }

    void patch(unsigned universe) {
        testing::OlaTestClient client(m_olad.port());
        ASSERT_TRUE(client.patchTo(universe, ola::OLA_PLUGIN_E131)) << client.error();
    }

    // Runs this program as another process that writes `bytes` and holds
    // the port for `holdMs`; returns when it has ended.
    Clock::time_point runHolder(const std::string& bytes, int holdMs) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl("/proc/self/exe", "ola_wire_tests", "--hold", bytes.c_str(),
                    std::to_string(holdMs).c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        const auto ended = Clock::now();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "holder: " << status;
        return ended;
    }

    testing::TempFolder m_config;
    testing::OladSandbox m_olad;
    E131Capture m_capture;
};

// The eight lamps' slots of a packet as a byte, or -1 where a slot holds
// neither 0 nor `level`.
int byteIn(const E131Frame& frame, unsigned channel, unsigned level) {
    int byte = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        const unsigned value = frame.slots[channel - 1 + bit];
        if (value == level) {
            byte |= 0x80 >> bit;
        } else if (value != 0) {
            return -1;
        }
    }
    return byte;
}

TEST_F(OlaWire, EachBitGoesOutOnItsSlotAtTheLevelOnTheUniverse) {
    struct Case {
        unsigned universe, channel, level;
    };
    for (const Case at : {Case{1, 3, 200}, Case{7, 505, 128}}) {
        SCOPED_TRACE("universe " + std::to_string(at.universe) + ", channel " +
                     std::to_string(at.channel) + ", level " + std::to_string(at.level));
        patch(at.universe);
        ::setenv("PORTIO_OLA_UNIVERSE", std::to_string(at.universe).c_str(), 1);
        ::setenv("PORTIO_OLA_CHANNEL", std::to_string(at.channel).c_str(), 1);
        ::setenv("PORTIO_OLA_LEVEL", std::to_string(at.level).c_str(), 1);
        m_capture.clear();
        {
            PortLibrary library;
            ASSERT_NO_THROW(library.out(888, 0xA5));
            std::this_thread::sleep_for(300ms);
        }
        const auto frames = m_capture.frames(at.universe);
        ASSERT_FALSE(frames.empty()) << "no E1.31 packet of universe " << at.universe;
        const auto& frame = frames.back();
        EXPECT_EQ(byteIn(frame, at.channel, at.level), 0xA5);
        for (unsigned slot = 1; slot <= 512; ++slot) {
            if ((slot < at.channel || slot >= at.channel + 8) && frame.slots[slot - 1] != 0) {
                ADD_FAILURE() << "slot " << slot << " is " << int{frame.slots[slot - 1]};
                break;
            }
        }
    }
}

// A receiver takes 2.5 s without a packet for a lost source: while the
// port is held the last frame goes out again, and once the program ends,
// nothing does.
TEST_F(OlaWire, TheLastFrameGoesOutAgainWhileThePortIsHeldAndNothingAfterTheProgramEnds) {
    patch(1);
    ::setenv("PORTIO_OLA_UNIVERSE", "1", 1);
    ::setenv("PORTIO_OLA_CHANNEL", "1", 1);
    ::setenv("PORTIO_OLA_LEVEL", "255", 1);
    const auto ended = runHolder("0x5A,0xA5", 5000);
    std::this_thread::sleep_for(3s);

    const auto frames = m_capture.frames(1);
    const auto first = std::find_if(frames.begin(), frames.end(),
                                    [](const E131Frame& f) { return byteIn(f, 1, 255) == 0xA5; });
    ASSERT_NE(first, frames.end()) << "no packet of 0xA5";
    int held = 0;
    auto longest = Clock::duration::zero();
    for (auto frame = first; frame != frames.end(); ++frame) {
        if (frame->at > ended + 500ms) {  // the capture's own delay aside
            ADD_FAILURE() << "a packet " << std::chrono::duration<double>(frame->at - ended).count()
                          << " s after the program ended";
            break;
        }
        EXPECT_EQ(byteIn(*frame, 1, 255), 0xA5) << "a packet of another byte after 0xA5";
        if (frame != first) {
            longest = std::max(longest, frame->at - (frame - 1)->at);
        }
        ++held;
    }
    std::printf("wire: %d packets of 0xA5 from the write to the end, longest gap %.3f s\n", held,
                std::chrono::duration<double>(longest).count());
    EXPECT_GE(held, 4);
    // The keep-alive comes every second; a receiver gives up after 2.5 s.
    EXPECT_LT(longest, 1500ms);
}

TEST_F(OlaWire, KeepAliveZeroSendsOnlyWhatIsWritten) {
    patch(1);
    ::setenv("PORTIO_OLA_UNIVERSE", "1", 1);
    ::setenv("PORTIO_OLA_KEEPALIVE", "0", 1);
    runHolder("0xA5", 2500);
    const auto frames = m_capture.frames(1);
    ASSERT_FALSE(frames.empty());
    // A keep-alive would come 1 s after the write.
    EXPECT_LT(frames.back().at - frames.front().at, 900ms) << frames.size() << " packets";
}

}  // namespace
}  // namespace runlight

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--hold") {
        // The holder: writes the bytes ("0x5A,0xA5"), holds the port, ends.
        runlight::PortLibrary library;
        std::string bytes = argv[2];
        for (std::size_t at = 0; at < bytes.size(); at = bytes.find(',', at) + 1) {
            library.out(888, static_cast<std::uint8_t>(std::stoul(bytes.substr(at), nullptr, 16)));
            if (bytes.find(',', at) == std::string::npos) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argv[3])));
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::string(argv[i]) == "--gtest_list_tests";
    }
    if (!listing) {
        runlight::g_namespaceProblem = runlight::testing::enterWireNamespace();
    }
    return RUN_ALL_TESTS();
}

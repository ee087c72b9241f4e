// The OLA back end against a real olad of the test's own: libportio.so.1
// loaded by name through the program's binding code, as the running light
// loads it, with PORTIO_BACKEND=ola; the universe read back through OLA's
// own client API.

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ola_port.h"
#include "olad_sandbox.h"
#include "port_library.h"
#include "port_sink.h"
#include "universe_watcher.h"

namespace runlight {
namespace {

using portio::ola_backend::UniverseWatcher;
using OlaPortLimits = portio::ola_backend::OlaPort;
using ::testing::HasSubstr;
using testing::OladSandbox;
using testing::OlaTestClient;

class OlaBackend : public ::testing::Test {
protected:
    void SetUp() override {
        // No settings file of the user's: the environment says it all.
        ::setenv("XDG_CONFIG_HOME", m_config.path().c_str(), 1);
        ::setenv("PORTIO_BACKEND", "ola", 1);
        ::unsetenv("PORTIO_TRACE");
        ::setenv("PORTIO_OLA_PORT", std::to_string(m_olad.port()).c_str(), 1);
    }
    void startOlad() {
        const std::string problem = m_olad.start();
        if (problem.rfind("skip: ", 0) == 0) {
            GTEST_SKIP() << "ola cannot be installed here: " << problem;
        }
        ASSERT_EQ(problem, "");
    }
    // The eight channels from `first`, as olad holds them, once they equal
    // `expected` (or after 5 s, whatever they are then).
    static UniverseWatcher::Channels seen(UniverseWatcher& watcher,
                                          const UniverseWatcher::Channels& expected) {
        watcher.waitFor([&](const auto& now) { return now.channels == expected; }, 5000);
        return watcher.snapshot().channels;
    }

    testing::TempFolder m_config;
    OladSandbox m_olad;
};

UniverseWatcher::Channels channelsFor(std::uint8_t byte, std::uint8_t level) {
    UniverseWatcher::Channels channels{};
    for (unsigned bit = 0; bit < 8; ++bit) {
        channels[bit] = (byte & (0x80U >> bit)) != 0 ? level : 0;  // bit 7 first
    }
    return channels;
}

struct Case {
    unsigned universe;
    unsigned channel;
    unsigned level;
};

TEST_F(OlaBackend, EveryBitLandsOnItsChannelAndTheRestOfTheUniverseIsLeftAsItWas) {
    startOlad();
    OlaTestClient client(m_olad.port());
    ASSERT_TRUE(client.connected()) << client.error();
    // 70000: a universe number past 16 bits must not wrap to 4464.
    for (const Case& at :
         {Case{1, 1, 255}, Case{7, 505, 128}, Case{42, 100, 1}, Case{70000, 9, 200}}) {
        SCOPED_TRACE("universe " + std::to_string(at.universe) + ", channel " +
                     std::to_string(at.channel) + ", level " + std::to_string(at.level));
        ASSERT_TRUE(client.patchDummyTo(at.universe)) << client.error();
        ::setenv("PORTIO_OLA_UNIVERSE", std::to_string(at.universe).c_str(), 1);
        ::setenv("PORTIO_OLA_CHANNEL", std::to_string(at.channel).c_str(), 1);
        ::setenv("PORTIO_OLA_LEVEL", std::to_string(at.level).c_str(), 1);
        // Another source holds 1 on every other channel. With HTP, olad
        // keeps the highest value of every channel over the sources, so any
        // value the library sent there above 0 would show.
        ASSERT_TRUE(client.setMergeMode(at.universe, ola::client::OlaUniverse::MERGE_HTP));
        UniverseWatcher watcher(m_olad.port(), at.universe, at.channel, {});
        ola::DmxBuffer background;
        background.SetRangeToValue(0, 1, 512);
        background.SetRangeToValue(at.channel - 1, 0, 8);

        PortLibrary library;  // loaded afresh: the library reads its settings at its first call
        for (const std::uint8_t byte : std::vector<std::uint8_t>{0xA5, 0x5A, 0x80, 0x01, 0xFF, 0}) {
            client.send(at.universe, background);
            ASSERT_NO_THROW(library.out(888, byte));
            const auto expected = channelsFor(byte, static_cast<std::uint8_t>(at.level));
            EXPECT_EQ(seen(watcher, expected), expected) << "byte " << int{byte};
            const auto frame = client.frame(at.universe);
            ASSERT_EQ(frame.size(), 512u);
            for (unsigned slot = 0; slot < 512; ++slot) {
                const bool ours = slot + 1 >= at.channel && slot + 1 < at.channel + 8;
                if (!ours && frame[slot] != 1) {
                    ADD_FAILURE() << "channel " << slot + 1 << " is " << int{frame[slot]};
                    break;
                }
            }
        }
    }
}

TEST_F(OlaBackend, OladMissingOrGoneFailsTheWriteAndTheNextStartConnectsAfresh) {
    ::setenv("PORTIO_OLA_UNIVERSE", "3", 1);
    ::setenv("PORTIO_OLA_CHANNEL", "1", 1);
    ::setenv("PORTIO_OLA_LEVEL", "255", 1);
    const std::string where = "127.0.0.1:" + std::to_string(m_olad.port());
    PortLibrary library;
    try {
        library.out(888, 0);
        ADD_FAILURE() << "a write without olad succeeded";
    } catch (const PortError& error) {
        EXPECT_THAT(
            error.what(),
            HasSubstr("port 888 (0x378), OLA universe 3: cannot connect to olad on " + where +
                      ": Connection refused; start it with \"olad -f\" or \"sudo "
                      "systemctl start olad\""));
    }

    startOlad();
    OlaTestClient client(m_olad.port());
    ASSERT_TRUE(client.patchDummyTo(3)) << client.error();
    UniverseWatcher watcher(m_olad.port(), 3, 1, {});
    ASSERT_NO_THROW(library.out(888, 0)) << "START after olad was started";
    ASSERT_NO_THROW(library.out(888, 0xC3));
    EXPECT_EQ(seen(watcher, channelsFor(0xC3, 255)), channelsFor(0xC3, 255));

    m_olad.stop();  // olad gone mid-run
    try {
        library.out(888, 0x3C);
        ADD_FAILURE() << "the first write after olad ended succeeded";
    } catch (const PortError& error) {
        EXPECT_THAT(error.what(), HasSubstr("port 888 (0x378), OLA universe 3: olad on " + where +
                                            " closed the connection"));
        EXPECT_THAT(error.what(), HasSubstr("0x3C was not sent"));
    }
    EXPECT_THROW(library.out(888, 0), PortError) << "START while olad is still gone";

    startOlad();  // the same port again
    OlaTestClient again(m_olad.port());
    ASSERT_TRUE(again.patchDummyTo(3)) << again.error();
    UniverseWatcher back(m_olad.port(), 3, 1, {});
    ASSERT_NO_THROW(library.out(888, 0)) << "START after olad was started again";
    ASSERT_NO_THROW(library.out(888, 0x81));
    EXPECT_EQ(seen(back, channelsFor(0x81, 255)), channelsFor(0x81, 255));

    // Another program reads what olad holds (PortIn, through portio-out).
    FILE* tool = ::popen(PORTIO_OUT_PATH " --read 2>&1", "r");
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, tool), nullptr);
    ::pclose(tool);
    EXPECT_STREQ(line, "0x81\n");
}

// Sets the lamps of `universe` through a source of the test's own first, so
// that START's 0 shows as a change (olad merges LTP: the latest source wins).
TEST_F(OlaBackend, TheRunningLightPutsStartAndItsStepsOnTheUniverseInOrder) {
    startOlad();
    OlaTestClient client(m_olad.port());
    ASSERT_TRUE(client.patchDummyTo(4)) << client.error();
    std::mutex mutex;
    std::vector<int> bytes;  // each change of the eight channels, as a byte
    UniverseWatcher watcher(m_olad.port(), 4, 1, {},
                            [&](const UniverseWatcher::Channels& channels, auto) {
                                int byte = 0;
                                for (unsigned i = 0; i < 8; ++i) {
                                    byte |= channels[i] == 255 ? 0x80 >> i : 0;
                                }
                                const std::lock_guard lock(mutex);
                                if (bytes.empty() || bytes.back() != byte) {
                                    bytes.push_back(byte);
                                }
                            });
    ASSERT_TRUE(watcher.waitFor([](const auto& now) { return now.connected; }, 5000));
    ola::DmxBuffer lit;
    lit.SetRangeToValue(0, 255, 512);
    client.send(4, lit);
    watcher.waitFor([](const auto& now) { return now.channels[0] == 255; }, 5000);

    // qtx as the install test drives it: the qtxdriver plugin sets steps 1
    // (byte 129) and 5 (byte 16), presses START and ticks four times.
    ::setenv("PORTIO_OLA_UNIVERSE", "4", 1);
    ::setenv("PORTIO_OLA_CHANNEL", "1", 1);
    ::setenv("PORTIO_OLA_LEVEL", "255", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("QT_PLUGIN_PATH", QTX_DRIVER_PLUGINS, 1);
    ::setenv("QT_QPA_GENERIC_PLUGINS", "qtxdriver", 1);
    const int status = std::system(QTX_PATH " >/dev/null");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "qtx ended with " << status;

    const std::vector<int> expected{255, 0, 129, 16, 129, 16};
    watcher.waitFor([](const auto& now) { return now.channels[0] == 0 && now.channels[3] == 255; },
                    5000);
    const std::lock_guard lock(mutex);
    auto seen = bytes;  // from the lamps the test lit, on
    seen.erase(seen.begin(), std::find(seen.begin(), seen.end(), 255));
    EXPECT_EQ(seen, expected);
}

// portio-out --status, as the DMX guide's troubleshooting uses it.
std::pair<int, std::string> status() {
    FILE* tool = ::popen(PORTIO_OUT_PATH " --status 2>&1", "r");
    std::string output;
    char line[1024];
    while (tool != nullptr && std::fgets(line, sizeof line, tool) != nullptr) {
        output += line;
    }
    const int code = tool != nullptr ? ::pclose(tool) : -1;
    return {WIFEXITED(code) ? WEXITSTATUS(code) : -1, output};
}

TEST_F(OlaBackend, StatusSaysWhatChoseOlaAndWhetherTheUniverseReachesAnOutput) {
    ::unsetenv("PORTIO_BACKEND");
    ::unsetenv("PORTIO_OLA_UNIVERSE");
    ::unsetenv("PORTIO_OLA_CHANNEL");
    ::unsetenv("PORTIO_OLA_LEVEL");
    m_config.write("portio/portio.conf", "[port 888]\nbackend = ola\nuniverse = 5\nchannel = 9\n");
    const std::string file = m_config / "portio/portio.conf";
    const std::string where = "127.0.0.1:" + std::to_string(m_olad.port());

    auto [code, text] = status();
    EXPECT_EQ(code, 1);
    EXPECT_THAT(text, HasSubstr("backend: ola (from " + file + ":2)"));
    EXPECT_THAT(text, HasSubstr("universe = 5 (from " + file + ":3; PORTIO_OLA_UNIVERSE"));
    EXPECT_THAT(
        text, HasSubstr("ola-port = " + std::to_string(m_olad.port()) + " (from PORTIO_OLA_PORT"));
    EXPECT_THAT(text,
                HasSubstr("keep-alive = 1000 (from default; PORTIO_OLA_KEEPALIVE overrides)"));
    EXPECT_THAT(text, HasSubstr("cannot connect to olad on " + where + ": Connection refused"));

    startOlad();
    std::tie(code, text) = status();
    EXPECT_EQ(code, 1) << text;
    EXPECT_THAT(text, HasSubstr("olad answers on " + where +
                                ", but universe 5 does not exist, so nothing reaches a lamp; "
                                "patch an output port to it"));
    OlaTestClient client(m_olad.port());
    ASSERT_TRUE(client.patchDummyTo(5)) << client.error();
    std::tie(code, text) = status();
    EXPECT_EQ(code, 0) << text;
    EXPECT_THAT(
        text,
        HasSubstr("reachable: yes, port 888 (0x378), OLA universe 5: olad answers on " + where +
                  "; universe 5 (\"Universe 5\") has 1 output port; "
                  "channels 9..16 at level 255; merge mode LTP"));
}

// The same words as --status: at the first write, and after the universe
// loses its output while the port is held (olad is asked every few seconds).
TEST_F(OlaBackend, AWriteToAUniverseThatReachesNoOutputFails) {
    startOlad();
    ::setenv("PORTIO_OLA_UNIVERSE", "2", 1);
    const std::string where = "127.0.0.1:" + std::to_string(m_olad.port());
    PortLibrary library;
    try {
        library.out(888, 0x5A);
        ADD_FAILURE() << "a write to a universe without output succeeded";
    } catch (const PortError& error) {
        EXPECT_THAT(error.what(),
                    HasSubstr("port 888 (0x378), OLA universe 2: olad answers on " + where +
                              ", but universe 2 does not exist, so nothing "
                              "reaches a lamp; patch an output port to it"));
    }

    OlaTestClient client(m_olad.port());
    ASSERT_TRUE(client.patchDummyTo(2)) << client.error();
    ASSERT_NO_THROW(library.out(888, 0x5A));
    ASSERT_TRUE(client.patchDummyTo(6)) << client.error();  // universe 2 loses its output
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(OlaPortLimits::kUniverseCheckMs + 3000);
    std::string failure;
    while (failure.empty() && std::chrono::steady_clock::now() < deadline) {
        try {
            library.out(888, 0x5A);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } catch (const PortError& error) {
            failure = error.what();
        }
    }
    EXPECT_THAT(failure, HasSubstr("universe 2 has no output port, so nothing reaches a lamp"));
}

// olad stopped (SIGSTOP) under 2 ms steps: no write waits for it, a write
// fails once it has taken nothing for a second, and letting the port go
// does not hang either.
TEST_F(OlaBackend, AStoppedOladFailsAWriteAndNeverHoldsOne) {
    startOlad();
    OlaTestClient client(m_olad.port());
    ASSERT_TRUE(client.patchDummyTo(1)) << client.error();
    ::setenv("PORTIO_OLA_UNIVERSE", "1", 1);
    auto library = std::make_unique<PortLibrary>();
    ASSERT_NO_THROW(library->out(888, 0xA5));
    ASSERT_EQ(::kill(m_olad.pid(), SIGSTOP), 0);
    using Clock = std::chrono::steady_clock;
    const auto stopped = Clock::now();
    auto longest = Clock::duration::zero();
    std::string failure;
    std::uint8_t byte = 0;
    while (failure.empty() && Clock::now() - stopped < std::chrono::seconds(20)) {
        const auto before = Clock::now();
        try {
            library->out(888, byte++);
        } catch (const PortError& error) {
            failure = error.what();
        }
        longest = std::max(longest, Clock::now() - before);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double failedAfter = std::chrono::duration<double>(Clock::now() - stopped).count();
    const auto unloading = Clock::now();
    library.reset();
    const double unloaded = std::chrono::duration<double>(Clock::now() - unloading).count();
    ::kill(m_olad.pid(), SIGCONT);
    std::printf(
        "olad stopped: the write failed after %.2f s; longest write %.3f ms; unloading "
        "took %.3f s\n",
        failedAfter, std::chrono::duration<double, std::milli>(longest).count(), unloaded);
    EXPECT_THAT(failure, HasSubstr("port 888 (0x378), OLA universe 1: olad is not taking frames"));
    // A write that waited on olad's socket would wait until it runs again.
    EXPECT_LT(longest, std::chrono::seconds(2));
    EXPECT_LT(unloaded, 2.0);
}

// A program that ends while olad is stopped: the last frames are waited for
// a moment (kFlushMs), never until olad runs again.
TEST_F(OlaBackend, LettingThePortGoWhileOladIsStoppedDoesNotHang) {
    startOlad();
    OlaTestClient client(m_olad.port());
    ASSERT_TRUE(client.patchDummyTo(1)) << client.error();
    ::setenv("PORTIO_OLA_UNIVERSE", "1", 1);
    auto library = std::make_unique<PortLibrary>();
    ASSERT_NO_THROW(library->out(888, 0xA5));
    ASSERT_EQ(::kill(m_olad.pid(), SIGSTOP), 0);
    ASSERT_NO_THROW(library->out(888, 0x5A));
    const auto unloading = std::chrono::steady_clock::now();
    library.reset();
    const auto unloaded = std::chrono::steady_clock::now() - unloading;
    ::kill(m_olad.pid(), SIGCONT);
    EXPECT_LT(unloaded, std::chrono::seconds(2));
}

}  // namespace
}  // namespace runlight

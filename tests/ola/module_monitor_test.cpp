// The lamp monitor's view of a port that goes to OLA, offscreen, against an
// olad of the test's own, through the OLA module's watch as portio-monitor
// uses it: it says when olad cannot be reached, and shows what the port
// library put on the universe. The module's thread is waited on, never the
// event loop: the test calls refresh() as the queued call would.

#include "module_monitor.h"

#include <stdlib.h>

#include <chrono>

#include <gtest/gtest.h>

#include "module_loader.h"
#include "monitor_test.h"
#include "olad_sandbox.h"
#include "port_library.h"
#include "settings.h"

namespace runlight::ui {
namespace {

using runlight::testing::labelText;

// Refreshes after each change the module reports until `done` or 5 s pass.
template <typename Done>
bool refreshUntil(ModuleMonitor& monitor, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        monitor.waitForChange(200);
        monitor.refresh();
    }
    return true;
}

TEST(ModuleMonitor, SaysWhenOladIsMissingThenShowsWhatTheLibraryPutOnTheUniverse) {
    testing::TempFolder config;
    testing::OladSandbox olad;
    const auto loaded =
        portio::BackendModule::load(*portio::findBackend("ola"), portio::moduleFolders());
    ASSERT_TRUE(loaded) << loaded.error();
    const auto& module = *loaded;
    portio::PortSettings settings;
    settings.set("universe", {"2", "test"});
    settings.set("channel", {"3", "test"});
    settings.set("level", {"200", "test"});
    settings.set("ola-port", {std::to_string(olad.port()), "test"});

    ModuleMonitor monitor(888, module, settings);
    EXPECT_EQ(labelText(monitor, "portLabel").toStdString(),
              "port 888 (0x378) · OLA universe 2, channels 3–10 · olad 127.0.0.1:" +
                  std::to_string(olad.port()));
    const QString refused = "cannot connect to olad on 127.0.0.1:" + QString::number(olad.port()) +
                            ": Connection refused";
    EXPECT_TRUE(refreshUntil(monitor, [&] {
        return labelText(monitor, "statusLabel").startsWith(refused);
    })) << labelText(monitor, "statusLabel").toStdString();

    const std::string problem = olad.start();
    if (problem.rfind("skip: ", 0) == 0) {
        GTEST_SKIP() << "ola cannot be installed here: " << problem;
    }
    ASSERT_EQ(problem, "");
    testing::OlaTestClient client(olad.port());
    ASSERT_TRUE(client.patchDummyTo(2)) << client.error();
    // The watch tries again each second; by then olad is up.
    EXPECT_TRUE(refreshUntil(monitor, [&] {
        return monitor.findChild<QLabel*>("statusLabel")->isHidden();
    })) << labelText(monitor, "statusLabel").toStdString();

    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    ::setenv("PORTIO_BACKEND", "ola", 1);
    ::setenv("PORTIO_OLA_PORT", std::to_string(olad.port()).c_str(), 1);
    ::setenv("PORTIO_OLA_UNIVERSE", "2", 1);
    ::setenv("PORTIO_OLA_CHANNEL", "3", 1);
    ::setenv("PORTIO_OLA_LEVEL", "200", 1);
    PortLibrary library;
    library.out(888, 0xA5);
    EXPECT_TRUE(refreshUntil(monitor, [&] { return monitor.byte() == 0xA5; }));
    EXPECT_EQ(labelText(monitor, "byteLabel"), "0xA5");
    EXPECT_EQ(labelText(monitor, "levelsLabel"), "200 0 200 0 0 200 0 200");
}

}  // namespace
}  // namespace runlight::ui

int main(int argc, char** argv) {
    return runlight::testing::runMonitorTests(argc, argv);
}

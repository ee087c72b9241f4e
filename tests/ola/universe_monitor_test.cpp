// The lamp monitor's OLA view, offscreen, against an olad of the test's own:
// it says when olad cannot be reached, and shows what the port library put
// on the universe. The watcher is waited on, never the event loop: the test
// calls refresh() as the queued call from the watcher would.

#include "universe_monitor.h"

#include <stdlib.h>

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include "olad_sandbox.h"
#include "port_library.h"
#include "universe_watcher.h"

namespace runlight::ui {
namespace {

using portio::ola_backend::UniverseWatcher;

QString labelText(const QWidget& monitor, const char* name) {
    const auto* label = monitor.findChild<QLabel*>(name);
    return label != nullptr ? label->text() : QString("<no %1>").arg(name);
}

TEST(UniverseMonitor, SaysWhenOladIsMissingThenShowsWhatTheLibraryPutOnTheUniverse) {
    testing::TempFolder config;
    testing::OladSandbox olad;
    UniverseMonitor monitor(888, olad.port(), 2, 3);
    EXPECT_EQ(labelText(monitor, "portLabel").toStdString(),
              "port 888 (0x378) · OLA universe 2, channels 3–10 · olad 127.0.0.1:" +
                  std::to_string(olad.port()));
    ASSERT_TRUE(
        monitor.watcher().waitFor([](const auto& now) { return !now.problem.empty(); }, 5000));
    monitor.refresh();
    EXPECT_TRUE(labelText(monitor, "statusLabel")
                    .startsWith("cannot connect to olad on 127.0.0.1:" +
                                QString::number(olad.port()) + ": Connection refused"))
        << labelText(monitor, "statusLabel").toStdString();

    const std::string problem = olad.start();
    if (problem.rfind("skip: ", 0) == 0) {
        GTEST_SKIP() << "ola cannot be installed here: " << problem;
    }
    ASSERT_EQ(problem, "");
    testing::OlaTestClient client(olad.port());
    ASSERT_TRUE(client.patchDummyTo(2)) << client.error();
    // The watcher tries again each second; by then olad is up.
    ASSERT_TRUE(monitor.watcher().waitFor([](const auto& now) { return now.connected; },
                                          3 * UniverseWatcher::kRetryMs));

    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    ::setenv("PORTIO_BACKEND", "ola", 1);
    ::setenv("PORTIO_OLA_PORT", std::to_string(olad.port()).c_str(), 1);
    ::setenv("PORTIO_OLA_UNIVERSE", "2", 1);
    ::setenv("PORTIO_OLA_CHANNEL", "3", 1);
    ::setenv("PORTIO_OLA_LEVEL", "200", 1);
    PortLibrary library;
    library.out(888, 0xA5);
    const UniverseWatcher::Channels expected{200, 0, 200, 0, 0, 200, 0, 200};
    EXPECT_TRUE(
        monitor.watcher().waitFor([&](const auto& now) { return now.channels == expected; }, 5000));
    EXPECT_TRUE(monitor.refresh());
    EXPECT_EQ(monitor.byte(), 0xA5);
    EXPECT_EQ(labelText(monitor, "byteLabel"), "0xA5");
    EXPECT_EQ(labelText(monitor, "levelsLabel"), "200 0 200 0 0 200 0 200");
    EXPECT_TRUE(labelText(monitor, "statusLabel").isEmpty() ||
                !monitor.findChild<QLabel*>("statusLabel")->isVisibleTo(&monitor));
}

}  // namespace
}  // namespace runlight::ui

int main(int argc, char** argv) {
    // Also when listing the tests at build time, where no display is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The lamp monitor, offscreen: what another process writes to the simulated
// port shows in its lamps and its hex readout at the next look. The frame
// timer is never waited for: the test calls refresh() as the timer would.

#include "lamp_monitor.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "lamp_row.h"
#include "monitor_test.h"
#include "sim_port.h"
#include "temp_folder.h"

namespace runlight::ui {
namespace {

using runlight::testing::labelText;
using runlight::testing::TempFolder;

// Writes bytes to the simulated port 888 under `runtimeDir` from another process.
void writeFromAnotherProcess(const TempFolder& runtimeDir, const QStringList& bytes) {
    QProcess tool;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PORTIO_BACKEND", "sim");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir.path()));
    tool.setProcessEnvironment(environment);
    tool.start(PORTIO_OUT_PATH, bytes);
    ASSERT_TRUE(tool.waitForFinished(-1));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
}

std::string folderIn(const TempFolder& runtimeDir) {
    return portio::simFolder(runtimeDir.path(), "").value_or("");
}

// How bright each lamp (D0..D7) is drawn: the sum of its centre pixel's channels.
std::array<int, 8> lampBrightness(LampRow& lamps) {
    const QImage image = lamps.grab().toImage();
    std::array<int, 8> brightness{};
    for (int line = 0; line < 8; ++line) {
        const QColor pixel = image.pixelColor(lamps.lampCentre(line).toPoint());
        brightness.at(static_cast<std::size_t>(line)) = pixel.red() + pixel.green() + pixel.blue();
    }
    return brightness;
}

TEST(LampMonitor, ShowsAByteWrittenByAnotherProcessAtTheNextLook) {
    TempFolder runtime;
    LampMonitor monitor(888, folderIn(runtime));
    monitor.resize(600, 220);
    EXPECT_EQ(monitor.byte(), 0);
    EXPECT_EQ(labelText(monitor, "byteLabel"), "0x00");
    EXPECT_FALSE(monitor.refresh()) << "nothing written yet";

    writeFromAnotherProcess(runtime, {"0xA5"});
    EXPECT_TRUE(monitor.refresh());
    EXPECT_EQ(monitor.byte(), 0xA5);
    EXPECT_EQ(labelText(monitor, "byteLabel"), "0xA5");
    EXPECT_EQ(labelText(monitor, "bitsLabel"), "1010 0101");
    EXPECT_FALSE(monitor.refresh()) << "no change, nothing to show";

    const auto brightness = lampBrightness(monitor.lamps());
    const int dimmestLit = std::min({brightness[0], brightness[2], brightness[5], brightness[7]});
    const int brightestDark =
        std::max({brightness[1], brightness[3], brightness[4], brightness[6]});
    EXPECT_GT(dimmestLit, brightestDark + 150) << "lit lamps D7 D5 D2 D0 must stand out";
    EXPECT_LT(monitor.lamps().lampCentre(7).x(), monitor.lamps().lampCentre(0).x())
        << "D7 sits on the left";

    writeFromAnotherProcess(runtime, {"0x0F", "0x0F"});
    EXPECT_TRUE(monitor.refresh());
    EXPECT_EQ(monitor.byte(), 0x0F);
    const auto after = lampBrightness(monitor.lamps());
    EXPECT_GT(after[0], after[7] + 150) << "D0 lit, D7 dark now";
}

TEST(LampMonitor, StartsAfterTheRunningLightAndWaitsForAMissingFolder) {
    TempFolder runtime;
    writeFromAnotherProcess(runtime, {"0x81"});
    LampMonitor late(888, folderIn(runtime));
    EXPECT_EQ(late.byte(), 0x81) << "shows the byte already there at once";

    TempFolder other;
    LampMonitor early(888, other / "portio");  // before anyone made the folder
    EXPECT_FALSE(early.refresh());
    EXPECT_TRUE(
        labelText(early, "statusLabel").startsWith("No port: port 888 (0x378) (simulated): "))
        << "says which port and why it shows nothing";
    writeFromAnotherProcess(other, {"0x42"});
    EXPECT_TRUE(early.refresh());
    EXPECT_EQ(early.byte(), 0x42);
    EXPECT_TRUE(early.findChild<QLabel*>("statusLabel")->isHidden());
}

// The port's file cut short, then its folder removed, under a running
// monitor: it says that it has no port (instead of dying of SIGBUS, as a
// load from the cut mapping would), and at its next look makes the port
// afresh and shows what a writer then writes.
TEST(LampMonitor, SaysItHasNoPortWhenTheFileIsCutOrRemovedAndRecovers) {
    TempFolder runtime;
    writeFromAnotherProcess(runtime, {"0x81"});
    LampMonitor monitor(888, folderIn(runtime));
    ASSERT_TRUE(monitor.hasPort());
    const std::string file = runtime / "portio/port-888";

    ASSERT_EQ(::truncate(file.c_str(), 0), 0);
    EXPECT_FALSE(monitor.refresh());
    EXPECT_FALSE(monitor.hasPort());
    EXPECT_EQ(labelText(monitor, "statusLabel").toStdString(),
              "No port: port 888 (0x378) (simulated): " + file + " has been cut short");
    EXPECT_TRUE(monitor.refresh()) << "opened again, grown back to a dark port";
    EXPECT_EQ(monitor.byte(), 0);
    writeFromAnotherProcess(runtime, {"0x3C"});
    EXPECT_TRUE(monitor.refresh());
    EXPECT_EQ(monitor.byte(), 0x3C);
    EXPECT_TRUE(monitor.findChild<QLabel*>("statusLabel")->isHidden());

    std::filesystem::remove_all(runtime / "portio");
    EXPECT_FALSE(monitor.refresh()) << "nothing new to show yet";
    // The watcher looks at the path at its next idle wake-up at the latest.
    for (int i = 0; i < 1000 && monitor.hasPort(); ++i) {  // 10 s: only a hang reaches it
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QCoreApplication::sendPostedEvents();
    }
    EXPECT_FALSE(monitor.hasPort());
    EXPECT_TRUE(labelText(monitor, "statusLabel")
                    .startsWith(QString::fromStdString(
                        "No port: port 888 (0x378) (simulated): " + file + " is gone")))
        << labelText(monitor, "statusLabel").toStdString();
    writeFromAnotherProcess(runtime, {"0x24"});  // makes folder and file again
    EXPECT_TRUE(monitor.refresh());
    EXPECT_EQ(monitor.byte(), 0x24);
}

}  // namespace
}  // namespace runlight::ui

int main(int argc, char** argv) {
    return runlight::testing::runMonitorTests(argc, argv);
}

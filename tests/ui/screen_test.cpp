// The windows open whole on the screen, run once per screen size and scale
// factor (offscreen screens from tests/ui/screens, QT_SCALE_FACTOR): at their
// designed places where those fit, else moved the least; the lamp monitor
// beside the main window; the main window no smaller than its client area.

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QWindow>

#include "dialog.h"
#include "form1_rig.h"
#include "lamp_monitor.h"
#include "placement.h"
#include "screen_placement.h"
#include "sim_port.h"
#include "temp_folder.h"

namespace runlight::ui {
namespace {

using testing::Form1Rig;

QRect available() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// Lets the window system expose what was shown (and the windows be placed
// again with their real frames).
void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

QString describe(const QRect& r) {
    return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

// A framed window whose client area was designed at `designedClient`: whole
// on the screen, and, on each axis, either where the design puts it or
// against the edge of the screen it was moved from, no further.
void expectDesignedOrLeastMoved(const QWidget& window, const QPoint& clientAt,
                                const QPoint& designedClient) {
    const QRect frame = window.frameGeometry();
    const QRect area = available();
    const std::string what = describe(frame).toStdString() + " on " + describe(area).toStdString();
    EXPECT_TRUE(area.contains(frame)) << what;
    const QPoint moved = clientAt - designedClient;
    if (moved.x() < 0) {
        EXPECT_EQ(frame.right(), area.right()) << what;
    } else if (moved.x() > 0) {
        EXPECT_EQ(frame.left(), area.left()) << what;
    }
    if (moved.y() < 0) {
        EXPECT_EQ(frame.bottom(), area.bottom()) << what;
    } else if (moved.y() > 0) {
        EXPECT_EQ(frame.top(), area.top()) << what;
    }
}

TEST(Screen, MainWindowOpensWholeAtItsDesignedPlaceOrMovedTheLeast) {
    Form1Rig rig;
    settle();
    QWidget* client = rig.form.window.centralWidget();
    const QPoint clientAt = client->mapToGlobal(QPoint(0, 0));
    expectDesignedOrLeastMoved(rig.form.window, clientAt, QPoint(270, 235));
    // Where the designed place fits, it is the place.
    const QRect frame = rig.form.window.frameGeometry();
    if (available().contains(frame.translated(QPoint(270, 235) - clientAt))) {
        EXPECT_EQ(clientAt, QPoint(270, 235));
    }
}

TEST(Screen, AboutBoxOpensWholeAtItsDesignedPlaceOrMovedTheLeast) {
    Form1Rig rig;
    rig.form.find<QAction>(QStringLiteral("zorvik"))->trigger();
    settle();
    Dialog* dialog = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<Dialog*>(widget); found != nullptr && found->isVisible()) {
            dialog = found;
        }
    }
    ASSERT_NE(dialog, nullptr);
    const QPoint clientAt = dialog->mapToGlobal(QPoint(0, 0));
    expectDesignedOrLeastMoved(*dialog, clientAt, QPoint(296, 307));
    const QRect frame = dialog->frameGeometry();
    if (available().contains(frame.translated(QPoint(296, 307) - clientAt))) {
        EXPECT_EQ(clientAt, QPoint(296, 307));
    }
    // Both buttons are on the screen.
    for (const char* name : {"OKButton", "CancelButton"}) {
        QWidget* button = testing::control<QWidget>(*dialog, QString::fromLatin1(name));
        EXPECT_TRUE(available().contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size())))
            << name;
    }
    dialog->close();
    settle();
}

TEST(Screen, LampMonitorOpensBesideTheMainWindowCoveringNoneWhereThereIsRoom) {
    Form1Rig rig;
    runlight::testing::TempFolder runtime;
    LampMonitor monitor(888, portio::simFolder(runtime.path(), "").value_or(""));
    // As portio-monitor opens it.
    monitor.adjustSize();
    placeBesideRunningLight(monitor);
    monitor.show();
    settle();

    const QRect area = available();
    const QRect light = rig.form.window.frameGeometry();
    const QRect placed = monitor.frameGeometry();
    const std::string what = "monitor " + describe(placed).toStdString() + ", main window " +
                             describe(light).toStdString() + " on " + describe(area).toStdString();
    EXPECT_TRUE(area.contains(placed)) << what;
    // Room for the monitor at its smallest, framed as it is.
    const QSize least = monitor.minimumSizeHint() + (placed.size() - monitor.size());
    EXPECT_GE(monitor.width(), monitor.minimumSizeHint().width()) << what;
    EXPECT_GE(monitor.height(), monitor.minimumSizeHint().height()) << what;
    const bool room = area.right() - light.right() >= least.width() ||
                      light.left() - area.left() >= least.width() ||
                      area.bottom() - light.bottom() >= least.height() ||
                      light.top() - area.top() >= least.height();
    if (room) {
        EXPECT_FALSE(placed.intersects(light)) << what;
    }
}

TEST(Screen, MainWindowCannotBeMadeSmallerThanItsClientArea) {
    Form1Rig rig;
    Form1& window = rig.form.window;
    window.resize(100, 100);
    settle();
    QWidget* client = window.centralWidget();
    EXPECT_EQ(client->size(), QSize(458, 438));
    // START, the speed bar and the last enable box stay inside.
    for (const char* name : {"Start_Stop", "VScroll1", "Ch24"}) {
        QWidget* control = rig.form.find<QWidget>(QString::fromLatin1(name));
        const QRect inClient(control->mapTo(client, QPoint(0, 0)), control->size());
        EXPECT_TRUE(client->rect().contains(inClient)) << name;
    }
}

// Qt's window system for the program, chosen from the desktop's variables:
// XWayland where a Wayland desktop runs it, else whatever Qt or the user picks.
TEST(Screen, AWaylandDesktopWithXWaylandOpensTheWindowsThroughIt) {
    const char* const names[] = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
    QByteArray saved[3];
    bool wasSet[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = qgetenv(names[i]);
        wasSet[i] = qEnvironmentVariableIsSet(names[i]);
    }
    struct Case {
        const char* what;
        const char* values[3];
        const char* chosen;
    };
    const Case cases[] = {
        {"Wayland with XWayland", {"", "wayland-0", ":0"}, "xcb;wayland"},
        {"Wayland without XWayland: Qt chooses", {"", "wayland-0", ""}, ""},
        {"an X11 desktop: Qt chooses", {"", "", ":0"}, ""},
        {"the user's choice is kept", {"wayland", "wayland-0", ":0"}, "wayland"},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < 3; ++i) {
            qputenv(names[i], c.values[i]);
        }
        preferX11OnWayland();
        EXPECT_EQ(qgetenv("QT_QPA_PLATFORM").toStdString(), c.chosen) << c.what;
    }
    for (int i = 0; i < 3; ++i) {
        if (wasSet[i]) {
            qputenv(names[i], saved[i]);
        } else {
            qunsetenv(names[i]);
        }
    }
}

}  // namespace
}  // namespace runlight::ui

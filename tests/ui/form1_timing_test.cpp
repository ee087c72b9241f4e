// The window's two timing aids: the waker that wakes the event loop when the
// step timer falls due, and the drawing of at most one frame at a time,
// which must never lose a change.

#include <gtest/gtest.h>

#include <QImage>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include "form1_rig.h"
#include "timer_waker.h"

namespace runlight::ui {
namespace {

using testing::Form1Rig;

std::int64_t g_now = 0;  // the fake clock's ns
std::int64_t fakeNow() {
    return g_now;
}

TEST(TimerWaker, KeepsTheTimersPhaseAndRestartsWithItAfterATickAWholePeriodLate) {
    constexpr std::int64_t kStart = 5'000'000'000;
    constexpr std::int64_t kPeriod = 2'000'000;
    g_now = kStart;
    QTimer timer;
    timer.setObjectName(QStringLiteral("Timer1"));
    TimerWaker waker{timer, &fakeNow};
    EXPECT_EQ(waker.objectName(), "Timer1Waker");
    timer.start(2);
    waker.started();
    EXPECT_EQ(waker.nextWakeNs(), kStart + kPeriod);

    g_now = kStart + kPeriod + 300'000;  // 0.3 ms late: the phase stays
    waker.ticked();
    EXPECT_EQ(waker.nextWakeNs(), kStart + 2 * kPeriod);
    g_now = kStart + 2 * kPeriod;  // on time
    waker.ticked();
    EXPECT_EQ(waker.nextWakeNs(), kStart + 3 * kPeriod);

    g_now = kStart + 3 * kPeriod + kPeriod;  // a whole period late: a new phase
    waker.ticked();
    EXPECT_EQ(waker.nextWakeNs(), g_now + kPeriod);
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 2);

    timer.stop();
    waker.stopped();
    EXPECT_EQ(waker.nextWakeNs(), 0);
    g_now += 10 * kPeriod;
    waker.ticked();
    EXPECT_EQ(waker.nextWakeNs(), 0);
    EXPECT_FALSE(timer.isActive()) << "a tick after the stop restarts nothing";
}

TEST(Form1Timing, TheWakerFollowsEveryStartAndStopOfTheStepTimer) {
    Form1Rig rig;
    auto* waker = rig.form.window.findChild<TimerWaker*>(QStringLiteral("Timer1Waker"));
    ASSERT_NE(waker, nullptr);
    auto* bar = rig.form.find<QScrollBar>("VScroll1");
    const std::int64_t before = TimerWaker::monotonicNs();
    QTest::keyClick(bar, Qt::Key_Home);  // 2 ms a step
    const std::int64_t after = TimerWaker::monotonicNs();
    EXPECT_GE(waker->nextWakeNs(), before + 2'000'000);
    EXPECT_LE(waker->nextWakeNs(), after + 2'000'000);
    rig.form.window.close();
    EXPECT_EQ(waker->nextWakeNs(), 0) << "no wake-ups after the close";
}

// Pure red pixels of `widget`'s area in what the window last drew.
int redOnScreen(QWidget& window, QWidget& widget) {
    const QImage screen = window.screen()->grabWindow(window.winId()).toImage();
    const QRect area(widget.mapTo(&window, QPoint(0, 0)), widget.size());
    int red = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            red += screen.pixelColor(x, y) == QColor(255, 0, 0) ? 1 : 0;
        }
    }
    return red;
}

TEST(Form1Timing, TicksFasterThanFramesAllReachTheScreenByTheNextFrame) {
    Form1Rig rig;
    auto& form = rig.form;
    for (const char* name : {"Ch9", "Ch10", "Ch11"}) {
        form.box(QString::fromUtf8(name))->setCheckState(Qt::Checked);
    }
    form.clickStartStop();
    auto* frame = form.window.findChild<QTimer*>(QStringLiteral("frameTimer"));
    ASSERT_NE(frame, nullptr);
    for (int tick = 0; tick < 3; ++tick) {
        form.tick();
        QCoreApplication::processEvents();
    }
    // The widgets hold the last step at once, drawn or not.
    EXPECT_TRUE(form.isRed("Ch11"));
    // A frame still pending is drawn when its timer expires; expire it now.
    if (frame->isActive()) {
        QMetaObject::invokeMethod(frame, "timeout", Qt::DirectConnection);
    }
    EXPECT_GE(redOnScreen(form.window, *form.box("Ch11")), 20);
    EXPECT_EQ(redOnScreen(form.window, *form.box("Ch9")), 0);
    EXPECT_EQ(redOnScreen(form.window, *form.box("Ch10")), 0);
}

}  // namespace
}  // namespace runlight::ui

// The window's two timing aids: the step clock, which wakes the event loop
// when Timer1 falls due while the sequencer runs, and the drawing of at most
// one frame at a time, which must never lose a change.

#include <sched.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>

#include "form1_rig.h"
#include "frame_pacer.h"
#include "step_clock.h"

namespace runlight::ui {
namespace {

using testing::Form1Rig;

using std::chrono::steady_clock;
using Ns = std::chrono::nanoseconds;

steady_clock::time_point g_now;  // the fake clock's time
steady_clock::time_point fakeNow() {
    return g_now;
}

void tick(StepClock& clock) {
    QMetaObject::invokeMethod(clock.findChild<QTimer*>(QStringLiteral("Timer1")), "timeout",
                              Qt::DirectConnection);
}

TEST(StepClock, KeepsTimer1sPhaseAndWakesEachTickOnlyWhileTheStepsRun) {
    const steady_clock::time_point kStart{Ns(5'000'000'000)};
    constexpr Ns kPeriod{2'000'000};
    g_now = kStart;
    int stepsDue = 0;
    StepClock* running = nullptr;  // a step that fails stops the steps from inside a tick
    StepClock clock{[&] {
                        ++stepsDue;
                        if (running != nullptr) {
                            running->setStepsRunning(false);
                        }
                    },
                    nullptr, &fakeNow};
    auto* timer1 = clock.findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(timer1, nullptr);
    clock.start();
    clock.setPeriod(2);
    EXPECT_EQ(clock.nextDue(), kStart + kPeriod);
    EXPECT_FALSE(clock.wakesEachTick()) << "stopped: Timer1 alone wakes the loop";

    clock.setStepsRunning(true);
    EXPECT_TRUE(clock.wakesEachTick());
    g_now = kStart + kPeriod + Ns(300'000);  // 0.3 ms late: the phase stays
    tick(clock);
    EXPECT_EQ(clock.nextDue(), kStart + 2 * kPeriod);
    EXPECT_EQ(stepsDue, 1) << "the tick told that a step is due";
    g_now = kStart + 2 * kPeriod;  // on time
    tick(clock);
    EXPECT_EQ(clock.nextDue(), kStart + 3 * kPeriod);

    g_now = kStart + 3 * kPeriod + kPeriod;  // a whole period late: a new phase
    tick(clock);
    EXPECT_EQ(clock.nextDue(), g_now + kPeriod);
    EXPECT_TRUE(timer1->isActive());
    EXPECT_EQ(timer1->interval(), 2);
    EXPECT_TRUE(clock.wakesEachTick());

    running = &clock;  // the next step stops the steps while its tick runs
    g_now += kPeriod;
    tick(clock);
    EXPECT_FALSE(clock.wakesEachTick()) << "stopped in a tick: no more wake-ups of its own";
    EXPECT_TRUE(timer1->isActive()) << "the design's timer runs on";
    running = nullptr;

    clock.close();
    EXPECT_EQ(clock.nextDue(), steady_clock::time_point{});
    EXPECT_FALSE(timer1->isActive());
    clock.setStepsRunning(true);
    EXPECT_FALSE(clock.wakesEachTick()) << "after the close nothing wakes the loop";
    const int dueBefore = stepsDue;
    g_now += 10 * kPeriod;
    tick(clock);
    EXPECT_EQ(stepsDue, dueBefore) << "a tick after the close tells nothing";
    EXPECT_EQ(clock.nextDue(), steady_clock::time_point{});
    EXPECT_FALSE(timer1->isActive()) << "a tick after the close restarts nothing";
}

// The real clock's time, and when Timer1 falls due, in ns of CLOCK_MONOTONIC.
std::int64_t monotonicNs() {
    return std::chrono::duration_cast<Ns>(steady_clock::now().time_since_epoch()).count();
}
std::int64_t nextDueNs(const StepClock& clock) {
    return std::chrono::duration_cast<Ns>(clock.nextDue().time_since_epoch()).count();
}

TEST(Form1Timing, TheStepClockFollowsEveryPeriodAndEveryStartAndStop) {
    Form1Rig rig;
    auto* clock = rig.form.window.findChild<StepClock*>(QStringLiteral("stepClock"));
    ASSERT_NE(clock, nullptr);
    auto* bar = rig.form.find<QScrollBar>("VScroll1");
    const std::int64_t before = monotonicNs();
    QTest::keyClick(bar, Qt::Key_Home);  // 2 ms a step
    const std::int64_t after = monotonicNs();
    EXPECT_GE(nextDueNs(*clock), before + 2'000'000);
    EXPECT_LE(nextDueNs(*clock), after + 2'000'000);
    EXPECT_FALSE(clock->wakesEachTick());
    rig.form.clickStartStop();
    EXPECT_TRUE(clock->wakesEachTick()) << "START";
    // The wake-ups are armed at Timer1's own due moments (an absolute
    // deadline, period after period): never a delay counted from a late
    // wake-up, which would add its lateness to every step.
    const auto* wakeUps = clock->findChild<QSocketNotifier*>();
    ASSERT_NE(wakeUps, nullptr);
    itimerspec armed{};
    const std::int64_t asked = monotonicNs();
    ASSERT_EQ(::timerfd_gettime(static_cast<int>(wakeUps->socket()), &armed), 0);
    const std::int64_t answered = monotonicNs();
    const auto ns = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    constexpr std::int64_t kPeriod = 2'000'000;
    EXPECT_EQ(ns(armed.it_interval), kPeriod);
    EXPECT_GT(ns(armed.it_value), 0);
    EXPECT_LE(ns(armed.it_value), kPeriod);
    // The next wake-up lies a whole number of periods after Timer1's due
    // moment (more than none only if the loop has not yet taken a tick).
    const std::int64_t offPhase = (asked + ns(armed.it_value) - nextDueNs(*clock)) % kPeriod;
    const std::int64_t slack = answered - asked;
    EXPECT_TRUE(offPhase == 0 || offPhase >= kPeriod - slack || -offPhase <= slack)
        << offPhase << " ns off Timer1's phase";
    rig.form.clickStartStop();
    EXPECT_FALSE(clock->wakesEachTick()) << "STOP";
    rig.form.clickStartStop();
    rig.form.window.close();
    EXPECT_EQ(nextDueNs(*clock), 0) << "no wake-ups after the close";
    EXPECT_FALSE(clock->wakesEachTick());
}

int schedulingPolicy() {
    return sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
}

TEST(Form1Timing, TheStepsHoldARealtimeClassOnlyWhileTheLightRuns) {
    auto rig = std::make_unique<Form1Rig>();
    ASSERT_EQ(schedulingPolicy(), SCHED_OTHER);
    rig->form.clickStartStop();
    if (schedulingPolicy() != SCHED_FIFO) {
        // Root may always ask; anyone else only with a limits.d entry or RealtimeKit.
        ASSERT_TRUE(geteuid() != 0 || qEnvironmentVariable("QTX_REALTIME") == QLatin1String("0"));
        GTEST_SKIP() << "this thread may not be made realtime here";
    }
    rig->form.clickStartStop();
    EXPECT_EQ(schedulingPolicy(), SCHED_OTHER) << "STOP";
    rig->form.clickStartStop();
    EXPECT_EQ(schedulingPolicy(), SCHED_FIFO) << "START again";
    rig->form.window.close();
    EXPECT_EQ(schedulingPolicy(), SCHED_OTHER) << "the window closed while running";

    rig = std::make_unique<Form1Rig>();
    rig->form.clickStartStop();
    EXPECT_EQ(schedulingPolicy(), SCHED_FIFO);
    rig.reset();
    EXPECT_EQ(schedulingPolicy(), SCHED_OTHER) << "the window destroyed while running";
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

// Steps 1 to 3 enabled and START clicked, with only the ticks the test
// gives: a real one (200 ms) would move the light on when a loaded machine
// makes the test slow. Returns the window's frame timer.
QTimer* startThreeStepsTickedByHand(testing::ShownForm1& form) {
    for (const char* name : {"Ch9", "Ch10", "Ch11"}) {
        form.box(QString::fromUtf8(name))->setCheckState(Qt::Checked);
    }
    form.clickStartStop();
    form.window.setTimerInterval(0);
    return form.window.findChild<QTimer*>(QStringLiteral("frameTimer"));
}

// A frame still pending is drawn when its timer expires; expires it now.
void drawPendingFrame(QTimer* frame) {
    if (frame->isActive()) {
        QMetaObject::invokeMethod(frame, "timeout", Qt::DirectConnection);
    }
}

TEST(Form1Timing, TicksFasterThanFramesAllReachTheScreenByTheNextFrame) {
    Form1Rig rig;
    auto& form = rig.form;
    auto* frame = startThreeStepsTickedByHand(form);
    ASSERT_NE(frame, nullptr);
    for (int tick = 0; tick < 3; ++tick) {
        form.tick();
        QCoreApplication::processEvents();
    }
    // The widgets hold the last step at once, drawn or not.
    EXPECT_TRUE(form.isRed("Ch11"));
    drawPendingFrame(frame);
    EXPECT_GE(redOnScreen(form.window, *form.box("Ch11")), 20);
    EXPECT_EQ(redOnScreen(form.window, *form.box("Ch9")), 0);
    EXPECT_EQ(redOnScreen(form.window, *form.box("Ch10")), 0);
}

// Counts the paint events and update requests of the widgets it watches.
class PaintCounter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints[watched->objectName()];
        } else if (event->type() == QEvent::UpdateRequest) {
            ++updateRequests;
        }
        return false;
    }
    QHash<QString, int> paints;
    int updateRequests = 0;
};

TEST(Form1Timing, AFrameDrawsWhatDiffersFromTheLastFrameAndLeavesNothingBehind) {
    Form1Rig rig;
    auto& form = rig.form;
    form.find<QCheckBox>("Check1_1")->setCheckState(Qt::Checked);  // step 2 shows another byte
    auto* frame = startThreeStepsTickedByHand(form);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form.window));
    form.tick();  // step 1
    QCoreApplication::processEvents();
    drawPendingFrame(frame);
    ASSERT_GE(redOnScreen(form.window, *form.box("Ch9")), 20);
    auto* list = form.find<QListWidget>("List1");
    const QString drawnText = list->item(0)->text();

    // A frame is drawn now (with nothing left to draw): the next one falls
    // due a frame from here, however long the looks above took. Whether the
    // two ticks come within it is measured from just before it, so a slow
    // machine can only make the test look at less, never fail.
    QElapsedTimer sinceFrame;
    sinceFrame.start();
    QMetaObject::invokeMethod(frame, "timeout", Qt::DirectConnection);
    PaintCounter counter;
    for (const char* name : {"Ch9", "Ch10", "Ch11"}) {
        form.box(QString::fromUtf8(name))->installEventFilter(&counter);
    }
    form.tick();  // step 2: its own byte
    EXPECT_NE(list->item(0)->text(), drawnText) << "the line holds the new text at once";
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), list->item(0)->text());
    form.tick();  // step 3
    // No frame fell due between the ticks.
    const bool sameFrame =
        sinceFrame.elapsed() < (FramePacer::kFrame - FramePacer::kEarlyStep).count();
    drawPendingFrame(frame);
    EXPECT_GE(redOnScreen(form.window, *form.box("Ch11")), 20);
    EXPECT_EQ(redOnScreen(form.window, *form.box("Ch9")), 0);
    EXPECT_EQ(redOnScreen(form.window, *form.box("Ch10")), 0);
    EXPECT_EQ(counter.paints.value("Ch9"), 1);
    EXPECT_EQ(counter.paints.value("Ch11"), 1);
    if (sameFrame) {
        EXPECT_EQ(counter.paints.value("Ch10"), 0) << "lit and dark again between two frames";
    }

    // Nothing is left to draw: no update request comes back as a frame of its
    // own (at 200 ms a step, that would be a second wake-up for every step).
    form.window.installEventFilter(&counter);
    counter.paints.clear();
    QTest::qWait(40);
    EXPECT_FALSE(frame->isActive());
    EXPECT_TRUE(counter.paints.isEmpty());
    EXPECT_EQ(counter.updateRequests, 0);
}

// Closing: the ticks end with the window, and so do the writes.
TEST(Form1Close, ClosingTheWindowEndsTheTicksAndTheWrites) {
    Form1Rig rig;
    auto& form = rig.form;
    form.box(QStringLiteral("Ch9"))->setCheckState(Qt::Checked);
    form.box(QStringLiteral("Check4_0"))->setCheckState(Qt::Checked);
    form.clickStartStop();
    form.tick();
    ASSERT_EQ(rig.port.values(), (std::vector<int>{0, 0x10}));

    EXPECT_TRUE(form.window.close());
    EXPECT_FALSE(form.timer()->isActive());
    form.tick();  // even a tick already on its way reaches no handler
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 0x10})) << "the lamps keep the last pattern";
    form.find<QScrollBar>("VScroll1")->setValue(300);
    EXPECT_FALSE(form.timer()->isActive()) << "a new period does not revive the ticks";
}

}  // namespace
}  // namespace runlight::ui

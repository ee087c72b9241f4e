#pragma once

#include <QMetaObject>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>

#include "unique_fd.h"

class QSocketNotifier;
class QTimer;

namespace runlight::realtime {
class RealtimeRequest;
}

namespace runlight::ui {

// The step clock: the design's timer Timer1, which runs from the window's
// load on and tells at every tick that a step is due (the window passes it
// on to StepSequencer::Timer1_Timer, which does nothing while stopped). It
// owns the period (ms), the phase (a new period counts from the moment it is
// set; ticks keep it) and the wake-ups; the sequencer tells it, through the
// window, when its steps start and stop running.
//
// Qt waits for its timers in whole milliseconds, rounded up: on its own, a
// 2 ms Timer1 fires 0 to 1 ms late and its steps come 2.3, 2.3, 1.3 ms
// apart. So while the steps run, a timerfd with absolute CLOCK_MONOTONIC
// deadlines (steady_clock's, on Linux) one period apart, just after each moment Timer1
// falls due, wakes the event loop, and Qt fires Timer1 in the same pass:
// one wake-up a step, on time. While stopped the timerfd is disarmed and
// Timer1 alone wakes the loop once a period (its ticks do nothing, but the
// design keeps it running, and its phase is where the next run begins).
// Timer1 stays the only source of ticks: tests and tools deliver ticks by
// hand through the QTimer named "Timer1", a child of this clock, and where
// no timerfd can be had the ticks come as Qt sends them.
class StepClock final : public QObject {
    Q_OBJECT
public:
    // The design's own setting of Timer1, in ms.
    static constexpr int kDesignPeriod = 200;

    using TimePoint = std::chrono::steady_clock::time_point;
    // The time now; tests pass their own.
    using Clock = TimePoint (*)();

    // Not yet ticking; `stepDue` is called at every tick of Timer1.
    StepClock(std::function<void()> stepDue, QObject* parent,
              Clock clock = &std::chrono::steady_clock::now);
    ~StepClock() override;
    StepClock(const StepClock&) = delete;
    StepClock& operator=(const StepClock&) = delete;

    // From now on, the thread this clock lives on (the window's) holds a
    // realtime class while the steps run (asked for at START, given back
    // at STOP and at close()); null: never. The request must outlive
    // the clock, or be replaced by null first.
    void setRealtime(realtime::RealtimeRequest* request);
    // The request set last; null: none (benchmarks tell what it got).
    const realtime::RealtimeRequest* realtimeRequest() const { return m_realtime; }

    // The window has loaded: ticks every kDesignPeriod ms from now on.
    void start();
    // A new period in ms, counted from now. A period of 0 or less stops the
    // ticks until the period changes again. After close() only the period
    // is kept: nothing ticks any more.
    void setPeriod(std::int32_t milliseconds);
    // The window has closed: no tick reaches the sequencer from now on, not
    // even one already on its way, and nothing wakes the loop for it.
    void close();
    // The sequencer's steps have started (true) or stopped (false): the
    // wake-ups and the realtime class follow.
    void setStepsRunning(bool running);

    // When Timer1 falls due next; the clock's epoch while it is stopped.
    TimePoint nextDue() const { return m_period.count() == 0 ? TimePoint{} : m_due; }
    // Whether the timerfd wakes the loop for each tick (only while running).
    bool wakesEachTick() const { return m_armed; }

private:
    void tick();
    // Timer1 (re)started with `milliseconds`; its phase counts from now.
    void restart(std::int32_t milliseconds);
    void stopTicks();
    // Arms the timerfd at the next due moment while the steps run, disarms
    // it otherwise.
    void arm();
    // Asks for the realtime class, or gives it back, as the run state says.
    void followRealtime();
    bool stepsWanted() const { return m_stepsRunning && !m_closed; }

    std::function<void()> m_stepDue;
    Clock m_clock;
    QTimer* m_timer1 = nullptr;
    UniqueFd m_fd;  // the timerfd; none where none could be had
    QSocketNotifier* m_notifier = nullptr;
    QMetaObject::Connection m_tick;
    realtime::RealtimeRequest* m_realtime = nullptr;
    std::chrono::nanoseconds m_period{0};  // 0 while Timer1 is stopped
    TimePoint m_due;                       // when Timer1 falls due next
    bool m_stepsRunning = false;
    bool m_armed = false;
    bool m_closed = false;
};

}  // namespace runlight::ui

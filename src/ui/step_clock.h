#pragma once

#include <QMetaObject>
#include <QObject>
#include <cstdint>
#include <functional>

class QTimer;

namespace runlight {
class StepSequencer;
}

namespace runlight::ui {

class TimerWaker;

// The step clock: the design's timer Timer1, which runs from the window's
// load on and whose every tick goes to StepSequencer::Timer1_Timer (which
// does nothing while stopped). It owns the period (ms), the phase (a new
// period starts counting from the moment it is set) and the wake-ups that
// bring each tick on time. Tests and tools deliver ticks by hand through the
// QTimer named "Timer1", a child of this clock.
class StepClock final : public QObject {
    Q_OBJECT
public:
    // The design's own setting of Timer1, in ms.
    static constexpr int kDesignPeriod = 200;

    // Not yet running; `sequencer` must outlive the clock.
    StepClock(StepSequencer& sequencer, QObject* parent);
    ~StepClock() override;
    StepClock(const StepClock&) = delete;
    StepClock& operator=(const StepClock&) = delete;

    // Called after every tick, once Timer1_Timer has returned (frame pacing).
    void setAfterTick(std::function<void()> afterTick) { m_afterTick = std::move(afterTick); }

    // The window has loaded: ticks every kDesignPeriod ms from now on.
    void start();
    // A new period in ms, counted from now. A period of 0 or less stops the
    // ticks until the period changes again. After close() only the period
    // is kept: nothing ticks any more.
    void setPeriod(std::int32_t milliseconds);
    // The window has closed: no tick reaches the sequencer from now on, not
    // even one already on its way.
    void close();

private:
    void tick();

    StepSequencer& m_sequencer;
    std::function<void()> m_afterTick;
    QTimer* m_timer1 = nullptr;
    TimerWaker* m_waker = nullptr;  // wakes the event loop when Timer1 falls due
    QMetaObject::Connection m_tick;
    bool m_closed = false;
};

}  // namespace runlight::ui

#pragma once

#include <QObject>
#include <cstdint>

class QSocketNotifier;
class QTimer;

namespace runlight::ui {

// Qt's timers wait in whole milliseconds, rounded up: a 2 ms QTimer fires 0
// to 1 ms late, and its steps come 2.3, 2.3, 1.3 ms apart. The waker wakes
// the event loop at the moment the timer falls due (a timerfd with the
// timer's period and phase, watched on the same thread); Qt then finds the
// timer due and fires it at once. The QTimer stays the only source of ticks:
// where no timerfd can be had, they simply come as Qt sends them.
class TimerWaker final : public QObject {
    Q_OBJECT
public:
    // CLOCK_MONOTONIC in ns; tests pass their own.
    using Clock = std::int64_t (*)();
    static std::int64_t monotonicNs();

    // A child of `timer`, named "<timer's name>Waker".
    explicit TimerWaker(QTimer& timer, Clock clock = &monotonicNs);
    ~TimerWaker() override;
    TimerWaker(const TimerWaker&) = delete;
    TimerWaker& operator=(const TimerWaker&) = delete;

    // Right after timer.start(...): wakes one period from now, and every
    // period after that.
    void started();
    // Right after timer.stop(): no more wake-ups.
    void stopped();
    // At each timeout of the timer. A tick that comes a whole period late
    // makes Qt take the timer's phase afresh from that moment; the timer is
    // then restarted with the waker, so that the two stay in step.
    void ticked();

    // When the next wake-up is due (clock's ns); 0 while stopped.
    std::int64_t nextWakeNs() const { return m_periodNs == 0 ? 0 : m_dueNs; }

private:
    void arm();

    QTimer& m_timer;
    Clock m_clock;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    std::int64_t m_periodNs = 0;  // 0 while stopped
    std::int64_t m_dueNs = 0;     // when the timer falls due next
};

}  // namespace runlight::ui

#include "step_clock.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include "realtime_request.h"

namespace runlight::ui {

namespace {
using std::chrono::nanoseconds;

// timerfd's time: the same epoch as steady_clock's (CLOCK_MONOTONIC).
timespec toTimespec(nanoseconds ns) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(ns);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((ns - seconds).count())};
}
}  // namespace

StepClock::StepClock(std::function<void()> stepDue, QObject* parent, Clock clock)
    : QObject(parent),
      m_stepDue(std::move(stepDue)),
      m_clock(clock),
      m_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    setObjectName(QStringLiteral("stepClock"));
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setTimerType(Qt::PreciseTimer);
    m_tick = connect(m_timer1, &QTimer::timeout, this, &StepClock::tick);
    if (m_fd) {
        m_notifier =
            new QSocketNotifier(static_cast<qintptr>(m_fd.get()), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            // Only the wake-up matters: Qt fires Timer1 in this same pass.
            std::uint64_t expiries = 0;
            static_cast<void>(::read(m_fd.get(), &expiries, sizeof expiries));
        });
    }
}

// The notifier, a Qt child, goes after the descriptor; it is not woken again.
StepClock::~StepClock() = default;

void StepClock::tick() {
    if (m_period.count() != 0) {
        // Up to 7/8 of a period late, Qt keeps Timer1's phase: the next tick
        // falls due one period after this one was due. Later than that, Qt
        // takes the phase afresh from now; Timer1 is then restarted, so that
        // the wake-ups know where it lies.
        if (m_clock() - m_due < m_period - m_period / 8) {
            m_due += m_period;
        } else {
            restart(m_timer1->interval());
        }
    }
    if (m_realtime != nullptr) {
        m_realtime->check();  // tells, once, that SIGXCPU took the realtime class
    }
    m_stepDue();
}

void StepClock::setRealtime(realtime::RealtimeRequest* request) {
    if (m_realtime != nullptr) {
        m_realtime->leave();
    }
    m_realtime = request;
    followRealtime();
}

void StepClock::start() {
    restart(kDesignPeriod);
}

void StepClock::setPeriod(std::int32_t milliseconds) {
    if (milliseconds <= 0) {
        stopTicks();  // a period of 0 stops the ticks until it changes again
        return;
    }
    if (m_closed) {
        m_timer1->setInterval(milliseconds);
        return;
    }
    restart(milliseconds);
}

void StepClock::close() {
    m_closed = true;
    stopTicks();
    disconnect(m_tick);
}

void StepClock::setStepsRunning(bool running) {
    m_stepsRunning = running;
    arm();
}

void StepClock::restart(std::int32_t milliseconds) {
    m_timer1->start(milliseconds);
    // Qt took Timer1's start a moment before this, so each wake-up comes
    // just after Timer1 falls due, never before (a wake-up before it would
    // leave Qt to wait the rest, rounded up to a whole millisecond).
    m_period = std::chrono::milliseconds(milliseconds);
    m_due = m_clock() + m_period;
    arm();
}

void StepClock::stopTicks() {
    m_timer1->stop();
    m_period = nanoseconds(0);
    arm();
}

void StepClock::followRealtime() {
    if (m_realtime == nullptr) {
        return;
    }
    if (stepsWanted()) {
        m_realtime->enter();
    } else {
        m_realtime->leave();
    }
}

void StepClock::arm() {
    followRealtime();  // also where no timerfd could be had
    m_armed = stepsWanted() && m_period.count() != 0 && m_fd;
    if (!m_fd) {
        return;
    }
    itimerspec when{};  // all zero: disarmed
    if (m_armed) {
        when = {toTimespec(m_period), toTimespec(m_due.time_since_epoch())};
    }
    ::timerfd_settime(m_fd.get(), TFD_TIMER_ABSTIME, &when, nullptr);
}

}  // namespace runlight::ui

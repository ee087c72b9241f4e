#include "step_clock.h"

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include "realtime_request.h"
#include "step_sequencer.h"

namespace runlight::ui {

namespace {
constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;

timespec toTimespec(std::int64_t ns) {
    return {static_cast<time_t>(ns / kNsPerS), static_cast<long>(ns % kNsPerS)};
}
}  // namespace

std::int64_t StepClock::monotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNsPerS + now.tv_nsec;
}

StepClock::StepClock(StepSequencer& sequencer, QObject* parent, Clock clock)
    : QObject(parent),
      m_sequencer(sequencer),
      m_clock(clock),
      m_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    setObjectName(QStringLiteral("stepClock"));
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setTimerType(Qt::PreciseTimer);
    m_tick = connect(m_timer1, &QTimer::timeout, this, &StepClock::tick);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(static_cast<qintptr>(m_fd), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            // Only the wake-up matters: Qt fires Timer1 in this same pass.
            std::uint64_t expiries = 0;
            static_cast<void>(::read(m_fd, &expiries, sizeof expiries));
        });
    }
}

StepClock::~StepClock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void StepClock::tick() {
    if (m_periodNs != 0) {
        // Up to 7/8 of a period late, Qt keeps Timer1's phase: the next tick
        // falls due one period after this one was due. Later than that, Qt
        // takes the phase afresh from now; Timer1 is then restarted, so that
        // the wake-ups know where it lies.
        if (m_clock() - m_dueNs < m_periodNs - m_periodNs / 8) {
            m_dueNs += m_periodNs;
        } else {
            restart(m_timer1->interval());
        }
    }
    if (m_realtime != nullptr) {
        m_realtime->check();  // tells, once, that SIGXCPU took the realtime class
    }
    const bool wasRunning = m_sequencer.running();
    m_sequencer.Timer1_Timer();
    if (m_sequencer.running() != wasRunning) {  // a failed write stops it
        arm();
    }
    if (m_afterTick) {
        m_afterTick();
    }
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

void StepClock::followRunState() {
    followRealtime();  // also where no timerfd could be had
    if (m_armed != (m_sequencer.running() && m_periodNs != 0 && !m_closed)) {
        arm();
    }
}

void StepClock::restart(std::int32_t milliseconds) {
    m_timer1->start(milliseconds);
    // Qt took Timer1's start a moment before this, so each wake-up comes
    // just after Timer1 falls due, never before (a wake-up before it would
    // leave Qt to wait the rest, rounded up to a whole millisecond).
    m_periodNs = static_cast<std::int64_t>(milliseconds) * kNsPerMs;
    m_dueNs = m_clock() + m_periodNs;
    arm();
}

void StepClock::stopTicks() {
    m_timer1->stop();
    m_periodNs = 0;
    arm();
}

void StepClock::followRealtime() {
    if (m_realtime == nullptr) {
        return;
    }
    if (m_sequencer.running() && !m_closed) {
        m_realtime->enter();
    } else {
        m_realtime->leave();
    }
}

void StepClock::arm() {
    followRealtime();
    m_armed = m_sequencer.running() && m_periodNs != 0 && !m_closed && m_fd >= 0;
    if (m_fd < 0) {
        return;
    }
    itimerspec when{};  // all zero: disarmed
    if (m_armed) {
        when = {toTimespec(m_periodNs), toTimespec(m_dueNs)};
    }
    ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &when, nullptr);
}

}  // namespace runlight::ui

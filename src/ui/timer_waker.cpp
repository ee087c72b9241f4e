#include "timer_waker.h"

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

namespace runlight::ui {

namespace {
constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;

timespec toTimespec(std::int64_t ns) {
    return {static_cast<time_t>(ns / kNsPerS), static_cast<long>(ns % kNsPerS)};
}
}  // namespace

std::int64_t TimerWaker::monotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNsPerS + now.tv_nsec;
}

TimerWaker::TimerWaker(QTimer& timer, Clock clock)
    : QObject(&timer),
      m_timer(timer),
      m_clock(clock),
      m_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    setObjectName(timer.objectName() + QStringLiteral("Waker"));
    if (m_fd < 0) {
        return;  // the ticks come as Qt sends them
    }
    m_notifier = new QSocketNotifier(static_cast<qintptr>(m_fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        // Only the wake-up matters: Qt fires the timer after this.
        std::uint64_t expiries = 0;
        static_cast<void>(::read(m_fd, &expiries, sizeof expiries));
    });
}

TimerWaker::~TimerWaker() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void TimerWaker::started() {
    // Qt took the timer's start a moment before this, so each wake-up comes
    // just after the timer falls due, never before.
    m_periodNs = static_cast<std::int64_t>(m_timer.interval()) * kNsPerMs;
    m_dueNs = m_clock() + m_periodNs;
    arm();
}

void TimerWaker::stopped() {
    m_periodNs = 0;
    arm();
}

void TimerWaker::ticked() {
    if (m_periodNs == 0) {
        return;
    }
    // Up to 7/8 of a period late, Qt keeps the timer's phase: the next tick
    // falls due one period after this one was due.
    if (m_clock() - m_dueNs < m_periodNs - m_periodNs / 8) {
        m_dueNs += m_periodNs;
        return;
    }
    m_timer.start();  // same period, phase from now
    started();
}

void TimerWaker::arm() {
    if (m_fd < 0) {
        return;
    }
    itimerspec when{};  // all zero: disarmed
    if (m_periodNs > 0) {
        when = {toTimespec(m_periodNs), toTimespec(m_dueNs)};
    }
    ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &when, nullptr);
}

}  // namespace runlight::ui

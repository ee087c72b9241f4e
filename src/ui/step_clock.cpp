#include "step_clock.h"

#include <QTimer>

#include "step_sequencer.h"
#include "timer_waker.h"

namespace runlight::ui {

StepClock::StepClock(StepSequencer& sequencer, QObject* parent)
    : QObject(parent), m_sequencer(sequencer) {
    setObjectName(QStringLiteral("stepClock"));
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setTimerType(Qt::PreciseTimer);
    m_waker = new TimerWaker(*m_timer1);
    m_tick = connect(m_timer1, &QTimer::timeout, this, &StepClock::tick);
}

StepClock::~StepClock() = default;

void StepClock::tick() {
    m_waker->ticked();
    m_sequencer.Timer1_Timer();
    if (m_afterTick) {
        m_afterTick();
    }
}

void StepClock::start() {
    m_timer1->start(kDesignPeriod);
    m_waker->started();
}

void StepClock::setPeriod(std::int32_t milliseconds) {
    if (milliseconds <= 0) {
        m_timer1->stop();  // a period of 0 stops the ticks until it changes again
        m_waker->stopped();
        return;
    }
    if (m_closed) {
        m_timer1->setInterval(milliseconds);
        return;
    }
    m_timer1->start(milliseconds);
    m_waker->started();
}

void StepClock::close() {
    m_closed = true;
    m_timer1->stop();
    m_waker->stopped();
    disconnect(m_tick);
}

}  // namespace runlight::ui

#include "step_sequencer.h"

#include <optional>
#include <string>

#include "port_sink.h"
#include "window_ops.h"

namespace runlight {

StepSequencer::StepSequencer(WindowOps& window, PortSink& port)
    : m_window(window), m_module(port), m_program(window), m_readout(window) {}

void StepSequencer::Form_Load() {
    if (m_window.speedPosition() != kStartupSpeed) {
        // The bar's change event, as a user's move raises it: it sets the period.
        m_window.setSpeedPosition(kStartupSpeed);
        VScroll1_Change();
    }
    Running = 0;
    StepNo = 0;
    m_module.PortAddr = kPortAddress;
}

void StepSequencer::Start_Stop_Click() {
    if (Running == 1) {
        stop();
    } else {
        start();
    }
}

void StepSequencer::start() {
    Running = 1;
    m_window.setCaption(CaptionControl::Start_Stop, "STOP");
    m_window.setCaption(CaptionControl::Label6, "Fut.");
    m_module.PortAddr = kPortAddress;
    try {
        m_module.WritePort(0);  // all channels off at once
    } catch (const PortError& error) {
        stopAndReport(error.what());
        return;
    }
    // The timer is not touched: the run begins at its next tick.
    StepNo = 0;
    m_window.setStepsRunning(true);
}

void StepSequencer::VScroll1_Change() {
    Speed = m_window.speedPosition();
    m_window.setTimerInterval(Speed);
}

void StepSequencer::Timer1_Timer() {
    std::optional<std::string> failure;  // a failure stops the run whatever its text
    if (Running == 1) {
        ClearHighlight();
        StepNo += 1;
        try {
            // One forward pass over the blocks 1..16. A block acts only if
            // StepNo names it, as earlier blocks of this pass have left it, so
            // a disabled successor is passed over in the same tick. After step
            // 16 only step 1 is passed over; that is what makes the blank
            // ticks at the wrap.
            for (int k = 1; k <= kStepCount; ++k) {
                if (StepNo != k) {
                    continue;
                }
                if (m_program.isEnabled(k)) {
                    showStep(k);
                }
                if (k < kStepCount) {
                    if (!m_program.isEnabled(k + 1)) {
                        StepNo += 1;
                    }
                } else if (!m_program.isEnabled(1)) {
                    StepNo = 1;
                }
            }
        } catch (const PortError& error) {
            failure = error.what();
        }
    }
    if (StepNo == kStepCount) {
        StepNo = 0;
    }
    if (failure) {
        stopAndReport(*failure);
    }
}

void StepSequencer::ClearHighlight() {
    for (int step = 0; step < kStepCount; ++step) {
        m_window.setEnableBoxColour(step, kButtonFaceColour);
    }
}

void StepSequencer::showStep(int step) {
    m_window.setEnableBoxColour(step - 1, kHighlightColour);
    const std::uint8_t OutValue = m_program.ComposeStep(step);
    m_module.WritePort(OutValue);
    m_readout.ShowPattern(OutValue);
}

void StepSequencer::stop() {
    Running = 0;
    m_window.setCaption(CaptionControl::Start_Stop, "START");
    m_window.setCaption(CaptionControl::Label6, "Áll.");
    m_window.setStepsRunning(false);
}

void StepSequencer::stopAndReport(const std::string& message) {
    // Stop first, so that no tick writes while the report is up; the step
    // program in the window stays as it is.
    stop();
    m_window.reportPortError(message);
}

}  // namespace runlight

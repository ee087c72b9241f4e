#include "step_program.h"

#include "window_ops.h"

namespace runlight {

std::uint8_t StepProgram::ComposeStep(int step) const {
    unsigned OutValue = 0;
    unsigned weight = 128;  // Check1 is bit 7
    for (int channel = 0; channel < kChannelCount; ++channel, weight /= 2) {
        if (m_window.channelBox(step - 1, channel) == Box::Checked) {
            OutValue += weight;
        }
    }
    return static_cast<std::uint8_t>(OutValue);
}

bool StepProgram::isEnabled(int step) const {
    return m_window.enableBox(step - 1) == Box::Checked;
}

}  // namespace runlight

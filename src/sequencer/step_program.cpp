#include "step_program.h"

#include "module1.h"
#include "window_ops.h"

namespace runlight {

void StepProgram::ComposeStep(int step) {
    m_module.OutValue = 0;
    int weight = 128;  // Check1 is bit 7
    for (int channel = 0; channel < kChannelCount; ++channel, weight /= 2) {
        if (m_window.channelBox(step - 1, channel) == Box::Checked) {
            m_module.OutValue += weight;
        }
    }
}

bool StepProgram::isEnabled(int step) const {
    return m_window.enableBox(step - 1) == Box::Checked;
}

}  // namespace runlight

#pragma once

#include <cstdint>

namespace runlight {

class WindowOps;

inline constexpr int kStepCount = 16;    // steps 1..16
inline constexpr int kChannelCount = 8;  // channel boxes Check1..Check8 of a step

// The step program lives only in the window's check boxes; this reads them at
// the moment they are needed, so an edit made while running counts from the
// next tick that reaches the edited step.
class StepProgram {
public:
    explicit StepProgram(const WindowOps& window) : m_window(window) {}

    // The byte of step `step` (1..16): bit 7 is Check1, bit 0 is Check8; only
    // a ticked box (value 1) sets its bit. One routine for the sixteen
    // ComposeStep1..ComposeStep16 of the design. Called by the tick, which
    // writes the byte and shows it.
    std::uint8_t ComposeStep(int step) const;

    // Whether the enable box of step `step` (1..16) is ticked (value 1).
    bool isEnabled(int step) const;

private:
    const WindowOps& m_window;
};

}  // namespace runlight

#pragma once

#include <cstdint>
#include <string>

#include "module1.h"
#include "pattern_readout.h"
#include "step_program.h"

namespace runlight {

class PortSink;
class WindowOps;

inline constexpr std::int16_t kPortAddress =
    888;  // 0x378, data register of the first parallel port
inline constexpr std::int16_t kStartupSpeed = 200;  // ms per step after start-up

// The running light's engine: the run state, the step counter and the four
// handlers the window forwards its events to. It never reads a clock; the
// window's timer calls Timer1_Timer, and so do the tests.
class StepSequencer {
public:
    StepSequencer(WindowOps& window, PortSink& port);

    // The window has loaded, before it is first shown: speed bar to 200 (and
    // VScroll1_Change if that moved it), stopped, step counter 0, port 888.
    // The port is not touched.
    void Form_Load();
    // The start/stop button was clicked. Starting writes 0 to the port at once
    // and restarts from step 1 at the next tick; stopping leaves port, readout
    // and highlight as they are. Either way the window hears of it
    // (WindowOps::setStepsRunning), and so does it when a failed write stops
    // the run.
    void Start_Stop_Click();
    // The speed bar reported a new position: the timer period follows it (ms).
    void VScroll1_Change();
    // One tick of the step timer; does nothing while stopped. The window
    // calls it when its step clock says a step is due; so do the tests.
    void Timer1_Timer();

    bool running() const { return Running == 1; }
    int stepNo() const { return StepNo; }
    int speed() const { return Speed; }
    const Module1& module() const { return m_module; }

private:
    void ClearHighlight();
    // Shows step k (1..16): highlight, compose, write, readout, in that order.
    void showStep(int step);
    void start();
    void stop();
    void stopAndReport(const std::string& message);

    WindowOps& m_window;
    Module1 m_module;
    StepProgram m_program;
    PatternReadout m_readout;

    int Running = 0;  // 0 stopped, 1 running
    int StepNo = 0;   // last step consumed: 0..16 during a tick, 0..15 between ticks
    int Speed = 0;    // copy of the speed bar's position, ms per tick
};

}  // namespace runlight

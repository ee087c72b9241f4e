#pragma once

// A sequencer on an in-memory window and a recording port, loaded and wired as
// the real window wires it (the speed bar's change event reaches VScroll1_Change).

#include <vector>

#include "fake_window.h"
#include "recording_port.h"
#include "step_sequencer.h"

namespace runlight::testing {

struct SequencerRig {
    FakeWindow window;
    RecordingPort port;
    StepSequencer seq{window, port};

    SequencerRig() {
        window.onSpeedChange = [this] { seq.VScroll1_Change(); };
        seq.Form_Load();
    }

    // One timer tick; returns the step it showed (1..16), or 0 for a blank tick.
    int tick() {
        const auto before = port.writes().size();
        seq.Timer1_Timer();
        const auto red = window.redSteps();
        const bool wrote = port.writes().size() > before;
        if (red.size() == 1 && wrote) {
            return red.front();
        }
        return wrote || !red.empty() ? -1 : 0;  // -1: highlight and port disagree
    }
    std::vector<int> ticks(int count) {
        std::vector<int> shown;
        for (int i = 0; i < count; ++i) {
            shown.push_back(tick());
        }
        return shown;
    }
};

}  // namespace runlight::testing

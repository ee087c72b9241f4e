#pragma once

// A sequencer on an in-memory window and a recording port, loaded as the real
// window loads it.

#include <vector>

#include "fake_window.h"
#include "recording_port.h"
#include "step_sequencer.h"

namespace runlight::testing {

struct SequencerRig {
    FakeWindow window;
    RecordingPort port;
    StepSequencer seq{window, port};

    SequencerRig() { seq.Form_Load(); }

    // The user moves the speed bar: its change event reaches VScroll1_Change.
    void moveBar(std::int16_t position) {
        window.speedBar = position;
        seq.VScroll1_Change();
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

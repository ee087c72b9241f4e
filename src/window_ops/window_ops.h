#pragma once

// All that the running-light logic knows of its window. No toolkit here: the
// Qt window in src/ui implements it, and the tests use an in-memory window.
// Every call comes on the one user-interface thread, one at a time.

#include <cstdint>
#include <string_view>

namespace runlight {

// A check box's value as the window stores it. Only Checked counts as on
// (channel box) or enabled (enable box); Grayed is off.
enum class Box : std::uint8_t { Unchecked = 0, Checked = 1, Grayed = 2 };

// Back colours in the window system's colour encoding: a plain 0x00BBGGRR
// value, or a system colour with the top bit set and its index below.
inline constexpr std::uint32_t kHighlightColour = 255;           // pure red
inline constexpr std::uint32_t kButtonFaceColour = 0x8000000FU;  // system colour 15

// The two controls whose caption the logic sets.
enum class CaptionControl : std::uint8_t {
    Start_Stop,  // the start/stop button: "START" or "STOP"
    Label6,      // the run-state label: "Fut." or "Áll."
};

class WindowOps {
public:
    virtual ~WindowOps() = default;

    // Value of channel box `channel` (0..7, Check1..Check8) of step `step`
    // (0..15): the value the user last set.
    virtual Box channelBox(int step, int channel) const = 0;
    // Value of the enable box of step `step` (0..15, Ch9..Ch24).
    virtual Box enableBox(int step) const = 0;
    // Back colour of the enable box of step `step` (0..15); it stays until set again.
    virtual void setEnableBoxColour(int step, std::uint32_t colour) = 0;

    // Caption shown at once; UTF-8.
    virtual void setCaption(CaptionControl control, std::string_view text) = 0;

    // Speed bar position, ms per step. Only the user's moves of the bar raise
    // its change event (VScroll1_Change); the logic, when it moves the bar,
    // runs that handler itself.
    virtual void setSpeedPosition(std::int16_t position) = 0;
    virtual std::int16_t speedPosition() const = 0;

    // Step timer period in ms; the timer ticks at that period from now on.
    virtual void setTimerInterval(std::int32_t milliseconds) = 0;
    // The sequencer has started (true) or stopped (false). The timer ticks
    // either way; a window may wake for each tick, and ask for a realtime
    // class, only while the steps run.
    virtual void setStepsRunning(bool running) = 0;

    // Readout list: empties it / appends one line at its end (UTF-8).
    virtual void clearReadout() = 0;
    virtual void addReadoutLine(std::string_view text) = 0;
    // Readout list: its lines replaced by the one line `text`, as clearReadout
    // and addReadoutLine would leave it. A window may do it more cheaply.
    virtual void replaceReadout(std::string_view text) {
        clearReadout();
        addReadoutLine(text);
    }

    // Tells the user that the port could not be written. Called after the
    // sequencer has stopped, with a message naming the library or export, the
    // port and the system's reason. May run the event loop (a message box):
    // the sequencer is stopped by then, so ticks do nothing meanwhile.
    virtual void reportPortError(std::string_view message) = 0;
};

}  // namespace runlight

#pragma once

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "form1_layout.h"
#include "step_sequencer.h"
#include "window_ops.h"

namespace runlight {
class PortSink;
}

namespace runlight::realtime {
class RealtimeKit;
class RealtimeRequest;
}  // namespace runlight::realtime

namespace runlight::ui {

class Dialog;
class FramePacer;
class StepClock;

// The main window as the logic sees it: the window-operations adapter. It
// ties together the design's layout (form1_layout.h), the step clock
// (step_clock.h) and the frame pacing (frame_pacer.h), and holds no step
// logic: load, click, change and the clock's "a step is due" go to the
// StepSequencer, and the sequencer reaches the controls, the clock
// included, through the WindowOps members below.
class Form1 final : public QMainWindow, public WindowOps {
    Q_OBJECT
public:
    // Builds the window and loads it (Form_Load; the step timer runs from
    // here on). `port` receives every byte written; it must outlive the window.
    explicit Form1(PortSink& port, QWidget* parent = nullptr);
    ~Form1() override;

    // --- WindowOps: what the sequencer asks of the window ---
    Box channelBox(int step, int channel) const override;
    Box enableBox(int step) const override;
    void setEnableBoxColour(int step, std::uint32_t colour) override;
    void setCaption(CaptionControl control, std::string_view text) override;
    void setSpeedPosition(std::int16_t position) override;
    std::int16_t speedPosition() const override;
    void setTimerInterval(std::int32_t milliseconds) override;
    void setStepsRunning(bool running) override;
    void clearReadout() override;
    void addReadoutLine(std::string_view text) override;
    // Changes the one line's text in place when there is one: emptying and
    // refilling the list would lay it out anew at every step.
    void replaceReadout(std::string_view text) override;
    // Opens a message box without blocking (the sequencer has stopped).
    void reportPortError(std::string_view message) override;

    // The menu item "Zorvik" was clicked; `index` (always 0) is ignored.
    // Shows the program's one About dialog, made here at the first click,
    // modeless and without an owner; a second click brings it to the front.
    void zorvik_Click(int index);

protected:
    // Update requests go to the frame pacer: drawn at most once a frame.
    bool event(QEvent* event) override;
    // Closing runs no handler of the program's own; it only ends the ticks.
    void closeEvent(QCloseEvent* event) override;

private:
    // A frame is due: the enable boxes whose colours differ from what was
    // last drawn, and the readout's line if its text changed, are drawn
    // with everything else pending.
    void drawFrame();

    StepSequencer m_sequencer;
    Form1Controls m_controls;
    // The enable boxes' colours (encoded) as last set, and as last drawn.
    // The boxes hold the colours set at once, but are drawn once a frame:
    // at 2 ms a step, eight steps light eight boxes in turn between two
    // frames, and only the box lit at the frame and the one lit at the frame
    // before it look any different.
    std::array<std::uint32_t, 16> m_enableColours{};
    std::array<std::uint32_t, 16> m_drawnColours{};
    FramePacer* m_pacer = nullptr;
    bool m_movingBar = false;  // setSpeedPosition is moving the bar
    StepClock* m_clock = nullptr;
    // The steps' realtime class while they run (step_clock.h), and
    // RealtimeKit on the system bus for it.
    std::unique_ptr<realtime::RealtimeKit> m_realtimeKit;
    std::unique_ptr<realtime::RealtimeRequest> m_realtime;
    // No Qt parent: it has no owner, and outlives this window's close.
    std::unique_ptr<Dialog> m_about;
};

}  // namespace runlight::ui

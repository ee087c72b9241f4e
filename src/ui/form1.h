#pragma once

#include <QMainWindow>
#include <QMetaObject>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

#include "step_sequencer.h"
#include "window_ops.h"

class QLabel;
class QListWidget;
class QPushButton;
class QScrollBar;
class QTimer;

namespace runlight {
class PortSink;
}

namespace runlight::ui {

class Dialog;
class TimerWaker;
class ValueBox;

// The main window: the 16 x 8 channel boxes, the 16 enable boxes, the speed
// bar, START/STOP, the run-state label and the one-line readout, at their
// designed places, with the menu "Névjegy" > "Zorvik". It holds no step
// logic: load, click, change and tick go to the StepSequencer, and the
// sequencer reaches the controls through the WindowOps members below.
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
    // Draws the window at most once a frame (see form1.cpp).
    bool event(QEvent* event) override;
    // Closing runs no handler of the program's own; it only ends the ticks.
    void closeEvent(QCloseEvent* event) override;

private:
    // Draws at once what updates since the last frame left pending.
    void drawPendingFrame();
    void buildMenu();
    void buildControls(QWidget* client);
    void buildStepRows(QWidget* client);
    void setFocusOrder();

    StepSequencer m_sequencer;

    std::array<std::array<ValueBox*, 8>, 16> m_channels{};  // [step 0..15][channel 0..7]
    std::array<ValueBox*, 16> m_enables{};                  // Ch9..Ch24
    std::array<std::uint32_t, 16> m_enableColours{};        // as last set, encoded
    QPushButton* m_startStop = nullptr;
    QLabel* m_label6 = nullptr;
    QListWidget* m_list1 = nullptr;
    QScrollBar* m_vScroll1 = nullptr;
    QTimer* m_timer1 = nullptr;
    TimerWaker* m_waker = nullptr;  // wakes the event loop when Timer1 falls due
    static constexpr std::chrono::milliseconds kFrame{16};  // a frame of a 60 Hz screen
    QTimer* m_frameTimer = nullptr;  // draws what a too-early update left pending
    std::chrono::steady_clock::time_point m_lastPaint{};
    QMetaObject::Connection m_tick;
    bool m_closed = false;
    // No Qt parent: it has no owner, and outlives this window's close.
    std::unique_ptr<Dialog> m_about;
};

}  // namespace runlight::ui

#pragma once

#include <QObject>
#include <chrono>
#include <functional>

class QTimer;

namespace runlight::ui {

// Draws the window at most once a frame. At 2 ms a step the boxes and the
// readout change 500 times a second, far more often than a screen shows a
// frame. The widgets take every change at once; the window's update requests
// are gathered here and drawn once per frame, with all the changes since the
// last one (Qt keeps them until then), right after a step where one falls
// due, so that the drawing never holds up the next step.
class FramePacer final : public QObject {
    Q_OBJECT
public:
    // A frame of a 60 Hz screen.
    static constexpr std::chrono::milliseconds kFrame{16};
    // How much earlier than a whole frame a step may draw. The steps that
    // fall due a frame after the last drawing come a hair early or late; a
    // step a hair early would leave the drawing to the frame timer, a
    // wake-up of its own a moment later.
    static constexpr std::chrono::milliseconds kEarlyStep{1};

    // `draw` draws at once what is pending: what Qt does for an update
    // request of the window.
    FramePacer(std::function<void()> draw, QObject* parent);

    // The window asked to be drawn (an update request): drawn within a frame
    // of the last drawing. Even when a frame is due at once, the drawing
    // waits for the changes still queued (the readout's layout), so that
    // one drawing shows them all.
    void requestFrame();
    // A step has just been made: a frame that has fallen due is drawn now.
    void afterStep();

private:
    void drawPendingFrame();

    std::function<void()> m_draw;
    QTimer* m_frameTimer = nullptr;  // draws what a too-early update left pending
    std::chrono::steady_clock::time_point m_lastPaint{};
};

}  // namespace runlight::ui

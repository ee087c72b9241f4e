#pragma once

// In-memory window for the logic's tests. It behaves as the real controls do:
// a box holds whatever value it was given (greyed included), the speed bar
// holds its position, the readout list holds lines, the run state the
// sequencer last told is kept, and so is every port error report.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "window_ops.h"

namespace runlight::testing {

class FakeWindow final : public WindowOps {
public:
    FakeWindow() { colours.fill(kButtonFaceColour); }

    // --- what the logic sees ---
    Box channelBox(int step, int channel) const override {
        return channels.at(idx(step)).at(idx(channel));
    }
    Box enableBox(int step) const override { return enables.at(idx(step)); }
    void setEnableBoxColour(int step, std::uint32_t colour) override {
        colours.at(idx(step)) = colour;
    }
    void setCaption(CaptionControl control, std::string_view text) override {
        (control == CaptionControl::Start_Stop ? startStopCaption : label6Caption) =
            std::string(text);
    }
    void setSpeedPosition(std::int16_t position) override { speedBar = position; }
    std::int16_t speedPosition() const override { return speedBar; }
    void setTimerInterval(std::int32_t milliseconds) override { timerInterval = milliseconds; }
    void setStepsRunning(bool running) override { stepsRunning = running; }
    void clearReadout() override { readout.clear(); }
    void addReadoutLine(std::string_view text) override { readout.emplace_back(text); }
    void reportPortError(std::string_view message) override {
        reports.emplace_back(message);
        if (onReport) {
            onReport();
        }
    }

    // --- what a test sets and looks at ---
    // Ticks channel box `channel` (0..7) of `step` (0..15) as the byte `value` has it.
    void setStepByte(int step, int value) {
        for (int channel = 0; channel < 8; ++channel) {
            channels.at(idx(step)).at(idx(channel)) =
                (value >> (7 - channel)) & 1 ? Box::Checked : Box::Unchecked;
        }
    }
    // Enables exactly the given steps (1..16).
    void enableOnly(std::initializer_list<int> steps) {
        enables.fill(Box::Unchecked);
        for (int step : steps) {
            enables.at(idx(step - 1)) = Box::Checked;
        }
    }
    // Steps (1..16) whose enable box is red, in order.
    std::vector<int> redSteps() const {
        std::vector<int> red;
        for (int step = 0; step < 16; ++step) {
            if (colours.at(idx(step)) == kHighlightColour) {
                red.push_back(step + 1);
            }
        }
        return red;
    }

    std::array<std::array<Box, 8>, 16> channels{};
    std::array<Box, 16> enables{};
    std::array<std::uint32_t, 16> colours{};
    std::string startStopCaption = "START";
    std::string label6Caption = "Áll";
    std::int16_t speedBar = 2;         // the bar's lower end until the load handler moves it
    std::int32_t timerInterval = 200;  // the timer's own design period
    bool stepsRunning = false;
    std::vector<std::string> readout;
    std::vector<std::string> reports;
    std::function<void()> onReport;

private:
    static std::size_t idx(int i) { return static_cast<std::size_t>(i); }
};

}  // namespace runlight::testing

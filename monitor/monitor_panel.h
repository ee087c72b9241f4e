#pragma once

#include <cstdint>

#include <QString>

class QLabel;
class QWidget;

namespace runlight::ui {

class LampRow;

// The widgets both monitor windows (LampMonitor, ModuleMonitor) share: the
// dark window, a title line, a status line (hidden until there is something
// to say), the lamp row, and the byte with a detail label beside it.
struct MonitorPanel {
    QLabel* title = nullptr;   // "portLabel"; its text is the caller's
    QLabel* status = nullptr;  // "statusLabel", plain text, word-wrapped, hidden
    LampRow* lamps = nullptr;
    QLabel* byte = nullptr;    // "byteLabel"
    QLabel* detail = nullptr;  // named `detailName`, beside the byte
};

// Builds the panel into `window` and lays it out there.
MonitorPanel buildMonitorPanel(QWidget* window, const QString& detailName);

// "0x3C"
QString hexText(std::uint8_t byte);

}  // namespace runlight::ui

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QWidget>

class QLabel;
class QTimer;

namespace runlight::portio {
class SimPort;
}

namespace runlight::ui {

class LampRow;

// The lamp monitor's window: the eight lamps of one simulated port and its
// byte in hexadecimal. It opens (or makes) the port's shared file itself, so
// it may start before or after the running light and outlives its restarts.
//
// It looks at the port once a frame (kFramePeriodMs) from a coarse timer: one
// 32-bit read from the shared mapping, compared with the last word seen.
// While nothing changes that is all it costs: no system call, no repaint. A
// futex on the word would spare even the wake-ups, but would need a thread
// here and a system call in every PortOut of the running light, and no change
// can be shown sooner than the next frame anyway.
class LampMonitor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFramePeriodMs = 16;  // ~60 Hz

    // Shows simulated port `address`, whose file lives in `folder` (see
    // portio::simFolder). The frame timer starts at once.
    LampMonitor(std::uint16_t address, std::string folder, QWidget* parent = nullptr);
    ~LampMonitor() override;

    // Looks at the port now and shows what changed. Returns true if anything
    // was written since the last look (even the same byte again). The frame
    // timer calls it; so may tests, with no timer involved.
    bool refresh();

    std::uint8_t byte() const;
    std::uint16_t address() const { return m_address; }
    // The lamp row, for tests that look at the drawn lamps.
    LampRow& lamps() { return *m_lamps; }

private:
    void showByte(std::uint8_t byte);

    std::uint16_t m_address;
    std::string m_folder;
    std::unique_ptr<portio::SimPort> m_port;
    std::uint32_t m_lastState = 0;
    bool m_shownOnce = false;
    LampRow* m_lamps = nullptr;
    QLabel* m_byteLabel = nullptr;
    QLabel* m_bitsLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QTimer* m_frameTimer = nullptr;
};

}  // namespace runlight::ui

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

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
// A watcher thread sleeps on the port's shared state word (a futex, see
// SimPort::waitForChange) and asks the window thread to refresh() when the
// word changes, at most once a frame (kFramePeriodMs). While nothing changes
// the monitor does not run at all, apart from one wake-up of that thread per
// kIdleWakeMs, which lets it notice that it should stop even if the wake-up
// sent at stopping crossed its going to sleep. Polling the word from a 60 Hz
// Qt timer instead cost 0.4 % of a core while idle (the event loop's
// round trip each frame); this costs nothing measurable. Until the port's
// file can be opened, a slow timer tries again.
class LampMonitor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFramePeriodMs = 16;  // ~60 Hz: at most one look per frame
    static constexpr int kIdleWakeMs = 1000;
    static constexpr int kRetryMs = 500;  // while the port's file cannot be opened

    // Shows simulated port `address`, whose file lives in `folder` (see
    // portio::simFolder). Looks at once, then watches.
    LampMonitor(std::uint16_t address, std::string folder, QWidget* parent = nullptr);
    ~LampMonitor() override;

    // Looks at the port now and shows what changed. Returns true if anything
    // was written since the last look (even the same byte again). The watcher
    // has the window thread call it; so may tests, with no thread involved.
    bool refresh();

    std::uint8_t byte() const;
    std::uint16_t address() const { return m_address; }
    // The lamp row, for tests that look at the drawn lamps.
    LampRow& lamps() { return *m_lamps; }

private:
    void showByte(std::uint8_t byte);
    void startWatching();
    void watch();  // the watcher thread's loop

    std::uint16_t m_address;
    std::string m_folder;
    std::unique_ptr<portio::SimPort> m_port;
    std::uint32_t m_lastState = 0;
    bool m_shownOnce = false;
    LampRow* m_lamps = nullptr;
    QLabel* m_byteLabel = nullptr;
    QLabel* m_bitsLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QTimer* m_retryTimer = nullptr;
    std::atomic<bool> m_stopping{false};
    std::thread m_watcher;
};

}  // namespace runlight::ui

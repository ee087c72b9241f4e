#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include <QWidget>

#include "sim_port.h"

class QLabel;
class QTimer;

namespace runlight::ui {

class LampRow;

// The lamp monitor's window: the eight lamps of one simulated port and its
// byte in hexadecimal. It opens (or makes) the port's shared file itself, so
// it may start before or after the running light and outlives its restarts.
//
// A watcher thread sleeps on the port's change count (a futex, see
// SimPort::waitForChange) and asks the window thread to refresh() when it
// changes, at most once a frame (kFramePeriodMs). While nothing changes the
// monitor does not run at all, apart from one wake-up of that thread per
// kIdleWakeMs, which lets it notice that it should stop even if the wake-up
// sent at stopping crossed its going to sleep, and that the port's file or
// folder has been removed or replaced. Polling from a 60 Hz Qt timer instead
// cost 0.4 % of a core while idle (the event loop's round trip each frame);
// this costs nothing measurable. When the port's file cannot be opened or
// read (its filesystem is full, it was cut short, removed or replaced) the
// window says that it has no port and why, and a slow timer tries again; the
// port is opened afresh (made again if need be) as soon as it can be.
class LampMonitor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFramePeriodMs = 16;  // ~60 Hz: at most one look per frame
    static constexpr int kIdleWakeMs = 1000;
    static constexpr int kRetryMs = 500;  // while there is no port

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
    // Whether a port is open and shown now; if not, the status line says why.
    bool hasPort() const { return m_port != nullptr; }

private:
    void showByte(std::uint8_t byte);
    void startWatching();
    void stopWatching();
    void watch(std::stop_token stop);  // the watcher thread's loop
    void losePort(const std::string& why);

    std::uint16_t m_address;
    std::string m_folder;
    std::unique_ptr<portio::SimPort> m_port;
    portio::SimPort::State m_lastState;
    bool m_shownOnce = false;
    LampRow* m_lamps = nullptr;
    QLabel* m_byteLabel = nullptr;
    QLabel* m_bitsLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QTimer* m_retryTimer = nullptr;
    std::atomic<bool> m_lost{false};  // set by the watcher: the port's file is gone
    std::string m_lostWhy;            // written by the watcher before m_lost
    std::jthread m_watcher;
};

}  // namespace runlight::ui

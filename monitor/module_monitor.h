#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <QWidget>

class QLabel;

namespace runlight::portio {
class BackendModule;
class ModuleWatch;
class PortSettings;
}  // namespace runlight::portio

namespace runlight::ui {

class LampRow;

// The lamp monitor's window for a port whose back end is a module (OLA): the
// eight lamps as the far end holds them (for OLA, the universe's channels as
// olad holds them, every source merged), so what it shows is what the lamps
// get. A lamp is lit when its level is above 0; the levels are shown beside
// the byte. It says what it watches, and why it cannot reach the far end
// while it cannot. The module watches on a thread of its own (so the monitor
// links no library of the back end's) and has the window thread call
// refresh() after every change.
class ModuleMonitor : public QWidget {
    Q_OBJECT
public:
    ModuleMonitor(std::uint16_t address, const std::shared_ptr<portio::BackendModule>& module,
                  const portio::PortSettings& settings, QWidget* parent = nullptr);
    ~ModuleMonitor() override;

    // Shows what the module's watch holds now. Returns true if anything
    // changed since the last look. Window thread; tests call it directly.
    bool refresh();
    // Blocks until the module reports a change after the last call (or
    // `timeoutMs` ms pass); for tests, which never wait on the event loop.
    bool waitForChange(int timeoutMs);

    std::uint8_t byte() const;

private:
    LampRow* m_lamps = nullptr;
    QLabel* m_byteLabel = nullptr;
    QLabel* m_levelsLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QString m_shown;  // levels and problem as last shown
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_changes = 0;
    std::uint64_t m_changesSeen = 0;
    std::unique_ptr<portio::ModuleWatch> m_watch;  // last: stopped first
};

}  // namespace runlight::ui

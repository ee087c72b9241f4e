#pragma once

#include <cstdint>
#include <memory>

#include <QWidget>

class QLabel;

namespace runlight::portio::ola_backend {
class UniverseWatcher;
}

namespace runlight::ui {

class LampRow;

// The lamp monitor's window for a port that goes to OLA: the eight channels
// of the universe as olad holds them (every source merged), so what it shows
// is what the lamps get. A lamp is lit when its channel is above 0; the
// channels' levels are shown beside the byte. It says which universe and
// channels it shows, and that it cannot reach olad while it cannot (it
// keeps trying). A UniverseWatcher thread, registered with olad for the
// universe, has the window thread call refresh() after every change.
class UniverseMonitor : public QWidget {
    Q_OBJECT
public:
    UniverseMonitor(std::uint16_t address, std::uint16_t rpcPort, unsigned universe,
                    unsigned firstChannel, QWidget* parent = nullptr);
    ~UniverseMonitor() override;

    // Shows what the watcher has now. Returns true if anything changed since
    // the last look. Called on the window thread; tests call it directly.
    bool refresh();

    std::uint8_t byte() const;
    // For tests: wait on it until olad has sent what they expect.
    const portio::ola_backend::UniverseWatcher& watcher() const { return *m_watcher; }

private:
    LampRow* m_lamps = nullptr;
    QLabel* m_byteLabel = nullptr;
    QLabel* m_levelsLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    std::uint64_t m_shownFrames = ~std::uint64_t{0};
    QString m_shownProblem;
    std::unique_ptr<portio::ola_backend::UniverseWatcher> m_watcher;  // last: stopped first
};

}  // namespace runlight::ui

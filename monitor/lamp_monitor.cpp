#include "lamp_monitor.h"

#include <chrono>
#include <utility>

#include <QLabel>
#include <QTimer>

#include "lamp_row.h"
#include "monitor_panel.h"
#include "port_backend.h"
#include "sim_port.h"

namespace runlight::ui {

namespace {
// "1010 0101"
QString bitsText(std::uint8_t byte) {
    QString bits = QStringLiteral("%1").arg(byte, 8, 2, QLatin1Char('0'));
    return bits.left(4) + QLatin1Char(' ') + bits.right(4);
}
}  // namespace

LampMonitor::LampMonitor(std::uint16_t address, std::string folder, QWidget* parent)
    : QWidget(parent), m_address(address), m_folder(std::move(folder)) {
    setObjectName("LampMonitor");
    setWindowTitle(QStringLiteral("Lamp monitor – %1")
                       .arg(QString::fromStdString(portio::portLabel(address))));
    const MonitorPanel panel = buildMonitorPanel(this, "bitsLabel");
    panel.title->setText(
        QStringLiteral("%1 · simulated").arg(QString::fromStdString(portio::portLabel(address))));
    m_statusLabel = panel.status;
    m_lamps = panel.lamps;
    m_byteLabel = panel.byte;
    m_bitsLabel = panel.detail;

    showByte(0);
    m_retryTimer = new QTimer(this);
    m_retryTimer->setObjectName("retryTimer");
    connect(m_retryTimer, &QTimer::timeout, this, &LampMonitor::refresh);
    refresh();
    if (!m_port) {
        m_retryTimer->start(kRetryMs);
    }
}

LampMonitor::~LampMonitor() {
    stopWatching();
}

void LampMonitor::startWatching() {
    m_retryTimer->stop();
    m_lost = false;
    m_watcher = std::jthread([this](std::stop_token stop) { watch(stop); });
}

void LampMonitor::stopWatching() {
    if (m_watcher.joinable()) {
        m_watcher.request_stop();  // watch()'s stop callback wakes the thread
        m_watcher.join();
    }
}

void LampMonitor::watch(std::stop_token stop) {
    // Runs in the stopping thread: a wake-up that crosses the thread's going
    // to sleep is lost, and the thread sees the stop at its next idle wake.
    const std::stop_callback wake(stop, [this] { m_port->wakeWatchers(); });
    auto seen = m_port->look();
    bool ok = seen.has_value();
    std::string why = ok ? "" : seen.error();
    while (ok && !stop.stop_requested()) {
        m_port->waitForChange(seen->count, kIdleWakeMs);
        if (stop.stop_requested()) {
            break;
        }
        const auto now = m_port->look();
        const auto placed = now ? m_port->inPlace() : Result<void>{};
        ok = now && placed;
        if (!ok) {
            why = now ? placed.error() : now.error();
        } else if (*now == *seen) {
            continue;
        } else {
            seen = now;
        }
        // Queued to the window thread; dropped if the window is gone by then.
        QMetaObject::invokeMethod(
            this, [this] { refresh(); }, Qt::QueuedConnection);
        // What is written meanwhile is seen by the next look, a frame later.
        std::this_thread::sleep_for(std::chrono::milliseconds(kFramePeriodMs));
    }
    if (!ok) {
        m_lostWhy = portio::simLabel(m_address) + ": " + why;
        m_lost = true;  // the refresh queued above (or one now) lets the port go
        QMetaObject::invokeMethod(
            this, [this] { refresh(); }, Qt::QueuedConnection);
    }
}

void LampMonitor::losePort(const std::string& why) {
    stopWatching();
    m_port.reset();
    m_shownOnce = false;
    m_statusLabel->setText(QStringLiteral("No port: %1").arg(QString::fromStdString(why)));
    m_statusLabel->show();
    m_retryTimer->start(kRetryMs);
}

bool LampMonitor::refresh() {
    if (m_port && m_lost) {
        losePort(m_lostWhy);
        return false;
    }
    if (!m_port) {
        // Not there (yet, or any more), or not usable: try again at every
        // look, and say why. Opening makes the file if it is missing.
        auto opened = portio::SimPort::open(m_address, m_folder);
        if (!opened) {
            m_statusLabel->setText(QStringLiteral("No port: %1")
                                       .arg(QString::fromStdString(portio::simLabel(m_address) +
                                                                   ": " + opened.error())));
            m_statusLabel->show();
            return false;
        }
        m_port = std::move(*opened);
        m_statusLabel->hide();
        startWatching();
    }
    const auto state = m_port->look();
    if (!state) {
        losePort(portio::simLabel(m_address) + ": " + state.error());
        return false;
    }
    if (m_shownOnce && *state == m_lastState) {
        return false;
    }
    m_lastState = *state;
    m_shownOnce = true;
    showByte(state->byte);
    return true;
}

std::uint8_t LampMonitor::byte() const {
    return m_lamps->byte();
}

void LampMonitor::showByte(std::uint8_t byte) {
    m_lamps->setByte(byte);
    m_byteLabel->setText(hexText(byte));
    m_bitsLabel->setText(bitsText(byte));
}

}  // namespace runlight::ui

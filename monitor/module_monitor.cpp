#include "module_monitor.h"

#include <chrono>

#include <QLabel>

#include "lamp_row.h"
#include "module_loader.h"
#include "monitor_panel.h"
#include "port_backend.h"

namespace runlight::ui {

ModuleMonitor::ModuleMonitor(std::uint16_t address,
                             const std::shared_ptr<portio::BackendModule>& module,
                             const portio::PortSettings& settings, QWidget* parent)
    : QWidget(parent) {
    setObjectName("ModuleMonitor");
    const MonitorPanel panel = buildMonitorPanel(this, "levelsLabel");
    QLabel* title = panel.title;
    title->setTextFormat(Qt::PlainText);  // the module's words, never markup
    m_statusLabel = panel.status;
    m_lamps = panel.lamps;
    m_byteLabel = panel.byte;
    m_levelsLabel = panel.detail;

    auto watch = module->watch(address, settings, [this] {
        {
            const std::lock_guard lock(m_mutex);
            ++m_changes;
        }
        m_changed.notify_all();
        // Queued to the window thread; dropped if the window is gone by then.
        QMetaObject::invokeMethod(
            this, [this] { refresh(); }, Qt::QueuedConnection);
    });
    const QString port = QString::fromStdString(portio::portLabel(address));
    title->setText(port + QStringLiteral(" · ") +
                   QString::fromStdString(watch ? (*watch)->title() : ""));
    setWindowTitle(QStringLiteral("Lamp monitor – %1").arg(port));
    if (watch) {
        m_watch = std::move(*watch);
    } else {
        m_statusLabel->setText(QString::fromStdString(watch.error()));
        m_statusLabel->show();
    }
    refresh();
}

ModuleMonitor::~ModuleMonitor() = default;

bool ModuleMonitor::waitForChange(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    const bool changed = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                            [this] { return m_changes != m_changesSeen; });
    m_changesSeen = m_changes;
    return changed;
}

bool ModuleMonitor::refresh() {
    if (!m_watch) {
        return false;
    }
    const auto [levels, problem] = m_watch->read();
    std::uint8_t byte = 0;
    QStringList texts;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] > 0) {
            byte = static_cast<std::uint8_t>(byte | (0x80U >> i));  // lamp 1 = D7
        }
        texts << QString::number(levels[i]);
    }
    const QString shown = texts.join(' ') + QLatin1Char('\n') + QString::fromStdString(problem);
    if (shown == m_shown) {
        return false;
    }
    m_shown = shown;
    m_statusLabel->setText(QString::fromStdString(problem));
    m_statusLabel->setVisible(!problem.empty());
    m_lamps->setByte(byte);
    m_byteLabel->setText(hexText(byte));
    m_levelsLabel->setText(texts.join(' '));
    return true;
}

std::uint8_t ModuleMonitor::byte() const {
    return m_lamps->byte();
}

}  // namespace runlight::ui

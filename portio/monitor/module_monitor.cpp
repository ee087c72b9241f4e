#include "module_monitor.h"

#include <chrono>

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "lamp_row.h"
#include "module_loader.h"
#include "port_backend.h"

namespace runlight::ui {

ModuleMonitor::ModuleMonitor(std::uint16_t address,
                             const std::shared_ptr<portio::BackendModule>& module,
                             const portio::PortSettings& settings, QWidget* parent)
    : QWidget(parent) {
    setObjectName("ModuleMonitor");
    setAutoFillBackground(true);
    QPalette shade = palette();
    shade.setColor(QPalette::Window, QColor(24, 26, 31));
    shade.setColor(QPalette::WindowText, QColor(215, 218, 226));
    setPalette(shade);

    auto* title = new QLabel(this);
    title->setObjectName("portLabel");
    title->setTextFormat(Qt::PlainText);  // the module's words, never markup
    title->setStyleSheet("color: #8c92a0; font-size: 13px;");

    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName("statusLabel");
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setStyleSheet("color: #ff8a70; font-size: 12px;");
    m_statusLabel->hide();

    m_lamps = new LampRow(this);
    m_byteLabel = new QLabel(this);
    m_byteLabel->setObjectName("byteLabel");
    m_byteLabel->setStyleSheet(
        "color: #ffc46b; font-family: monospace; font-size: 30px; font-weight: bold;");
    m_levelsLabel = new QLabel(this);
    m_levelsLabel->setObjectName("levelsLabel");
    m_levelsLabel->setStyleSheet("color: #8c92a0; font-family: monospace; font-size: 16px;");

    auto* readout = new QHBoxLayout;
    readout->addStretch();
    readout->addWidget(m_byteLabel);
    readout->addSpacing(18);
    readout->addWidget(m_levelsLabel);
    readout->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 12);
    layout->addWidget(title);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_lamps, 1);
    layout->addLayout(readout);

    std::string watched;
    std::string error;
    m_watch = module->watch(
        address, settings,
        [this] {
            {
                const std::lock_guard lock(m_mutex);
                ++m_changes;
            }
            m_changed.notify_all();
            // Queued to the window thread; dropped if the window is gone by then.
            QMetaObject::invokeMethod(
                this, [this] { refresh(); }, Qt::QueuedConnection);
        },
        watched, error);
    const QString port = QString::fromStdString(portio::portLabel(address));
    title->setText(port + QStringLiteral(" · ") + QString::fromStdString(watched));
    setWindowTitle(QStringLiteral("Lamp monitor – %1").arg(port));
    if (!m_watch) {
        m_statusLabel->setText(QString::fromStdString(error));
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
    portio::ModuleWatch::Levels levels{};
    std::string problem;
    m_watch->read(levels, problem);
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
    m_byteLabel->setText(
        QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper().replace("0X", "0x"));
    m_levelsLabel->setText(texts.join(' '));
    return true;
}

std::uint8_t ModuleMonitor::byte() const {
    return m_lamps->byte();
}

}  // namespace runlight::ui

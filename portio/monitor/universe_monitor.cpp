#include "universe_monitor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "lamp_row.h"
#include "port_backend.h"
#include "universe_watcher.h"

namespace runlight::ui {

using portio::ola_backend::UniverseWatcher;

UniverseMonitor::UniverseMonitor(std::uint16_t address, std::uint16_t rpcPort, unsigned universe,
                                 unsigned firstChannel, QWidget* parent)
    : QWidget(parent) {
    setObjectName("UniverseMonitor");
    const QString port = QString::fromStdString(portio::portLabel(address));
    setWindowTitle(QStringLiteral("Lamp monitor – %1 – OLA universe %2").arg(port).arg(universe));
    setAutoFillBackground(true);
    QPalette shade = palette();
    shade.setColor(QPalette::Window, QColor(24, 26, 31));
    shade.setColor(QPalette::WindowText, QColor(215, 218, 226));
    setPalette(shade);

    auto* title =
        new QLabel(QStringLiteral("%1 · OLA universe %2, channels %3–%4 · olad 127.0.0.1:%5")
                       .arg(port)
                       .arg(universe)
                       .arg(firstChannel)
                       .arg(firstChannel + 7)
                       .arg(rpcPort),
                   this);
    title->setObjectName("portLabel");
    title->setTextFormat(Qt::PlainText);
    title->setStyleSheet("color: #8c92a0; font-size: 13px;");

    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName("statusLabel");
    m_statusLabel->setTextFormat(Qt::PlainText);  // olad's words, never markup
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

    refresh();
    // Queued to the window thread; dropped if the window is gone by then.
    m_watcher = std::make_unique<UniverseWatcher>(rpcPort, universe, firstChannel, [this] {
        QMetaObject::invokeMethod(
            this, [this] { refresh(); }, Qt::QueuedConnection);
    });
}

UniverseMonitor::~UniverseMonitor() = default;

bool UniverseMonitor::refresh() {
    const auto now = m_watcher ? m_watcher->snapshot() : UniverseWatcher::Snapshot{};
    const QString problem = QString::fromStdString(now.problem);
    if (now.frames == m_shownFrames && problem == m_shownProblem) {
        return false;
    }
    m_shownFrames = now.frames;
    m_shownProblem = problem;
    m_statusLabel->setText(problem);
    m_statusLabel->setVisible(!problem.isEmpty());

    std::uint8_t byte = 0;
    QStringList levels;
    for (unsigned i = 0; i < now.channels.size(); ++i) {
        if (now.channels[i] > 0) {
            byte = static_cast<std::uint8_t>(byte | (0x80U >> i));  // first channel = D7
        }
        levels << QString::number(now.channels[i]);
    }
    m_lamps->setByte(byte);
    m_byteLabel->setText(
        QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper().replace("0X", "0x"));
    m_levelsLabel->setText(levels.join(' '));
    return true;
}

std::uint8_t UniverseMonitor::byte() const {
    return m_lamps->byte();
}

}  // namespace runlight::ui

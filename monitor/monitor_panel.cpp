#include "monitor_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include "lamp_row.h"

namespace runlight::ui {

MonitorPanel buildMonitorPanel(QWidget* window, const QString& detailName) {
    window->setAutoFillBackground(true);
    QPalette shade = window->palette();
    shade.setColor(QPalette::Window, QColor(24, 26, 31));
    shade.setColor(QPalette::WindowText, QColor(215, 218, 226));
    window->setPalette(shade);

    MonitorPanel panel;
    panel.title = new QLabel(window);
    panel.title->setObjectName("portLabel");
    panel.title->setStyleSheet("color: #8c92a0; font-size: 13px;");

    panel.status = new QLabel(window);
    panel.status->setObjectName("statusLabel");
    panel.status->setWordWrap(true);
    // Reasons quote paths from the environment and a module's own words:
    // never markup.
    panel.status->setTextFormat(Qt::PlainText);
    panel.status->setStyleSheet("color: #ff8a70; font-size: 12px;");
    panel.status->hide();

    panel.lamps = new LampRow(window);

    panel.byte = new QLabel(window);
    panel.byte->setObjectName("byteLabel");
    panel.byte->setStyleSheet(
        "color: #ffc46b; font-family: monospace; font-size: 30px; font-weight: bold;");
    panel.detail = new QLabel(window);
    panel.detail->setObjectName(detailName);
    panel.detail->setStyleSheet("color: #8c92a0; font-family: monospace; font-size: 16px;");

    auto* readout = new QHBoxLayout;
    readout->addStretch();
    readout->addWidget(panel.byte);
    readout->addSpacing(18);
    readout->addWidget(panel.detail);
    readout->addStretch();

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(16, 10, 16, 12);
    layout->addWidget(panel.title);
    layout->addWidget(panel.status);
    layout->addWidget(panel.lamps, 1);
    layout->addLayout(readout);
    return panel;
}

QString hexText(std::uint8_t byte) {
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper().replace("0X", "0x");
}

}  // namespace runlight::ui

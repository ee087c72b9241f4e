#include "lamp_row.h"

#include <algorithm>

#include <QPainter>
#include <QPen>
#include <QRadialGradient>

namespace runlight::ui {

namespace {
// Horizontal layout in lamp pitches: eight lamps, plus half a pitch between
// D4 and D3, plus half a pitch of margin at each end.
constexpr double kPitches = 9.5;
constexpr double kLabelHeight = 32.0;  // px under the lamps for "D7".."D0", with the board's edge

// Position of data line `line` (0..7) in pitches from the left edge.
double slot(int line) {
    const int fromLeft = 7 - line;  // D7 is leftmost
    return 1.0 + fromLeft + (fromLeft >= 4 ? 0.5 : 0.0);
}

void drawLamp(QPainter& painter, QPointF centre, double radius, bool lit) {
    // The glow spills past the bezel, so it goes first.
    if (lit) {
        const double reach = radius * 2.3;
        QRadialGradient glow(centre, reach);
        glow.setColorAt(0.0, QColor(255, 180, 70, 210));
        glow.setColorAt(0.4, QColor(255, 120, 30, 90));
        glow.setColorAt(0.7, QColor(255, 90, 10, 30));
        glow.setColorAt(1.0, QColor(255, 80, 0, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(glow);
        painter.drawEllipse(centre, reach, reach);
    }
    // Metal bezel.
    QLinearGradient bezel(centre - QPointF(0, radius * 1.2), centre + QPointF(0, radius * 1.2));
    bezel.setColorAt(0.0, QColor(150, 152, 160));
    bezel.setColorAt(0.5, QColor(70, 72, 80));
    bezel.setColorAt(1.0, QColor(30, 31, 36));
    painter.setBrush(bezel);
    painter.drawEllipse(centre, radius * 1.18, radius * 1.18);
    // Glass.
    QRadialGradient glass(centre - QPointF(radius * 0.25, radius * 0.3), radius * 1.1);
    if (lit) {
        glass.setColorAt(0.0, QColor(255, 252, 225));
        glass.setColorAt(0.25, QColor(255, 214, 100));
        glass.setColorAt(0.7, QColor(250, 130, 20));
        glass.setColorAt(1.0, QColor(200, 70, 0));
    } else {
        glass.setColorAt(0.0, QColor(110, 58, 40));
        glass.setColorAt(0.6, QColor(62, 30, 22));
        glass.setColorAt(1.0, QColor(34, 16, 12));
    }
    painter.setBrush(glass);
    painter.drawEllipse(centre, radius, radius);
    // A small reflection of the room's light on the glass.
    QRadialGradient shine(centre - QPointF(radius * 0.35, radius * 0.45), radius * 0.4);
    shine.setColorAt(0.0, QColor(255, 255, 255, lit ? 170 : 70));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setBrush(shine);
    painter.drawEllipse(centre - QPointF(radius * 0.35, radius * 0.45), radius * 0.4, radius * 0.4);
}
}  // namespace

LampRow::LampRow(QWidget* parent) : QWidget(parent) {
    setObjectName("lampRow");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void LampRow::setByte(std::uint8_t byte) {
    if (byte != m_byte) {
        m_byte = byte;
        update();
    }
}

double LampRow::lampRadius() const {
    const double pitch = width() / kPitches;
    return std::max(4.0, std::min(pitch * 0.34, (height() - kLabelHeight) * 0.3));
}

QPointF LampRow::lampCentre(int line) const {
    const double pitch = width() / kPitches;
    return {slot(line) * pitch, (height() - kLabelHeight) / 2.0};
}

QSize LampRow::sizeHint() const {
    return {560, 140};
}

QSize LampRow::minimumSizeHint() const {
    // Narrow enough for the monitor to fit left of the running light's main
    // window at its designed place (270 pixels from the screen's edge); the
    // lamps are still 14 pixels across and their "D7".."D0" fit under them.
    return {200, 70};
}

void LampRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = lampRadius();
    // The board the lamps sit on.
    const QRectF board = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QLinearGradient boardShade(board.topLeft(), board.bottomLeft());
    boardShade.setColorAt(0.0, QColor(40, 43, 50));
    boardShade.setColorAt(1.0, QColor(28, 30, 35));
    painter.setPen(QPen(QColor(58, 62, 72), 1.0));
    painter.setBrush(boardShade);
    painter.drawRoundedRect(board, 10, 10);
    QFont font = painter.font();
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    for (int line = 7; line >= 0; --line) {
        const bool lit = ((m_byte >> line) & 1) != 0;
        const QPointF centre = lampCentre(line);
        painter.setPen(Qt::NoPen);
        drawLamp(painter, centre, radius, lit);
        painter.setPen(lit ? QColor(255, 200, 120) : QColor(130, 134, 145));
        const QRectF label(centre.x() - radius * 1.5, height() - kLabelHeight, radius * 3.0,
                           kLabelHeight - 10.0);
        painter.drawText(label, Qt::AlignCenter, QStringLiteral("D%1").arg(line));
    }
}

}  // namespace runlight::ui

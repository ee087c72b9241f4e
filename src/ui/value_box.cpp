#include "value_box.h"

#include <QPainter>
#include <QStyleOptionButton>

namespace runlight::ui {

ValueBox::ValueBox(QWidget* parent) : QCheckBox(parent) {}

Box ValueBox::value() const {
    switch (checkState()) {
        case Qt::Checked:
            return Box::Checked;
        case Qt::PartiallyChecked:
            return Box::Grayed;
        case Qt::Unchecked:
            break;
    }
    return Box::Unchecked;
}

void ValueBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void ValueBox::setColours(const QColor& back, const QColor& square) {
    if (m_ownColours && back == m_back && square == m_square) {
        return;
    }
    m_ownColours = true;
    m_back = back;
    m_square = square;
}

void ValueBox::paintEvent(QPaintEvent* /*event*/) {
    // As QCheckBox draws itself, with the colours set (if any) in the palette.
    QStyleOptionButton option;
    initStyleOption(&option);
    const QColor back = m_ownColours ? m_back : option.palette.color(backgroundRole());
    const QColor square = m_ownColours ? m_square : option.palette.color(QPalette::Base);
    const auto ownColours = [&] {
        if (m_ownColours) {
            option.palette.setColor(backgroundRole(), m_back);
            option.palette.setColor(QPalette::Base, m_square);
        }
    };
    if (!autoFillBackground() || back.alpha() != 255 ||
        option.palette.brush(backgroundRole()).style() != Qt::SolidPattern || !text().isEmpty() ||
        !icon().isNull()) {
        ownColours();
        QPainter painter(this);
        if (autoFillBackground() && m_ownColours) {
            painter.fillRect(rect(), m_back);
        }
        style()->drawControl(QStyle::CE_CheckBox, &option, &painter, this);
        return;
    }
    // The picture holds the box over its own opaque background, which Qt
    // has just filled in (in that colour, or in the palette's, painted over
    // here), so drawing it gives exactly the pixels the style would.
    const qreal ratio = devicePixelRatio();
    const Drawn key{option.state, palette().cacheKey(), back.rgba(), square.rgba(), size(), ratio,
                    style()};
    const QPixmap& picture = m_drawn.picture(key, size(), ratio, [&](QPainter& painter) {
        ownColours();
        painter.fillRect(rect(), back);
        style()->drawControl(QStyle::CE_CheckBox, &option, &painter, this);
    });
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture);
}

}  // namespace runlight::ui

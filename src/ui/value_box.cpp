#include "value_box.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

namespace runlight::ui {

namespace {
// Pictures kept per box: its two back colours times its three values, and
// a few hover and focus states besides.
constexpr std::size_t kMaxPictures = 16;
}  // namespace

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

void ValueBox::paintEvent(QPaintEvent* event) {
    const QBrush& back = palette().brush(backgroundRole());
    if (!autoFillBackground() || !back.isOpaque() || !text().isEmpty() || !icon().isNull()) {
        QCheckBox::paintEvent(event);
        return;
    }
    // Fusion draws a box with gradients and rounded corners, some 66 000
    // instructions each time. The picture holds the box over its own opaque
    // background, which Qt has just filled in the same colour, so drawing it
    // gives exactly the pixels the style would.
    QStyleOptionButton option;
    initStyleOption(&option);
    const qreal ratio = devicePixelRatio();
    const auto same = [&](const Drawn& drawn) {
        return drawn.state == option.state && drawn.size == size() && drawn.pixelRatio == ratio &&
               drawn.style == style() && drawn.palette == palette();
    };
    auto found = std::find_if(m_drawn.begin(), m_drawn.end(), same);
    if (found == m_drawn.end()) {
        if (m_drawn.size() >= kMaxPictures) {
            m_drawn.clear();
        }
        QPixmap picture(size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        {
            QPainter painter(&picture);
            painter.fillRect(rect(), back);
            style()->drawControl(QStyle::CE_CheckBox, &option, &painter, this);
        }
        m_drawn.push_back({option.state, palette(), size(), ratio, style(), picture});
        found = m_drawn.end() - 1;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, found->picture);
}

}  // namespace runlight::ui

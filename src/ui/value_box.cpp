#include "value_box.h"

#include <QPainter>
#include <QStyleOptionButton>
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
    // Fusion draws a box with gradients and rounded corners, some 66 000
    // instructions each time. The picture holds the box over its own opaque
    // background, which Qt has just filled in (in that colour, or in the
    // palette's, painted over here), so drawing it gives exactly the pixels
    // the style would.
    //
    // The pictures are kept here, per box, rather than in QPixmapCache,
    // because the shared cache measurably costs more: its key (state,
    // palette, colours, size, pixel ratio and style as one string) and its
    // lookup cost about 2 000 instructions a paint more than searching this
    // short list. callgrind, step_timing 20:300: box painting 20.2 M ->
    // 21.5 M instructions, 147.0 M -> 149.4 M in all with the readout's
    // pictures; with the key formatted by QString::asprintf, 163.2 M.
    const qreal ratio = devicePixelRatio();
    const qint64 paletteKey = palette().cacheKey();
    const auto same = [&](const Drawn& drawn) {
        return drawn.state == option.state && drawn.palette == paletteKey &&
               drawn.back == back.rgba() && drawn.square == square.rgba() && drawn.size == size() &&
               drawn.pixelRatio == ratio && drawn.style == style();
    };
    auto found = std::find_if(m_drawn.begin(), m_drawn.end(), same);
    if (found == m_drawn.end()) {
        if (m_drawn.size() >= kMaxPictures) {
            m_drawn.clear();
        }
        ownColours();
        QPixmap picture(size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        {
            QPainter painter(&picture);
            painter.fillRect(rect(), back);
            style()->drawControl(QStyle::CE_CheckBox, &option, &painter, this);
        }
        m_drawn.push_back({option.state, paletteKey, back.rgba(), square.rgba(), size(), ratio,
                           style(), picture});
        found = m_drawn.end() - 1;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, found->picture);
}

}  // namespace runlight::ui

#pragma once

#include <QCheckBox>
#include <QPalette>
#include <QStyle>

#include "picture_cache.h"
#include "window_ops.h"

namespace runlight::ui {

// A bare check box holding the values 0 (unchecked), 1 (checked) and 2
// (greyed). A click toggles between unchecked and checked (a greyed box
// becomes checked); only the program sets greyed, through setCheckState.
class ValueBox final : public QCheckBox {
    Q_OBJECT
public:
    explicit ValueBox(QWidget* parent);

    Box value() const;

    // Paints the box's back colour (its whole area) and the colour of its
    // square, as a palette with these two colours would, without a new
    // palette: the enable boxes are recoloured at every step, and a palette
    // change costs about 16 000 instructions. Takes effect at the next paint
    // (a grab() shows it at once), which it does not ask for: the window
    // draws its enable boxes once a frame, only those whose colours differ
    // from what it last drew, however often they changed in between.
    void setColours(const QColor& back, const QColor& square);

protected:
    void nextCheckState() override;
    // A box that fills its own background (the enable boxes, recoloured at
    // every step) is drawn from a picture of it as the style last drew it in
    // the same state, palette, colours and size.
    void paintEvent(QPaintEvent* event) override;

private:
    struct Drawn {
        QStyle::State state;
        qint64 palette;  // the widget's palette's cacheKey()
        QRgb back;       // the colours painted: those set, or the palette's
        QRgb square;
        QSize size;
        qreal pixelRatio;
        const QStyle* style;
        bool operator==(const Drawn&) const = default;
    };
    // Its two back colours times its three values, and a few hover and
    // focus states besides.
    PictureCache<Drawn> m_drawn{16};
    bool m_ownColours = false;  // whether the two colours below are painted
    QColor m_back;
    QColor m_square;
};

}  // namespace runlight::ui

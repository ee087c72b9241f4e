#pragma once

#include <QCheckBox>
#include <QPalette>
#include <QPixmap>
#include <QStyle>
#include <vector>

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

protected:
    void nextCheckState() override;
    // A box that fills its own background (the enable boxes, recoloured at
    // every step) is drawn from a picture of it as the style last drew it in
    // the same state, palette and size.
    void paintEvent(QPaintEvent* event) override;

private:
    struct Drawn {
        QStyle::State state;
        QPalette palette;
        QSize size;
        qreal pixelRatio;
        const QStyle* style;
        QPixmap picture;
    };
    std::vector<Drawn> m_drawn;
};

}  // namespace runlight::ui

#pragma once

#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyledItemDelegate>

#include "picture_cache.h"

namespace runlight::ui {

// Draws List1's one line. The readout changes up to 500 times a second and
// is drawn once a frame; the style lays the text out anew each time (about
// 125 000 instructions for eight characters). A plain line (text only, no
// icon, check or colours of its own) on the list's own opaque background is
// drawn here from a picture of what the style drew for the same text, state,
// palette, font and size over that background: the same pixels, a fraction
// of the work (picture_cache.h). Anything else goes to the style as before.
class ReadoutDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ReadoutDelegate(QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    struct Drawn {
        QString text;
        QStyle::State state;
        QSize size;
        QPalette palette;
        QFont font;
        qreal pixelRatio;
        const QStyle* style;
        bool operator==(const Drawn&) const = default;
    };
    // The readout shows 256 texts at most, one at a time.
    mutable PictureCache<Drawn> m_drawn{32};
};

}  // namespace runlight::ui

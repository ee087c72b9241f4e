#pragma once

#include <QFont>
#include <QPalette>
#include <QPixmap>
#include <QStyle>
#include <QStyledItemDelegate>
#include <vector>

namespace runlight::ui {

// Draws List1's one line. The readout changes up to 500 times a second and
// is drawn once a frame; the style lays the text out anew each time (about
// 125 000 instructions for eight characters). A plain line (text only, no
// icon, check or colours of its own) on the list's own opaque background is
// drawn here from a picture of what the style drew for the same text, state,
// palette, font and size over that background: the same pixels, a fraction
// of the work. Anything else goes to the style as before. The pictures are
// kept here rather than in QPixmapCache: a key of the text, state, palette,
// font, size, ratio and style costs about 2 800 instructions more a paint
// than comparing them here (callgrind, step_timing 20:300: 3.2 M -> 4.1 M).
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
        QPixmap picture;
    };
    mutable std::vector<Drawn> m_drawn;
};

}  // namespace runlight::ui

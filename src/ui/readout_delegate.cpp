#include "readout_delegate.h"

#include <QAbstractItemView>
#include <QPainter>

namespace runlight::ui {

namespace {

// Whether the item carries only its text: nothing the style would draw
// besides it (icon, check box, own font, colours or alignment).
bool plainText(const QModelIndex& index) {
    for (const int role : {Qt::DecorationRole, Qt::CheckStateRole, Qt::FontRole,
                           Qt::TextAlignmentRole, Qt::ForegroundRole, Qt::BackgroundRole}) {
        if (index.data(role).isValid()) {
            return false;
        }
    }
    return true;
}

}  // namespace

ReadoutDelegate::ReadoutDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ReadoutDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const QWidget* viewport = view != nullptr ? view->viewport() : nullptr;
    if (viewport == nullptr || !viewport->autoFillBackground() ||
        !viewport->palette().brush(viewport->backgroundRole()).isOpaque() ||
        view->alternatingRowColors() || !plainText(index)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const qreal ratio = painter->device()->devicePixelRatio();
    const QSize size = option.rect.size();
    const Drawn key{text, option.state, size, option.palette, option.font, ratio, view->style()};
    const QPixmap& picture = m_drawn.picture(key, size, ratio, [&](QPainter& own) {
        // The line as the style draws it, over the background the list has
        // just filled in under it.
        own.fillRect(QRect(QPoint(0, 0), size),
                     viewport->palette().brush(viewport->backgroundRole()));
        QStyleOptionViewItem moved = option;
        moved.rect.moveTo(0, 0);
        QStyledItemDelegate::paint(&own, moved, index);
    });
    painter->drawPixmap(option.rect.topLeft(), picture);
}

}  // namespace runlight::ui

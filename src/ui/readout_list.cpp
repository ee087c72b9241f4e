#include "readout_list.h"

#include <QEvent>
#include <QStyleOptionViewItem>

#include "readout_delegate.h"

namespace runlight::ui {

ReadoutList::ReadoutList(QWidget* parent) : QListWidget(parent) {
    // One line high: scroll bars would take the place of the line itself.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
    setUniformItemSizes(true);
    setItemDelegate(new ReadoutDelegate(this));
}

void ReadoutList::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                              const QList<int>& roles) {
    if (topLeft == bottomRight && layoutUnchanged(topLeft, roles)) {
        // What the list does after a change, less laying itself out again:
        // the line is redrawn (and the change told to accessibility).
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    QListWidget::dataChanged(topLeft, bottomRight, roles);
}

void ReadoutList::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_sizes.clear();
    }
    QListWidget::changeEvent(event);
}

bool ReadoutList::layoutUnchanged(const QModelIndex& index, const QList<int>& roles) {
    for (const int role : roles) {
        if (role != Qt::DisplayRole && role != Qt::EditRole) {
            return false;
        }
    }
    if (!index.isValid() || count() != 1 || viewMode() != ListMode || flow() != TopToBottom ||
        isWrapping() || gridSize().isValid() || !uniformItemSizes()) {
        return false;
    }
    executeDelayedItemsLayout();  // a layout still due is done first, as it would be
    const QString text = index.data(Qt::DisplayRole).toString();
    auto size = m_sizes.constFind(text);
    if (size == m_sizes.constEnd()) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        size = m_sizes.insert(text, itemDelegateForIndex(index)->sizeHint(option, index));
    }
    // The line spans the box's width, less the spacing on either side, as
    // long as its text fits; only its height comes from the text.
    const int lineWidth = viewport()->width() - 2 * spacing();
    const QRect line = rectForIndex(index);
    return line.width() == lineWidth && size->width() <= lineWidth &&
           size->height() == line.height();
}

}  // namespace runlight::ui

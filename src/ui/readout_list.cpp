#include "readout_list.h"

#include <QEvent>
#include <QStyleOptionViewItem>

#include "readout_delegate.h"

namespace runlight::ui {

namespace {
bool isText(int role) {
    return role == Qt::DisplayRole || role == Qt::EditRole;
}
}  // namespace

ReadoutLine::ReadoutLine(const QString& text, QListWidget* list)
    : QListWidgetItem(text, list, kType) {}

void ReadoutLine::setTextLater(const QString& text) {
    m_later = text;
}

bool ReadoutLine::showLater() {
    if (!m_later) {
        return false;
    }
    QString text = std::move(*m_later);
    m_later.reset();
    // Told only if it differs from the text the list last heard of.
    QListWidgetItem::setData(Qt::DisplayRole, text);
    return true;
}

QVariant ReadoutLine::data(int role) const {
    if (m_later && isText(role)) {
        return *m_later;
    }
    return QListWidgetItem::data(role);
}

void ReadoutLine::setData(int role, const QVariant& value) {
    if (isText(role)) {
        m_later.reset();
    }
    QListWidgetItem::setData(role, value);
}

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

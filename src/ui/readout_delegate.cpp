#include "readout_delegate.h"

#include <QAbstractItemView>
#include <QPainter>
#include <algorithm>

namespace runlight::ui {

namespace {

// Pictures kept: the readout shows 256 texts at most, one at a time.
constexpr std::size_t kMaxPictures = 32;

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
    const auto same = [&](const Drawn& drawn) {
        return drawn.text == text && drawn.state == option.state &&
               drawn.size == option.rect.size() && drawn.pixelRatio == ratio &&
               drawn.style == view->style() && drawn.font == option.font &&
               drawn.palette == option.palette;
    };
    auto found = std::find_if(m_drawn.begin(), m_drawn.end(), same);
    if (found == m_drawn.end()) {
        if (m_drawn.size() >= kMaxPictures) {
            m_drawn.clear();
        }
        // The line as the style draws it, over the background the list has
        // just filled in under it.
        QPixmap picture(option.rect.size() * ratio);
        picture.setDevicePixelRatio(ratio);
        {
            QPainter own(&picture);
            own.fillRect(QRect(QPoint(0, 0), option.rect.size()),
                         viewport->palette().brush(viewport->backgroundRole()));
            QStyleOptionViewItem moved = option;
            moved.rect.moveTo(0, 0);
            QStyledItemDelegate::paint(&own, moved, index);
        }
        m_drawn.push_back({text, option.state, option.rect.size(), option.palette, option.font,
                           ratio, view->style(), picture});
        found = m_drawn.end() - 1;
    }
    painter->drawPixmap(option.rect.topLeft(), found->picture);
}

}  // namespace runlight::ui

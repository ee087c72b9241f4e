#pragma once

// Whether a control shows its whole text at its designed size with the font
// it really got on this machine: a caption cut off at the right or at the
// bottom is a fault, whatever font the system substituted.

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <string>

namespace runlight::ui::testing {

// Room a label gives its text: its contents, minus anything drawn over the
// text's line by a sibling created after it (List1 over Label6's right part).
inline int visibleTextWidth(const QLabel& label) {
    const QRect own = label.geometry();
    const int lineHeight = QFontMetrics(label.font()).height();
    const QRect line(own.x(), own.y() + (own.height() - lineHeight) / 2, own.width(), lineHeight);
    int right = label.contentsRect().right();
    bool after = false;
    for (QObject* object : label.parentWidget()->children()) {
        auto* sibling = qobject_cast<QWidget*>(object);
        if (object == &label) {
            after = true;
        } else if (after && sibling != nullptr && sibling->isVisible() &&
                   sibling->geometry().intersects(line) && sibling->x() > own.x()) {
            right = qMin(right, sibling->x() - own.x() - 1);
        }
    }
    return right - label.contentsRect().left() + 1;
}

// Empty when `label` shows `text` whole, else a description of the fault.
inline std::string labelFault(const QLabel& label, const QString& text) {
    const QFontMetrics metrics(label.font());
    const int need = metrics.horizontalAdvance(text);
    const int room = visibleTextWidth(label);
    if (need > room || metrics.height() > label.contentsRect().height()) {
        return label.objectName().toStdString() + " \"" + text.toStdString() + "\" needs " +
               std::to_string(need) + "x" + std::to_string(metrics.height()) + ", has " +
               std::to_string(room) + "x" + std::to_string(label.contentsRect().height());
    }
    return {};
}

// Empty when the push button shows `text` whole inside its bevel and margins.
inline std::string buttonFault(const QAbstractButton& button, const QString& text) {
    const QFontMetrics metrics(button.font());
    const int margin = button.style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button);
    const int frame = button.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button);
    const int need = metrics.horizontalAdvance(text) + 2 * (margin + frame);
    const int needHeight = metrics.height() + 2 * frame;
    if (need > button.width() || needHeight > button.height()) {
        return button.objectName().toStdString() + " \"" + text.toStdString() + "\" needs " +
               std::to_string(need) + "x" + std::to_string(needHeight) + ", has " +
               std::to_string(button.width()) + "x" + std::to_string(button.height());
    }
    return {};
}

}  // namespace runlight::ui::testing

#pragma once

#include <QObject>
#include <QString>

class QScrollBar;

namespace runlight::ui {

// The speed bar's tooltip: the period the bar sets (ms per step), the steps
// per second, and that up is faster. While the thumb is dragged, a tip beside
// the thumb follows it with the period the release will set (the bar reports
// its new position only on release). Adds nothing else to the bar: no value
// or event of the bar changes.
class SpeedTip final : public QObject {
public:
    // Watches `bar` (vertical, position = period in ms, smaller at the top)
    // and lives as its child.
    explicit SpeedTip(QScrollBar& bar);

    // The bar's tooltip at `periodMs` (1 or more).
    static QString text(int periodMs);
    // The tip that follows the thumb while it is dragged to `periodMs`.
    static QString dragText(int periodMs);

private:
    void followThumb(int position);

    QScrollBar* m_bar;
};

}  // namespace runlight::ui

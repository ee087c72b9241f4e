#pragma once

#include <QHash>
#include <QListWidget>
#include <QSize>

namespace runlight::ui {

// The readout list box (List1): one line high, no scroll bars, the line never
// cut short, drawn by a ReadoutDelegate. Its line changes at every step, up to
// 500 times a second. A list lays itself out anew (measuring its text) after
// every change of an item; here a change of the only line's text is just
// redrawn when it leaves the layout as it was: the line's size fits the box
// before and after, so the line spans the box's width either way.
class ReadoutList final : public QListWidget {
    Q_OBJECT
public:
    explicit ReadoutList(QWidget* parent);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles) override;
    void changeEvent(QEvent* event) override;

private:
    bool layoutUnchanged(const QModelIndex& index, const QList<int>& roles);

    // The size each text asks for, measured once (the readout shows at most
    // 256 texts); forgotten when the font or the style changes.
    QHash<QString, QSize> m_sizes;
};

}  // namespace runlight::ui

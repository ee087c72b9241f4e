#pragma once

#include <QHash>
#include <QListWidget>
#include <QSize>
#include <optional>

namespace runlight::ui {

// The readout's line. Its text may change without telling the list at once:
// at 2 ms a step it changes 500 times a second, and each change told makes
// the list work out the line's place and size anew, while the screen shows
// one text a frame. A text set later is what the line holds and reads from
// then on (text(), the model, any drawing); the list hears of it at
// showLater(), which the window calls once a frame.
class ReadoutLine final : public QListWidgetItem {
public:
    static constexpr int kType = QListWidgetItem::UserType + 1;

    ReadoutLine(const QString& text, QListWidget* list);

    // The line's text from now on; the list is told at showLater().
    void setTextLater(const QString& text);
    // Tells the list the text set later, if any, so that it draws it;
    // whether there was one.
    bool showLater();

    QVariant data(int role) const override;
    // Setting the text by any other way drops the one set later.
    void setData(int role, const QVariant& value) override;

private:
    std::optional<QString> m_later;
};

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

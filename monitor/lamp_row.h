#pragma once

#include <cstdint>

#include <QWidget>

namespace runlight::ui {

// Eight lamps in a row as they would sit on a board: D7 on the left, D0 on
// the right, a little gap between the two halves so the row reads like the
// two hex digits. A lit lamp glows warm; a dark one shows its dull glass.
class LampRow : public QWidget {
    Q_OBJECT
public:
    explicit LampRow(QWidget* parent = nullptr);

    void setByte(std::uint8_t byte);
    std::uint8_t byte() const { return m_byte; }

    // Centre of the lamp of data line `line` (0..7, D0..D7), in this widget's pixels.
    QPointF lampCentre(int line) const;
    // Radius of every lamp's glass, in pixels.
    double lampRadius() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::uint8_t m_byte = 0;
};

}  // namespace runlight::ui

#pragma once

#include <QPushButton>

namespace runlight::ui {

// A command button as the designs have it: Space and Enter both click it
// while it has the focus, in a dialog and outside one alike, and it is never
// a dialog's default button.
class CommandButton final : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButton(const QString& text, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace runlight::ui

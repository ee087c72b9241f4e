#include "command_button.h"

#include <QKeyEvent>

namespace runlight::ui {

CommandButton::CommandButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setAutoDefault(false);
    setDefault(false);
}

void CommandButton::keyPressEvent(QKeyEvent* event) {
    // QPushButton itself answers Space only; Enter would go to the window.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier && !event->isAutoRepeat()) {
        click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

}  // namespace runlight::ui

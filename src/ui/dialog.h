#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace runlight::ui {

// The About box: version, contact, status and date in the frame "Info", with
// OK and Cancel. The program has one instance, made at the first "Zorvik"
// click. It is modeless and has no owner; each showing builds its window
// from the design (position, focus on OK), and OK, Cancel and the title
// bar's close button all destroy the window and change nothing else.
class Dialog final : public QDialog {
    Q_OBJECT
public:
    Dialog();

    // Loads and shows the dialog, or brings it to the front if it is shown.
    // Returns at once.
    void showModeless();

    // Unloads: hides the dialog and destroys its window; showModeless makes
    // it again.
    void OKButton_Click();
    void CancelButton_Click();

protected:
    // Escape does nothing here; Enter and Space click the focused button.
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void unload();

    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

}  // namespace runlight::ui

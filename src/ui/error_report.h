#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace runlight::ui {

// The message box that tells the user the port could not be written: a
// Hungarian title and text, and beneath them the technical detail (library,
// port, device, the system's reason) as the port side gave it. Owned by
// `parent` and deleted when closed; the caller opens it.
QMessageBox* makePortErrorBox(QWidget* parent, const QString& detail);

// The message box for an error no handler expected; after it the program
// ends. No parent: the main window is gone by the time it shows. The caller
// owns it.
QMessageBox* makeUnexpectedErrorBox(const QString& detail);

}  // namespace runlight::ui

// qtx: the running light's program. It shows the main window and ends when
// the last window closes; an error no handler expected is reported, then ends it.

#include <QMessageBox>
#include <cstdlib>
#include <memory>

#include "application.h"
#include "error_report.h"
#include "form1.h"
#include "port_library.h"
#include "screen_placement.h"

int main(int argc, char** argv) {
    // Through XWayland on a Wayland desktop that has it, so the window opens
    // at its designed place (a Wayland compositor places windows itself).
    runlight::ui::preferX11OnWayland();
    runlight::ui::Application app(argc, argv);
    // Lets a Wayland desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.runlight.qtx"));
    runlight::PortLibrary port;  // libportio.so.1, loaded at the first START

    auto window = std::make_unique<runlight::ui::Form1>(port);
    window->show();
    const int status = app.exec();
    if (app.unexpectedError().isEmpty()) {
        return status;
    }
    // Close everything first, so that no tick runs while the report is up.
    window.reset();
    QApplication::closeAllWindows();
    const std::unique_ptr<QMessageBox> report{
        runlight::ui::makeUnexpectedErrorBox(app.unexpectedError())};
    report->exec();
    return EXIT_FAILURE;
}

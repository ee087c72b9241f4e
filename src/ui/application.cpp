#include "application.h"

#include <cstdlib>
#include <exception>

namespace runlight::ui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        fail(QString::fromUtf8(error.what()));
    } catch (...) {
        fail(QStringLiteral("unknown exception"));
    }
    return false;
}

void Application::fail(const QString& what) {
    if (m_unexpectedError.isEmpty()) {
        m_unexpectedError = what.isEmpty() ? QStringLiteral("unknown exception") : what;
    }
    exit(EXIT_FAILURE);
}

}  // namespace runlight::ui

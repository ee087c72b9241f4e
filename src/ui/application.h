#pragma once

#include <QApplication>
#include <QString>

namespace runlight::ui {

// The program's application object. An exception that escapes an event
// handler is caught here, remembered, and ends the event loop with exit code
// 1; the caller then reports it (makeUnexpectedErrorBox) and ends.
class Application final : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // What the first unexpected error said; empty while none happened.
    const QString& unexpectedError() const { return m_unexpectedError; }

private:
    void fail(const QString& what);

    QString m_unexpectedError;
};

}  // namespace runlight::ui

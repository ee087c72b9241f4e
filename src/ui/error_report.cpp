#include "error_report.h"

#include <QMessageBox>

namespace runlight::ui {

QMessageBox* makePortErrorBox(QWidget* parent, const QString& detail) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Portírási hiba"),
                                QStringLiteral("A futófény leállt: a párhuzamos portra nem "
                                               "sikerült írni. A lépésprogram megmaradt, "
                                               "a START újra megpróbálja."),
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("portErrorBox"));
    box->setInformativeText(detail);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

QMessageBox* makeUnexpectedErrorBox(const QString& detail) {
    auto* box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("Váratlan hiba"),
                        QStringLiteral("Váratlan hiba történt, a program leáll."), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("unexpectedErrorBox"));
    box->setInformativeText(detail);
    box->setTextFormat(Qt::PlainText);
    return box;
}

}  // namespace runlight::ui

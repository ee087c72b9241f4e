#include "error_report.h"

#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>

namespace runlight::ui {

namespace {
// The detail comes from outside the program (a library's report, a path or
// an environment value quoted in it) and is shown as the plain text it is.
// QMessageBox's text format applies to its main text only; the label under
// it guesses, and would take "<h1>" or "<img>" in a detail for rich text.
// That label is told by what it shows, the detail, as no other label is.
void setPlainDetail(QMessageBox* box, const QString& detail) {
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(detail);
    QLabel* shown = nullptr;
    for (auto* label : box->findChildren<QLabel*>()) {
        if (label->text() == detail && label->text() != box->text()) {
            shown = label;
        }
    }
    if (shown != nullptr) {
        shown->setTextFormat(Qt::PlainText);
    } else {  // a QMessageBox built otherwise: the same text, escaped as rich text
        box->setInformativeText(Qt::convertFromPlainText(detail));
    }
}
}  // namespace

QMessageBox* makePortErrorBox(QWidget* parent, const QString& detail) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Portírási hiba"),
                                QStringLiteral("A futófény leállt: a párhuzamos portra nem "
                                               "sikerült írni. A lépésprogram megmaradt, "
                                               "a START újra megpróbálja."),
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("portErrorBox"));
    setPlainDetail(box, detail);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

QMessageBox* makeUnexpectedErrorBox(const QString& detail) {
    auto* box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("Váratlan hiba"),
                        QStringLiteral("Váratlan hiba történt, a program leáll."), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("unexpectedErrorBox"));
    setPlainDetail(box, detail);
    return box;
}

}  // namespace runlight::ui

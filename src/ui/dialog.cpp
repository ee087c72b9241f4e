#include "dialog.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include "command_button.h"
#include "design.h"
#include "qtx_version.h"
#include "screen_placement.h"

namespace runlight::ui {

namespace {

constexpr int kClientLeft = 4440;    // twips from the screen's left: 296 pixels
constexpr int kClientTop = 4605;     // twips from the screen's top: 307 pixels
constexpr int kClientWidth = 6030;   // twips: 402 pixels
constexpr int kClientHeight = 2010;  // twips: 134 pixels
constexpr int kLabelLeft = 240;      // twips inside the frame
constexpr int kLabelHeight = 255;    // twips

void addLabel(QWidget* frame, const char* name, const QString& text, int top, int width) {
    auto* label = new QLabel(text, frame);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(twipsRect(kLabelLeft, top, width, kLabelHeight));
}

}  // namespace

Dialog::Dialog() : QDialog(nullptr) {
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Névjegy"));
    // A fixed frame with a title and a close button, no minimize or maximize
    // button, and no owner. A tool window stays out of the taskbar; unlike a
    // parentless dialog it is not kept above every window of the program.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // A tool window would not keep the program alive; this one does, after
    // the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, true);
    setFixedSize(px(kClientWidth), px(kClientHeight));
    setFont(aboutFont());

    m_okButton = new CommandButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("OKButton"));
    m_okButton->setGeometry(twipsRect(4680, 120, 1215, 375));
    m_cancelButton = new CommandButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    m_cancelButton->setGeometry(twipsRect(4680, 600, 1215, 375));
    setTabOrder(m_okButton, m_cancelButton);

    auto* frame = new QGroupBox(QStringLiteral("Info"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setGeometry(twipsRect(120, 240, 4455, 1695));
    // One column, 240 twips apart: credit, version, contact, status, date.
    addLabel(frame, "Label1", QStringLiteral("A QTX projekt"), 360, 1215);
    addLabel(frame, "Label2", QStringLiteral("Változat: " QTX_VERSION), 600, 1575);
    addLabel(frame, "Label3", QStringLiteral("Kapcsolat: qtx@example.org"), 840, 1815);
    addLabel(frame, "Label4", QStringLiteral("Állapot: szabad szoftver (MIT)"), 1080, 3495);
    addLabel(frame, "Label5", QStringLiteral("Dátum: 2003.09.12."), 1320, 3495);

    connect(m_okButton, &QPushButton::clicked, this, &Dialog::OKButton_Click);
    connect(m_cancelButton, &QPushButton::clicked, this, &Dialog::CancelButton_Click);
}

void Dialog::showModeless() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    // Load: the window as designed, whatever the last showing left; moved the
    // least distance that puts it whole on the screen where it does not fit.
    placeWhole(*this, QRect(px(kClientLeft), px(kClientTop), px(kClientWidth), px(kClientHeight)));
    m_okButton->setFocus(Qt::OtherFocusReason);
    show();
    raise();
    activateWindow();
}

void Dialog::OKButton_Click() {
    unload();
}

void Dialog::CancelButton_Click() {
    unload();
}

void Dialog::unload() {
    close();
}

void Dialog::keyPressEvent(QKeyEvent* event) {
    // QDialog would reject on Escape. Overriding reject() instead would also
    // silence the title bar's close button, which goes through reject().
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Dialog::closeEvent(QCloseEvent* event) {
    QDialog::closeEvent(event);
    if (!event->isAccepted()) {
        return;
    }
    // Destroy the window once the event that closed it is over (it may be
    // the window's own mouse release); the next showing makes a new one.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible()) {
            destroy();
        }
    });
}

}  // namespace runlight::ui

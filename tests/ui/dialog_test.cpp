// The About dialog opened from the main window's menu, driven as a user
// drives it, beside a main window that keeps working.

#include "dialog.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <vector>

#include "form1_rig.h"
#include "text_fit.h"

namespace runlight::ui {
namespace {

using testing::control;
using testing::Form1Rig;

// The About dialogs that exist, shown or not.
std::vector<Dialog*> aboutDialogs() {
    std::vector<Dialog*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<Dialog*>(widget)) {
            found.push_back(dialog);
        }
    }
    return found;
}

struct AboutRig : Form1Rig {
    // Clicks "Névjegy" > "Zorvik" and returns the dialog it shows.
    Dialog* openAbout() {
        form.find<QAction>("zorvik")->trigger();
        const auto dialogs = aboutDialogs();
        if (dialogs.size() != 1) {
            throw std::runtime_error("expected one About dialog");
        }
        return dialogs.front();
    }
    QPushButton* button(Dialog* dialog, const char* name) {
        return control<QPushButton>(*dialog, name);
    }
    // Whether the dialog's window is gone, once the closing event is over.
    static bool windowDestroyed(Dialog* dialog) {
        QCoreApplication::processEvents();
        return !dialog->isVisible() && dialog->windowHandle() == nullptr;
    }
};

TEST(AboutDialog, OpensAsDesignedWithItsTextsAndTheFocusOnOk) {
    AboutRig rig;
    Dialog* dialog = rig.openAbout();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Névjegy"));
    EXPECT_EQ(dialog->size(), QSize(402, 134));
    EXPECT_EQ(dialog->mapToGlobal(QPoint(0, 0)), QPoint(296, 307));
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << "not resizable";
    const Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(dialog->windowType(), Qt::Tool) << "kept out of the taskbar";
    EXPECT_EQ(dialog->parentWidget(), nullptr) << "no owner";
    EXPECT_EQ(dialog->windowHandle()->transientParent(), nullptr) << "no owner";
    EXPECT_FALSE(dialog->isModal());

    auto* frame = control<QGroupBox>(*dialog, "Frame1");
    EXPECT_EQ(frame->title(), "Info");
    const std::vector<std::pair<const char*, QString>> labels{
        {"Label1", QStringLiteral("A QTX projekt")},
        {"Label2", QStringLiteral("Változat: 3.0")},
        {"Label3", QStringLiteral("Kapcsolat: qtx@example.org")},
        {"Label4", QStringLiteral("Állapot: szabad szoftver (MIT)")},
        {"Label5", QStringLiteral("Dátum: 2003.09.12.")},
    };
    int top = 24;  // pixels inside the frame, 16 apart
    for (const auto& [name, text] : labels) {
        auto* label = control<QLabel>(*frame, name);
        EXPECT_EQ(label->text(), text) << name;
        EXPECT_EQ(label->pos(), QPoint(16, top)) << name;
        top += 16;
    }
    QPushButton* ok = rig.button(dialog, "OKButton");
    QPushButton* cancel = rig.button(dialog, "CancelButton");
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(cancel->text(), "Cancel");
    EXPECT_EQ(ok->geometry(), QRect(312, 8, 81, 25));
    EXPECT_EQ(cancel->geometry(), QRect(312, 40, 81, 25));
    for (QPushButton* button : {ok, cancel}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_EQ(dialog->focusWidget(), ok);
    QTest::keyClick(ok, Qt::Key_Tab);
    EXPECT_EQ(dialog->focusWidget(), cancel);
}

TEST(AboutDialog, EveryTextIsWholeInItsBox) {
    AboutRig rig;
    Dialog* dialog = rig.openAbout();
    const auto labels = dialog->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 5);
    for (QLabel* label : labels) {
        EXPECT_EQ(testing::labelFault(*label, label->text()), "");
        // Inside the frame's border, too.
        EXPECT_LE(label->geometry().right(), label->parentWidget()->contentsRect().right());
    }
    for (const char* name : {"OKButton", "CancelButton"}) {
        QPushButton* button = rig.button(dialog, name);
        EXPECT_EQ(testing::buttonFault(*button, button->text()), "");
    }
}

TEST(AboutDialog, TwoClicksOnZorvikGiveOneDialog) {
    AboutRig rig;
    Dialog* first = rig.openAbout();
    first->move(20, 30);  // where the user put it
    const QPoint moved = first->pos();
    QPushButton* cancel = rig.button(first, "CancelButton");
    cancel->setFocus();
    rig.form.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.form.window));
    Dialog* second = rig.openAbout();
    EXPECT_EQ(first, second);
    EXPECT_EQ(aboutDialogs().size(), 1u);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(second->pos(), moved) << "an open dialog is only brought forward";
    EXPECT_EQ(second->focusWidget(), cancel);
}

TEST(AboutDialog, OkCancelAndTheCloseButtonAllDestroyTheWindowAndChangeNothing) {
    AboutRig rig;
    auto& form = rig.form;
    form.box("Check3_4")->setCheckState(Qt::Checked);
    Dialog* instance = nullptr;
    for (const char* how : {"OKButton", "CancelButton", "close button"}) {
        Dialog* dialog = rig.openAbout();
        if (instance == nullptr) {
            instance = dialog;
        }
        EXPECT_EQ(dialog, instance) << "one instance for the whole run";
        if (std::string(how) == "close button") {
            QCloseEvent close;  // what the title bar's close button sends
            QApplication::sendEvent(dialog->windowHandle(), &close);
        } else {
            QTest::mouseClick(rig.button(dialog, how), Qt::LeftButton);
        }
        EXPECT_TRUE(AboutRig::windowDestroyed(dialog)) << how;
        EXPECT_EQ(form.box("Check3_4")->checkState(), Qt::Checked) << how;
        EXPECT_EQ(form.find<QPushButton>("Start_Stop")->text(), "START") << how;
        EXPECT_TRUE(rig.port.writes().empty()) << how;
    }
}

TEST(AboutDialog, EscapeLeavesItOpenAndEnterRightAfterOpeningClicksOk) {
    AboutRig rig;
    Dialog* dialog = rig.openAbout();
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Escape);
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());

    QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(AboutRig::windowDestroyed(dialog));

    // Space on Cancel, reached with Tab, clicks Cancel.
    dialog = rig.openAbout();
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(dialog->focusWidget()->objectName(), "CancelButton");
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(AboutRig::windowDestroyed(dialog));
}

TEST(AboutDialog, ReopeningShowsItAtItsPlaceWithTheFocusOnOk) {
    AboutRig rig;
    Dialog* dialog = rig.openAbout();
    dialog->move(20, 30);
    QPushButton* cancel = rig.button(dialog, "CancelButton");
    cancel->setFocus();
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(AboutRig::windowDestroyed(dialog));

    dialog = rig.openAbout();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->mapToGlobal(QPoint(0, 0)), QPoint(296, 307));
    EXPECT_EQ(dialog->size(), QSize(402, 134));
    EXPECT_EQ(dialog->focusWidget(), rig.button(dialog, "OKButton"));
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Enter);
    EXPECT_TRUE(AboutRig::windowDestroyed(dialog));
}

TEST(AboutDialog, MainWindowKeepsWorkingBesideIt) {
    AboutRig rig;
    auto& form = rig.form;
    form.box("Ch9")->setCheckState(Qt::Checked);
    form.box("Ch10")->setCheckState(Qt::Checked);
    form.box("Check1_0")->setCheckState(Qt::Checked);
    form.clickStartStop();
    Dialog* dialog = rig.openAbout();

    form.tick();
    form.tick();
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 0x80, 0x00}))
        << "the sequencer keeps stepping";
    form.clickAtTwips(4320 + 120, 960 + 120);  // channel 8 of step 2
    form.tick();
    form.tick();
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 0x80, 0x00, 0x80, 0x01}));
    EXPECT_TRUE(form.isRed("Ch10"));

    // The main window may come in front of the dialog: it has no owner.
    form.window.raise();
    form.window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form.window));
    EXPECT_EQ(QApplication::activeWindow(), &form.window);
    EXPECT_TRUE(dialog->isVisible());
    form.clickStartStop();
    EXPECT_EQ(form.find<QPushButton>("Start_Stop")->text(), "START");
}

TEST(AboutDialog, ClosingTheMainWindowFirstKeepsTheProgramUntilTheDialogCloses) {
    AboutRig rig;
    ASSERT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    Dialog* dialog = rig.openAbout();
    qsizetype afterMainWindow = -1;
    qsizetype afterDialog = -1;
    bool dialogStayed = false;
    // Qt applies its last-window rule only inside the event loop.
    QTimer::singleShot(0, [&] {
        rig.form.window.close();
        afterMainWindow = lastClosed.count();
        dialogStayed = dialog->isVisible();
        QTest::mouseClick(rig.button(dialog, "OKButton"), Qt::LeftButton);
        afterDialog = lastClosed.count();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    QCoreApplication::removePostedEvents(qApp, QEvent::Quit);  // the quit it asked for
    EXPECT_EQ(afterMainWindow, 0) << "the About dialog keeps the program alive";
    EXPECT_TRUE(dialogStayed);
    EXPECT_EQ(afterDialog, 1) << "closing the dialog ends the program";
}

}  // namespace
}  // namespace runlight::ui

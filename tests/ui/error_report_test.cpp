// What the user is told when the port cannot be written, and when a handler
// fails in a way nobody expected.

#include "error_report.h"

#include <gtest/gtest.h>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <memory>
#include <stdexcept>

#include "application.h"
#include "form1_rig.h"
#include "port_library.h"
#include "test_port_recorder.h"

namespace runlight::ui {
namespace {

using runlight::testing::TestPortRecorder;
using testing::ShownForm1;

QMessageBox* openReport(Form1& window) {
    for (auto* box : window.findChildren<QMessageBox*>(QStringLiteral("portErrorBox"))) {
        if (box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

TEST(Form1PortError, MissingLibraryIsReportedAfterTheSequencerStopped) {
    PortLibrary library{"libqtx-no-such-port.so"};
    ShownForm1 form{library};
    form.box("Ch9")->setCheckState(Qt::Checked);
    form.box("Check2_0")->setCheckState(Qt::Checked);

    form.clickStartStop();  // returns: the report does not block
    QMessageBox* report = openReport(form.window);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->windowTitle(), QStringLiteral("Portírási hiba"));
    EXPECT_TRUE(report->text().startsWith(QStringLiteral("A futófény leállt")));
    EXPECT_TRUE(report->informativeText().contains("libqtx-no-such-port.so"))
        << report->informativeText().toStdString();
    EXPECT_EQ(form.find<QPushButton>("Start_Stop")->text(), "START");
    EXPECT_EQ(form.find<QLabel>("Label6")->text(), QStringLiteral("Áll."));
    EXPECT_EQ(form.box("Ch9")->checkState(), Qt::Checked) << "the step program stays";
    EXPECT_EQ(form.box("Check2_0")->checkState(), Qt::Checked);
    EXPECT_TRUE(form.timer()->isActive());
    form.tick();
    EXPECT_FALSE(form.isRed("Ch9")) << "stopped: the tick does nothing";

    QTest::mouseClick(report->button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_EQ(openReport(form.window), nullptr);
}

TEST(Form1PortError, FailedWriteReportsTheLibrarysOwnReason) {
    TestPortRecorder recorder;
    PortLibrary library{runlight::testing::kRecordingLibrary};
    ShownForm1 form{library};
    form.box("Ch9")->setCheckState(Qt::Checked);
    form.box("Check1_0")->setCheckState(Qt::Checked);
    form.clickStartStop();
    form.tick();
    ASSERT_EQ(recorder.writes().size(), 2u);

    recorder.failWith("port 888 on /dev/parport0: Device or resource busy");
    form.tick();
    QMessageBox* report = openReport(form.window);
    ASSERT_NE(report, nullptr);
    EXPECT_TRUE(report->informativeText().contains("/dev/parport0: Device or resource busy"))
        << report->informativeText().toStdString();
    EXPECT_EQ(form.find<QPushButton>("Start_Stop")->text(), "START");
    EXPECT_EQ(form.find<QListWidget>("List1")->count(), 1) << "the readout keeps the last byte";
    report->close();
}

// A report quoting text from outside (a library's message, an environment
// value) that looks like HTML is shown as the characters it is, in both boxes.
TEST(ErrorBoxes, ShowTextFromOutsideAsPlainText) {
    const QString detail =
        QStringLiteral("port 888: cannot open <h1>HUGE</h1><img src=\"/etc/x.png\">: No such file");
    const std::unique_ptr<QMessageBox> boxes[] = {
        std::unique_ptr<QMessageBox>{makePortErrorBox(nullptr, detail)},
        std::unique_ptr<QMessageBox>{makeUnexpectedErrorBox(detail)}};
    for (const auto& box : boxes) {
        box->show();
        int shown = 0;
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text().contains(QStringLiteral("HUGE"))) {
                ++shown;
                EXPECT_EQ(label->textFormat(), Qt::PlainText) << box->objectName().toStdString();
                EXPECT_EQ(label->text(), detail);
            }
        }
        EXPECT_EQ(shown, 1) << box->objectName().toStdString();
        box->close();
    }
}

TEST(UnexpectedError, EndsTheEventLoopAndIsReportedInHungarian) {
    auto* app = qobject_cast<Application*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    QTimer::singleShot(0, [] { throw std::logic_error("handler failed: step 17"); });
    EXPECT_EQ(QCoreApplication::exec(), EXIT_FAILURE);
    EXPECT_EQ(app->unexpectedError(), "handler failed: step 17");

    const std::unique_ptr<QMessageBox> report{makeUnexpectedErrorBox(app->unexpectedError())};
    EXPECT_EQ(report->windowTitle(), QStringLiteral("Váratlan hiba"));
    EXPECT_EQ(report->text(), QStringLiteral("Váratlan hiba történt, a program leáll."));
    EXPECT_EQ(report->informativeText(), "handler failed: step 17");
}

}  // namespace
}  // namespace runlight::ui

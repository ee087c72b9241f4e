// Every text of the main window is whole in its designed box with the fonts
// this machine really has. Default fonts fail here: "11. Lépés" needs 58
// pixels of a 57-pixel label, the readout 59 of a 57-pixel list box.

#include <gtest/gtest.h>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>

#include "form1_rig.h"
#include "text_fit.h"

namespace runlight::ui {
namespace {

using testing::Form1Rig;

TEST(Form1Text, EveryLabelShowsItsWholeText) {
    Form1Rig rig;
    const auto labels = rig.form.window.centralWidget()->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 5 + 16);
    for (QLabel* label : labels) {
        EXPECT_EQ(testing::labelFault(*label, label->text()), "");
    }
    // The run-state label's other captions, in the part List1 leaves free.
    auto* label6 = rig.form.find<QLabel>("Label6");
    for (const QString& caption : {QStringLiteral("Fut."), QStringLiteral("Áll.")}) {
        EXPECT_EQ(testing::labelFault(*label6, caption), "");
    }
}

TEST(Form1Text, StartStopShowsBothCaptionsWhole) {
    Form1Rig rig;
    auto* button = rig.form.find<QPushButton>("Start_Stop");
    EXPECT_EQ(testing::buttonFault(*button, "START"), "");
    EXPECT_EQ(testing::buttonFault(*button, "STOP"), "");
}

TEST(Form1Text, ReadoutLineIsWholeAndNoScrollBarTakesItsPlace) {
    Form1Rig rig;
    auto& form = rig.form;
    auto* list = form.find<QListWidget>("List1");
    form.box("Ch9")->setCheckState(Qt::Checked);
    form.box("Ch10")->setCheckState(Qt::Checked);
    for (int channel = 1; channel <= 8; ++channel) {
        form.box(QStringLiteral("Check%1_0").arg(channel))->setCheckState(Qt::Checked);
    }
    form.box("Check1_1")->setCheckState(Qt::Checked);
    form.box("Check3_1")->setCheckState(Qt::Checked);
    form.box("Check6_1")->setCheckState(Qt::Checked);
    form.box("Check8_1")->setCheckState(Qt::Checked);
    form.clickStartStop();
    // The widest texts: all "x", then a mix, then (after STOP/START) all "0".
    for (const char* expected : {"xxxxxxxx", "x0x00x0x"}) {
        form.tick();
        ASSERT_EQ(list->count(), 1);
        EXPECT_EQ(list->item(0)->text(), expected);
        const QRect line = list->visualItemRect(list->item(0));
        EXPECT_TRUE(list->viewport()->rect().contains(line))
            << "line " << line.width() << "x" << line.height() << " in "
            << list->viewport()->width() << "x" << list->viewport()->height();
        const int textMargin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
        for (const QString& text : {list->item(0)->text(), QStringLiteral("00000000")}) {
            EXPECT_LE(QFontMetrics(list->font()).horizontalAdvance(text) + 2 * textMargin,
                      line.width());
        }
    }
    EXPECT_FALSE(list->verticalScrollBar()->isVisible());
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
}

}  // namespace
}  // namespace runlight::ui

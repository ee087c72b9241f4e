// The main window driven as a user drives it: boxes ticked by mouse clicks at
// their places, START/STOP, the speed bar, the keyboard, resizing, closing.

#include "form1.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <map>
#include <vector>

#include "form1_rig.h"
#include "port_library.h"
#include "test_port_recorder.h"

namespace runlight::ui {
namespace {

using runlight::testing::TestPortRecorder;
using testing::Form1Rig;
using testing::ShownForm1;
using Writes = std::vector<std::pair<int, int>>;

QString channelName(int step, int channel) {  // step 1..16, channel 1..8
    return QStringLiteral("Check%1_%2").arg(channel).arg(step - 1);
}
QString enableName(int step) {  // step 1..16
    return QStringLiteral("Ch%1").arg(8 + step);
}

// --- first display and geometry ---

TEST(Form1Opening, ShowsTheDesignedStateAndTouchesNoPort) {
    Form1Rig rig;
    auto& form = rig.form;
    EXPECT_EQ(form.window.windowTitle(), QStringLiteral("QTX (kelvora3.0)"));
    EXPECT_EQ(form.find<QPushButton>("Start_Stop")->text(), "START");
    EXPECT_EQ(form.find<QLabel>("Label6")->text(), QStringLiteral("Áll"));
    EXPECT_EQ(form.find<QListWidget>("List1")->count(), 0);
    auto* bar = form.find<QScrollBar>("VScroll1");
    EXPECT_EQ(bar->value(), 200);
    EXPECT_EQ(bar->minimum(), 2) << "0 must not be reachable: it would stop the ticks";
    EXPECT_EQ(bar->maximum(), 800);
    EXPECT_EQ(bar->singleStep(), 1);
    QTimer* timer = form.timer();
    EXPECT_TRUE(timer->isActive()) << "the timer runs from load";
    EXPECT_EQ(timer->interval(), 200);
    EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
    for (int step = 1; step <= 16; ++step) {
        for (int channel = 1; channel <= 8; ++channel) {
            EXPECT_EQ(form.box(channelName(step, channel))->checkState(), Qt::Unchecked);
        }
        EXPECT_EQ(form.box(enableName(step))->checkState(), Qt::Unchecked);
        EXPECT_FALSE(form.isRed(enableName(step)));
    }
    EXPECT_TRUE(rig.port.writes().empty());

    auto* menu = form.find<QMenu>(QStringLiteral("menü1"));
    EXPECT_EQ(menu->title(), QStringLiteral("Névjegy"));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), "Zorvik");
    EXPECT_EQ(menu->actions().front()->objectName(), "zorvik");
}

TEST(Form1Opening, ClientAreaLiesBelowTheMenuBarAtItsDesignedPlace) {
    Form1Rig rig;
    QWidget* client = rig.form.window.centralWidget();
    EXPECT_EQ(client->size(), QSize(458, 438));
    EXPECT_EQ(client->mapToGlobal(QPoint(0, 0)), QPoint(270, 235));
    EXPECT_EQ(rig.form.window.menuBar()->geometry().bottom() + 1, client->y());
}

TEST(Form1Opening, RowsOfBoxesStandWhereTheDesignSaysInWords) {
    Form1Rig rig;
    QWidget* client = rig.form.window.centralWidget();
    const auto clientPlace = [&](const QString& name) {
        QWidget* widget = rig.form.find<QWidget>(name);
        return QRect(widget->mapTo(client, QPoint(0, 0)), widget->size());
    };
    // Channel boxes at client Left 960 to 4320, 480 apart; the enable box at
    // 4920; rows from Top 600, 360 apart; every box 255 x 255.
    for (int step : {1, 2, 9, 16}) {
        const int top = px(600 + 360 * (step - 1));
        for (int channel = 1; channel <= 8; ++channel) {
            EXPECT_EQ(clientPlace(channelName(step, channel)),
                      QRect(px(960 + 480 * (channel - 1)), top, 17, 17))
                << step << "/" << channel;
        }
        EXPECT_EQ(clientPlace(enableName(step)), QRect(px(4920), top, 17, 17)) << step;
    }
    EXPECT_EQ(clientPlace("Label2").topLeft(), QPoint(px(120), px(960)));
    EXPECT_EQ(clientPlace("Label1_14").topLeft(), QPoint(0, px(6000)));
    EXPECT_EQ(clientPlace("Start_Stop"), QRect(360, 40, 89, 41));
    EXPECT_EQ(clientPlace("VScroll1"), QRect(376, 112, 57, 313));
    EXPECT_EQ(clientPlace("List1"), QRect(176, 8, 57, 17));
}

TEST(Form1Opening, ResizingOrMaximizingMovesNothing) {
    Form1Rig rig;
    Form1& window = rig.form.window;
    std::map<QString, QRect> before;
    for (QWidget* widget : window.centralWidget()->findChildren<QWidget*>()) {
        before[widget->objectName()] = widget->geometry();
    }
    ASSERT_GT(before.size(), 180u);

    window.resize(900, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.centralWidget()->width(), 900);
    window.showMaximized();
    QCoreApplication::processEvents();
    for (QWidget* widget : window.centralWidget()->findChildren<QWidget*>()) {
        EXPECT_EQ(widget->geometry(), before[widget->objectName()])
            << widget->objectName().toStdString();
    }
}

// --- boxes, START/STOP, highlight, readout ---

TEST(Form1Boxes, MouseClicksAtTheBoxPositionsTickAndUntickThem) {
    Form1Rig rig;
    auto& form = rig.form;
    form.clickAtTwips(960 + 8 * 15, 600 + 8 * 15);    // step 1, channel 1
    form.clickAtTwips(4320 + 8 * 15, 6000 + 8 * 15);  // step 16, channel 8
    form.clickAtTwips(4920 + 8 * 15, 1320 + 8 * 15);  // enable box of step 3
    EXPECT_EQ(form.box(channelName(1, 1))->checkState(), Qt::Checked);
    EXPECT_EQ(form.box(channelName(16, 8))->checkState(), Qt::Checked);
    EXPECT_EQ(form.box(enableName(3))->checkState(), Qt::Checked);
    EXPECT_EQ(form.box(channelName(1, 2))->checkState(), Qt::Unchecked);
    EXPECT_EQ(form.window.channelBox(0, 0), Box::Checked);
    EXPECT_EQ(form.window.enableBox(2), Box::Checked);

    form.clickAtTwips(960 + 8 * 15, 600 + 8 * 15);
    EXPECT_EQ(form.box(channelName(1, 1))->checkState(), Qt::Unchecked);
    EXPECT_TRUE(rig.port.writes().empty()) << "a box click writes nothing";
}

TEST(Form1Boxes, GreyedValueIsKeptReadBackAsTwoAndCountsAsOff) {
    Form1Rig rig;
    auto& form = rig.form;
    form.box(channelName(1, 1))->setCheckState(Qt::PartiallyChecked);
    form.box(channelName(1, 8))->setCheckState(Qt::Checked);
    form.box(enableName(1))->setCheckState(Qt::Checked);
    form.box(enableName(2))->setCheckState(Qt::PartiallyChecked);
    form.box(enableName(3))->setCheckState(Qt::Checked);
    EXPECT_EQ(form.window.channelBox(0, 0), Box::Grayed);
    EXPECT_EQ(form.window.enableBox(1), Box::Grayed);

    form.clickStartStop();
    form.tick();
    form.tick();
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 1, 0}))
        << "greyed channel off, step 2 passed over";
    EXPECT_TRUE(form.isRed(enableName(3)));
    EXPECT_EQ(form.box(channelName(1, 1))->checkState(), Qt::PartiallyChecked);
    // A user's click turns a greyed box into a ticked one, never back to grey.
    form.clickAtTwips(960 + 8 * 15, 600 + 8 * 15);
    EXPECT_EQ(form.window.channelBox(0, 0), Box::Checked);
    form.clickAtTwips(960 + 8 * 15, 600 + 8 * 15);
    EXPECT_EQ(form.window.channelBox(0, 0), Box::Unchecked);
}

TEST(Form1Run, StartWritesZeroThenTheComposedBytesThroughThePortLibrary) {
    TestPortRecorder recorder;
    PortLibrary library{runlight::testing::kRecordingLibrary};
    ShownForm1 form{library};
    // Step 1: channels 1 and 3 (0xA0); step 2: channel 8 (0x01).
    form.clickAtTwips(960 + 120, 600 + 120);
    form.clickAtTwips(1920 + 120, 600 + 120);
    form.clickAtTwips(4320 + 120, 960 + 120);
    form.clickAtTwips(4920 + 120, 600 + 120);
    form.clickAtTwips(4920 + 120, 960 + 120);

    form.clickStartStop();
    EXPECT_EQ(form.find<QPushButton>("Start_Stop")->text(), "STOP");
    EXPECT_EQ(form.find<QLabel>("Label6")->text(), "Fut.");
    EXPECT_EQ(recorder.writes(), (Writes{{888, 0}})) << "START turns every channel off at once";
    form.tick();
    form.tick();
    form.tick();
    EXPECT_EQ(recorder.writes(), (Writes{{888, 0}, {888, 0xA0}, {888, 0x01}, {888, 0xA0}}));

    form.clickStartStop();
    EXPECT_EQ(form.find<QPushButton>("Start_Stop")->text(), "START");
    EXPECT_EQ(form.find<QLabel>("Label6")->text(), QStringLiteral("Áll."));
    form.tick();
    EXPECT_EQ(recorder.writes().size(), 4u) << "no writes while stopped";
}

TEST(Form1Run, HighlightMovesWithTheStepsAndStaysAfterStop) {
    Form1Rig rig;
    auto& form = rig.form;
    form.box(enableName(1))->setCheckState(Qt::Checked);
    form.box(enableName(3))->setCheckState(Qt::Checked);
    form.clickStartStop();
    form.tick();
    EXPECT_TRUE(form.isRed(enableName(1)));
    EXPECT_FALSE(form.isRed(enableName(3)));
    form.tick();
    EXPECT_FALSE(form.isRed(enableName(1)));
    EXPECT_TRUE(form.isRed(enableName(3)));
    for (int step : {2, 4, 16}) {
        EXPECT_FALSE(form.isRed(enableName(step))) << step;
    }

    form.clickStartStop();
    form.tick();
    EXPECT_TRUE(form.isRed(enableName(3))) << "the last shown step stays red after STOP";
    form.clickStartStop();
    EXPECT_TRUE(form.isRed(enableName(3))) << "until the first tick after START";
    form.tick();
    EXPECT_TRUE(form.isRed(enableName(1)));
    EXPECT_FALSE(form.isRed(enableName(3)));
}

TEST(Form1Run, ReadoutHoldsOneLineAndBoxEditsCountAtTheNextTick) {
    Form1Rig rig;
    auto& form = rig.form;
    auto* list = form.find<QListWidget>("List1");
    form.box(enableName(1))->setCheckState(Qt::Checked);
    form.box(channelName(1, 1))->setCheckState(Qt::Checked);
    form.clickStartStop();
    EXPECT_EQ(list->count(), 0) << "START does not refresh the readout";
    form.tick();
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "x0000000");

    form.clickAtTwips(4320 + 120, 600 + 120);  // channel 8 of step 1, while running
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 0x80})) << "nothing is written at the click";
    form.tick();
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "x000000x");
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 0x80, 0x81}));
}

// --- speed bar ---

QPoint sliderCentre(QScrollBar* bar) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    return bar->style()
        ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar)
        .center();
}

TEST(Form1Speed, DraggingTheThumbChangesThePeriodOnlyOnRelease) {
    Form1Rig rig;
    auto* bar = rig.form.find<QScrollBar>("VScroll1");
    QTimer* timer = rig.form.timer();
    const QPoint from = sliderCentre(bar);
    const QPoint to = from + QPoint(0, 100);
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), bar->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    EXPECT_GT(bar->sliderPosition(), 300) << "the thumb follows the mouse";
    EXPECT_EQ(bar->value(), 200);
    EXPECT_EQ(timer->interval(), 200) << "no change while dragging";

    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_GT(bar->value(), 300);
    EXPECT_EQ(timer->interval(), bar->value()) << "the period follows on release";
    EXPECT_TRUE(timer->isActive());
}

TEST(Form1Speed, TooltipTellsThePeriodAndFollowsADraggedThumbUntilRelease) {
    Form1Rig rig;
    auto* bar = rig.form.find<QScrollBar>("VScroll1");
    EXPECT_EQ(bar->toolTip(), "200 ms lépésenként, 5 lépés/s\nFelfelé gyorsabb, lefelé lassabb");
    QTest::keyClick(bar, Qt::Key_End);
    EXPECT_TRUE(bar->toolTip().startsWith("800 ms lépésenként, 1,25 lépés/s"))
        << bar->toolTip().toStdString();

    // While dragging, a tip follows the thumb; the bar's own tooltip and
    // the period wait for the release.
    const QPoint from = sliderCentre(bar);
    const QPoint to = from - QPoint(0, 150);
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), bar->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    const int dragged = bar->sliderPosition();
    ASSERT_LT(dragged, 800);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_TRUE(QToolTip::text().startsWith(QStringLiteral("%1 ms lépésenként").arg(dragged)))
        << QToolTip::text().toStdString();
    EXPECT_TRUE(QToolTip::text().endsWith("Elengedéskor lép életbe"));
    EXPECT_TRUE(bar->toolTip().startsWith("800 ms"));
    EXPECT_EQ(rig.form.timer()->interval(), 800);

    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_TRUE(bar->toolTip().startsWith(QStringLiteral("%1 ms lépésenként").arg(dragged)));
    EXPECT_EQ(rig.form.timer()->interval(), dragged);
}

TEST(Form1Tooltips, BoxesNameTheirStepAndChannelAndStartNamesItsKeys) {
    Form1Rig rig;
    ShownForm1& form = rig.form;
    EXPECT_EQ(form.box(channelName(1, 1))->toolTip(), "1. lépés, 1. csatorna (D7)");
    EXPECT_EQ(form.box(channelName(3, 8))->toolTip(), "3. lépés, 8. csatorna (D0)");
    EXPECT_EQ(form.box(channelName(16, 5))->toolTip(), "16. lépés, 5. csatorna (D3)");
    EXPECT_TRUE(form.box(enableName(1))->toolTip().startsWith("1. lépés engedélyezése"));
    EXPECT_TRUE(form.box(enableName(16))->toolTip().startsWith("16. lépés engedélyezése"));
    const QString start = form.find<QPushButton>("Start_Stop")->toolTip();
    EXPECT_TRUE(start.contains("Szóköz") && start.contains("Enter")) << start.toStdString();
}

TEST(Form1Speed, ArrowKeysAndTrackClicksChangeThePeriodAtOnce) {
    Form1Rig rig;
    auto* bar = rig.form.find<QScrollBar>("VScroll1");
    QTimer* timer = rig.form.timer();
    QTest::keyClick(bar, Qt::Key_Down);
    EXPECT_EQ(timer->interval(), 201);
    QTest::keyClick(bar, Qt::Key_Home);
    EXPECT_EQ(timer->interval(), 2);
    QTest::keyClick(bar, Qt::Key_Up);
    EXPECT_EQ(bar->value(), 2) << "the bar ends at 2 ms";
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                      QPoint(bar->width() / 2, bar->height() - 30));
    EXPECT_EQ(timer->interval(), 2 + bar->pageStep());
}

// --- keyboard ---

TEST(Form1Keyboard, TabWalksTheDesignedFocusOrderAndShiftTabWalksBack) {
    Form1Rig rig;
    Form1& window = rig.form.window;
    QStringList expected{"Start_Stop", "VScroll1"};
    for (int channel = 1; channel <= 8; ++channel) {
        expected << channelName(1, channel);
    }
    for (int step = 1; step <= 16; ++step) {
        expected << enableName(step);
    }
    for (int step = 2; step <= 16; ++step) {
        for (int channel = 8; channel >= 1; --channel) {
            expected << channelName(step, channel);
        }
    }
    expected << "List1"
             << "Start_Stop";

    ASSERT_NE(window.focusWidget(), nullptr);
    QStringList seen{window.focusWidget()->objectName()};
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
        seen << window.focusWidget()->objectName();
    }
    EXPECT_EQ(seen, expected);

    QTest::keyClick(window.focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(window.focusWidget()->objectName(), "List1");
    QTest::keyClick(window.focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(window.focusWidget()->objectName(), channelName(16, 1));
}

TEST(Form1Keyboard, SpaceOrEnterRightAfterStartUpStarts) {
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        Form1Rig rig;
        QWidget* focus = rig.form.window.focusWidget();
        ASSERT_NE(focus, nullptr);
        ASSERT_EQ(focus->objectName(), "Start_Stop")
            << "START holds the focus when the window opens";
        QTest::keyClick(focus, key);
        EXPECT_EQ(rig.form.find<QPushButton>("Start_Stop")->text(), "STOP") << key;
        EXPECT_EQ(rig.port.values(), std::vector<int>{0}) << key;
        QTest::keyClick(focus, key);
        EXPECT_EQ(rig.form.find<QPushButton>("Start_Stop")->text(), "START") << key;
    }
}

}  // namespace
}  // namespace runlight::ui

// The readout and the enable boxes are drawn by shortcuts of our own (a
// plain line of text, a kept picture of a box, a line changed without a new
// layout). Each must give exactly what Qt's own drawing and layout give,
// through every change the running light makes.

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QListWidget>
#include <QWidget>
#include <vector>

#include "form1_rig.h"
#include "readout_list.h"
#include "value_box.h"

namespace runlight::ui {
namespace {

using testing::Form1Rig;

const std::vector<QString> kLines{QStringLiteral("x0x00x0x"), QStringLiteral("xxxxxxxx"),
                                  QStringLiteral("00000000"), QStringLiteral("0000000x")};

// Pixels that differ between two widgets' drawings (-1: different sizes).
int differingPixels(QWidget& first, QWidget& second) {
    const QImage a = first.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage b = second.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (a.size() != b.size()) {
        return -1;
    }
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            differing += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return differing;
}

// List1's settings on a plain list, drawn and laid out by Qt alone.
void likeList1(QListWidget& list) {
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list.setTextElideMode(Qt::ElideNone);
    list.setUniformItemSizes(true);
}

struct ListPair {
    ListPair() {
        likeList1(plain);
        for (QListWidget* list : {static_cast<QListWidget*>(&ours), &plain}) {
            list->resize(57, 17);
            list->setFocusPolicy(Qt::NoFocus);  // a focused list has a frame of its own colour
            list->addItem(kLines.front());
        }
        plain.move(0, 20);
        window.show();
        // Activation is asynchronous (Qt 6.8 deprecates setActiveWindow).
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window)) {
            throw std::runtime_error("the window did not become active");
        }
    }
    void setLine(const QString& text) {
        ours.item(0)->setText(text);
        plain.item(0)->setText(text);
    }
    QWidget window;
    ReadoutList ours{&window};
    QListWidget plain{&window};
};

TEST(ReadoutDrawing, LineLooksAsQtDrawsItThroughEveryChange) {
    ListPair lists;
    for (const QString& line : kLines) {
        lists.setLine(line);
        EXPECT_EQ(differingPixels(lists.ours, lists.plain), 0) << line.toStdString();
    }
    // A selected line goes to the style, as does a line with a colour of its own.
    lists.ours.item(0)->setSelected(true);
    lists.plain.item(0)->setSelected(true);
    EXPECT_EQ(differingPixels(lists.ours, lists.plain), 0);
    lists.ours.item(0)->setSelected(false);
    lists.plain.item(0)->setSelected(false);
    lists.ours.item(0)->setForeground(Qt::blue);
    lists.plain.item(0)->setForeground(Qt::blue);
    EXPECT_EQ(differingPixels(lists.ours, lists.plain), 0);
}

TEST(ReadoutDrawing, LineIsLaidOutAnewWhenItsTextNoLongerFits) {
    ListPair lists;
    const QString wide(40, QLatin1Char('x'));
    for (const QString& line : {kLines[0], wide, kLines[1], wide, kLines[2]}) {
        lists.setLine(line);
        EXPECT_EQ(lists.ours.visualItemRect(lists.ours.item(0)),
                  lists.plain.visualItemRect(lists.plain.item(0)))
            << line.toStdString();
        EXPECT_EQ(differingPixels(lists.ours, lists.plain), 0) << line.toStdString();
    }
    // A larger font makes the same text too wide for the box.
    for (QListWidget* list : {static_cast<QListWidget*>(&lists.ours), &lists.plain}) {
        QFont font = list->font();
        font.setPointSize(font.pointSize() * 2);
        list->setFont(font);
    }
    lists.setLine(kLines[1]);
    EXPECT_EQ(lists.ours.visualItemRect(lists.ours.item(0)),
              lists.plain.visualItemRect(lists.plain.item(0)));
}

TEST(ReadoutDrawing, StepLeavesTheLineNeitherSelectedNorCurrent) {
    Form1Rig rig;
    auto& form = rig.form;
    auto* list = form.find<QListWidget>("List1");
    form.box("Ch9")->setCheckState(Qt::Checked);
    form.clickStartStop();
    form.tick();
    ASSERT_EQ(list->count(), 1);
    list->setFocus();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(list->item(0)).center());
    ASSERT_TRUE(list->item(0)->isSelected());
    form.tick();
    ASSERT_EQ(list->count(), 1);
    EXPECT_FALSE(list->item(0)->isSelected());
    EXPECT_EQ(list->currentRow(), -1);
}

// An enable box next to a plain check box with the same settings.
struct BoxPair {
    BoxPair() {
        for (QCheckBox* box : {static_cast<QCheckBox*>(&ours), &plain}) {
            box->setGeometry(0, 0, 17, 17);
            box->setAutoFillBackground(true);
        }
        plain.move(20, 0);
        for (QCheckBox* box : {static_cast<QCheckBox*>(&ours), &plain}) {
            box->setFocusPolicy(Qt::NoFocus);
        }
        window.show();
    }
    // The enable box takes its colours as Form1 sets them; the plain box
    // through a palette holding them.
    void paint(const QColor& back, const QColor& square, Qt::CheckState state) {
        ours.setColours(back, square);
        QPalette colours = plain.palette();
        colours.setColor(plain.backgroundRole(), back);
        colours.setColor(QPalette::Base, square);
        plain.setPalette(colours);
        ours.setCheckState(state);
        plain.setCheckState(state);
    }
    QWidget window;
    ValueBox ours{&window};
    QCheckBox plain{&window};
};

TEST(ReadoutDrawing, EnableBoxLooksAsQtDrawsItThroughEveryChange) {
    BoxPair boxes;
    boxes.plain.setTristate(true);
    EXPECT_EQ(differingPixels(boxes.ours, boxes.plain), 0) << "in the palette's colours";
    const QColor face = boxes.window.palette().color(QPalette::Button);
    const QColor white = boxes.window.palette().color(QPalette::Base);
    // Colours and values as the steps go by, each seen again after others.
    for (int round = 0; round < 2; ++round) {
        for (const Qt::CheckState state : {Qt::Checked, Qt::Unchecked, Qt::PartiallyChecked}) {
            for (const QColor& back : {face, QColor(Qt::red)}) {
                boxes.paint(back, back == face ? white : back, state);
                EXPECT_EQ(differingPixels(boxes.ours, boxes.plain), 0)
                    << "state " << state << " back " << back.name().toStdString();
            }
        }
    }
    boxes.ours.setEnabled(false);
    boxes.plain.setEnabled(false);
    EXPECT_EQ(differingPixels(boxes.ours, boxes.plain), 0) << "disabled";
}

}  // namespace
}  // namespace runlight::ui

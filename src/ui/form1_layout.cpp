#include "form1_layout.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <vector>

#include "command_button.h"
#include "design.h"
#include "readout_list.h"
#include "screen_placement.h"
#include "step_sequencer.h"
#include "value_box.h"
#include "window_colour.h"

namespace runlight::ui {

namespace {

constexpr int kClientWidth = 6870;   // twips: 458 pixels
constexpr int kClientHeight = 6570;  // twips: 438 pixels
constexpr int kClientLeft = 4050;    // twips from the screen's left: 270 pixels
constexpr int kClientTop = 3525;     // twips from the screen's top: 235 pixels
constexpr int kRowPitch = 360;       // twips between two step rows
constexpr int kChannelPitch = 480;   // twips between two channel boxes of a row
constexpr int kBoxSize = 255;        // twips, width and height of every check box
constexpr int kSpeedMinimum = 2;     // ms per step
constexpr int kSpeedMaximum = 800;   // ms per step
constexpr int kSpeedLargeStep = 20;  // ms, a click on the bar's track

std::size_t at(int index) {
    return static_cast<std::size_t>(index);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    return label;
}

// Eight lamps, some lit: the window's icon.
QIcon lampIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(40, 40, 40));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int lamp = 0; lamp < 8; ++lamp) {
        const bool lit = lamp % 3 == 0;
        painter.setBrush(lit ? QColor(255, 60, 40) : QColor(90, 30, 30));
        painter.drawEllipse(QRectF(2 + (lamp % 4) * 7.5, 5 + (lamp / 4) * 14, 6, 6));
    }
    painter.end();
    return QIcon(pixmap);
}

// The step labels' design: step 2's label is the single Label2, the others
// are the family Label1 with index step - 2 (step 1: index 0).
struct StepLabelDesign {
    QString name;
    int left;   // twips
    int width;  // twips
};

StepLabelDesign stepLabelDesign(int step) {
    StepLabelDesign design{QStringLiteral("Label1_%1").arg(step == 1 ? 0 : step - 2), 120, 615};
    if (step == 2) {
        design.name = QStringLiteral("Label2");
    } else if (step == 10 || step == 13 || step == 16) {
        design.left = 0;
        design.width = 735;
    } else if (step >= 11) {
        design.left = 0;
        design.width = 855;
    }
    return design;
}

QAction* buildMenu(QMainWindow& window) {
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Névjegy"));
    menu->setObjectName(QStringLiteral("menü1"));
    menu->setFont(designFont());
    QAction* item = menu->addAction(QStringLiteral("Zorvik"));
    item->setObjectName(QStringLiteral("zorvik"));
    return item;
}

void buildStepRows(QWidget* client, const QPalette& palette, Form1Controls& controls) {
    auto* frame2 = new QGroupBox(client);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(twipsRect(4800, 480, 495, 5895));

    const QColor buttonFace = windowColour(kButtonFaceColour, palette);
    for (int step = 1; step <= kStepCount; ++step) {
        const int row = step - 1;

        auto* frame = new QGroupBox(client);
        frame->setObjectName(QStringLiteral("Frame1_%1").arg(row));
        frame->setGeometry(twipsRect(840, 480 + kRowPitch * row, 3855, 495));
        for (int channel = 1; channel <= kChannelCount; ++channel) {
            auto* box = new ValueBox(frame);
            box->setObjectName(QStringLiteral("Check%1_%2").arg(channel).arg(row));
            box->setAccessibleName(QStringLiteral("Check%1").arg(channel));
            // Channel 1 is bit 7 of the byte, the lamp monitor's D7.
            box->setToolTip(QStringLiteral("%1. lépés, %2. csatorna (D%3)")
                                .arg(step)
                                .arg(channel)
                                .arg(kChannelCount - channel));
            box->setGeometry(
                twipsRect(120 + kChannelPitch * (channel - 1), 120, kBoxSize, kBoxSize));
            controls.channels.at(at(row)).at(at(channel - 1)) = box;
        }

        auto* enable = new ValueBox(frame2);
        enable->setObjectName(QStringLiteral("Ch%1").arg(8 + step));
        enable->setAccessibleName(step == 1 ? QString() : QStringLiteral("Check%1").arg(8 + step));
        enable->setGeometry(twipsRect(120, 120 + kRowPitch * row, kBoxSize, kBoxSize));
        enable->setToolTip(
            QStringLiteral("%1. lépés engedélyezése: bejelölve részt vesz a futásban").arg(step));
        // The back colour fills the box's whole area, around the square too.
        enable->setAutoFillBackground(true);
        QPalette colours = enable->palette();
        colours.setColor(enable->backgroundRole(), buttonFace);
        enable->setPalette(colours);
        controls.enables.at(at(row)) = enable;

        const StepLabelDesign design = stepLabelDesign(step);
        auto* label = new QLabel(QStringLiteral("%1. Lépés").arg(step), client);
        label->setObjectName(design.name);
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(twipsRect(design.left, 600 + kRowPitch * row, design.width, 255));
    }
}

void buildControls(QWidget* client, const QPalette& palette, Form1Controls& controls) {
    makeLabel(client, "Label7", QStringLiteral("Kelvora:"), twipsRect(1080, 120, 735, 255));
    controls.label6 =
        makeLabel(client, "Label6", QStringLiteral("Áll"), twipsRect(1920, 120, 1215, 255));

    // Created after Label6, so it is drawn over that label's right-hand part.
    controls.list1 = new ReadoutList(client);
    controls.list1->setObjectName(QStringLiteral("List1"));
    controls.list1->setGeometry(twipsRect(2640, 120, 855, 255));

    makeLabel(client, "Label5", QStringLiteral("Lépés"), twipsRect(4800, 0, 975, 255));
    makeLabel(client, "Label4", QStringLiteral("  engedélyezése"), twipsRect(4440, 240, 1215, 255));

    controls.startStop = new CommandButton(QStringLiteral("START"), client);
    controls.startStop->setObjectName(QStringLiteral("Start_Stop"));
    controls.startStop->setGeometry(twipsRect(5400, 600, 1335, 615));
    controls.startStop->setToolTip(
        QStringLiteral("A futófény indítása és leállítása\n"
                       "(induláskor a Szóköz vagy az Enter is indítja)"));

    makeLabel(client, "Label3", QStringLiteral(" Sebesség"), twipsRect(5640, 1440, 855, 255));

    auto* bar = new QScrollBar(Qt::Vertical, client);
    controls.vScroll1 = bar;
    bar->setObjectName(QStringLiteral("VScroll1"));
    bar->setGeometry(twipsRect(5640, 1680, 855, 4695));
    bar->setRange(kSpeedMinimum, kSpeedMaximum);
    bar->setSingleStep(1);
    bar->setPageStep(kSpeedLargeStep);
    // A drag reports its new position only when the thumb is released, and
    // the bar takes its place in the Tab order.
    bar->setTracking(false);
    bar->setFocusPolicy(Qt::StrongFocus);

    buildStepRows(client, palette, controls);
}

void setFocusOrder(const Form1Controls& controls) {
    std::vector<QWidget*> order{controls.startStop, controls.vScroll1};
    for (ValueBox* box : controls.channels.front()) {
        order.push_back(box);
    }
    for (ValueBox* box : controls.enables) {
        order.push_back(box);
    }
    for (int row = 1; row < kStepCount; ++row) {
        for (int channel = kChannelCount - 1; channel >= 0; --channel) {
            order.push_back(controls.channels.at(at(row)).at(at(channel)));
        }
    }
    order.push_back(controls.list1);
    // The chain is a ring: from List1 Tab goes back to Start_Stop.
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

}  // namespace

Form1Controls buildForm1Layout(QMainWindow& window) {
    window.setObjectName(QStringLiteral("Form1"));
    window.setWindowTitle(QStringLiteral("QTX (kelvora3.0)"));
    window.setWindowIcon(lampIcon());
    window.setFont(designFont());

    Form1Controls controls;
    controls.zorvik = buildMenu(window);
    auto* client = new QWidget(&window);
    client->setObjectName(QStringLiteral("client"));
    window.setCentralWidget(client);
    buildControls(client, window.palette(), controls);
    setFocusOrder(controls);

    // Enlarging the window only adds empty space; it cannot be made smaller
    // than the designed client area, which holds every control.
    client->setMinimumSize(px(kClientWidth), px(kClientHeight));
    // The menu bar lies above the client area; it is the client area that
    // opens 458 x 438 at (270, 235), where the whole window fits the screen,
    // else moved the least distance that puts it whole on the screen.
    const int menuHeight = window.menuBar()->sizeHint().height();
    placeWhole(window, QRect(px(kClientLeft), px(kClientTop) - menuHeight, px(kClientWidth),
                             px(kClientHeight) + menuHeight));
    return controls;
}

}  // namespace runlight::ui

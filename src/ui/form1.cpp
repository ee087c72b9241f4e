#include "form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "command_button.h"
#include "design.h"
#include "dialog.h"
#include "error_report.h"
#include "readout_list.h"
#include "timer_waker.h"
#include "value_box.h"
#include "window_colour.h"

namespace runlight::ui {

namespace {

constexpr int kClientWidth = 6870;       // twips: 458 pixels
constexpr int kClientHeight = 6570;      // twips: 438 pixels
constexpr int kClientLeft = 4050;        // twips from the screen's left: 270 pixels
constexpr int kClientTop = 3525;         // twips from the screen's top: 235 pixels
constexpr int kRowPitch = 360;           // twips between two step rows
constexpr int kChannelPitch = 480;       // twips between two channel boxes of a row
constexpr int kBoxSize = 255;            // twips, width and height of every check box
constexpr int kTimerDesignPeriod = 200;  // ms, the timer's own setting
constexpr int kSpeedMinimum = 2;         // ms per step
constexpr int kSpeedMaximum = 800;       // ms per step
constexpr int kSpeedLargeStep = 20;      // ms, a click on the bar's track

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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

}  // namespace

Form1::Form1(PortSink& port, QWidget* parent) : QMainWindow(parent), m_sequencer(*this, port) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("QTX (kelvora3.0)"));
    setWindowIcon(lampIcon());
    setFont(designFont());
    m_enableColours.fill(kButtonFaceColour);

    buildMenu();
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    buildControls(client);
    setFocusOrder();

    // The menu bar lies above the client area; it is the client area that
    // opens 458 x 438 at (270, 235).
    const int menuHeight = menuBar()->sizeHint().height();
    setGeometry(px(kClientLeft), px(kClientTop) - menuHeight, px(kClientWidth),
                px(kClientHeight) + menuHeight);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setTimerType(Qt::PreciseTimer);
    m_frameTimer = new QTimer(this);
    m_frameTimer->setObjectName(QStringLiteral("frameTimer"));
    m_frameTimer->setSingleShot(true);
    connect(m_frameTimer, &QTimer::timeout, this, &Form1::drawPendingFrame);
    m_waker = new TimerWaker(*m_timer1);
    m_tick = connect(m_timer1, &QTimer::timeout, this, [this] {
        m_waker->ticked();
        m_sequencer.Timer1_Timer();
        // A frame that has fallen due is drawn right after a step, so that
        // drawing it never holds up the next step.
        if (m_frameTimer->isActive() && std::chrono::steady_clock::now() - m_lastPaint >= kFrame) {
            drawPendingFrame();
        }
    });
    connect(m_vScroll1, &QScrollBar::valueChanged, this, [this] { m_sequencer.VScroll1_Change(); });
    connect(m_startStop, &QPushButton::clicked, this, [this] { m_sequencer.Start_Stop_Click(); });

    // Load: the timer runs from here on; Form_Load moves the bar to 200,
    // and that change sets the period.
    m_timer1->start(kTimerDesignPeriod);
    m_waker->started();
    m_sequencer.Form_Load();
    m_startStop->setFocus();
}

Form1::~Form1() = default;

bool Form1::event(QEvent* event) {
    // At 2 ms a step the boxes and the readout change 500 times a second,
    // far more often than a screen shows a frame. The widgets take every
    // change at once; the window is drawn at most once a frame, with all the
    // changes since the last one (Qt keeps them until then). Even when a
    // frame is due at once, the drawing waits for the changes still queued
    // (the readout's layout), so that one drawing shows them all.
    if (event->type() == QEvent::UpdateRequest) {
        if (!m_frameTimer->isActive()) {
            const auto sinceLast = std::chrono::steady_clock::now() - m_lastPaint;
            m_frameTimer->start(sinceLast >= kFrame ? std::chrono::milliseconds(0)
                                                    : std::chrono::ceil<std::chrono::milliseconds>(
                                                          kFrame - sinceLast));
        }
        return true;
    }
    return QMainWindow::event(event);
}

void Form1::drawPendingFrame() {
    m_frameTimer->stop();
    m_lastPaint = std::chrono::steady_clock::now();
    QEvent request(QEvent::UpdateRequest);  // what Qt would have delivered
    QMainWindow::event(&request);
}

void Form1::buildMenu() {
    QMenu* menu = menuBar()->addMenu(QStringLiteral("Névjegy"));
    menu->setObjectName(QStringLiteral("menü1"));
    menu->setFont(designFont());
    QAction* item = menu->addAction(QStringLiteral("Zorvik"));
    item->setObjectName(QStringLiteral("zorvik"));
    // Both entries are one-element families; the item delivers its index, 0.
    connect(item, &QAction::triggered, this, [this] { zorvik_Click(0); });
}

void Form1::buildControls(QWidget* client) {
    makeLabel(client, "Label7", QStringLiteral("Kelvora:"), twipsRect(1080, 120, 735, 255));
    m_label6 = makeLabel(client, "Label6", QStringLiteral("Áll"), twipsRect(1920, 120, 1215, 255));

    // Created after Label6, so it is drawn over that label's right-hand part.
    m_list1 = new ReadoutList(client);
    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setGeometry(twipsRect(2640, 120, 855, 255));

    makeLabel(client, "Label5", QStringLiteral("Lépés"), twipsRect(4800, 0, 975, 255));
    makeLabel(client, "Label4", QStringLiteral("  engedélyezése"), twipsRect(4440, 240, 1215, 255));

    m_startStop = new CommandButton(QStringLiteral("START"), client);
    m_startStop->setObjectName(QStringLiteral("Start_Stop"));
    m_startStop->setGeometry(twipsRect(5400, 600, 1335, 615));

    makeLabel(client, "Label3", QStringLiteral(" Sebesség"), twipsRect(5640, 1440, 855, 255));

    m_vScroll1 = new QScrollBar(Qt::Vertical, client);
    m_vScroll1->setObjectName(QStringLiteral("VScroll1"));
    m_vScroll1->setGeometry(twipsRect(5640, 1680, 855, 4695));
    m_vScroll1->setRange(kSpeedMinimum, kSpeedMaximum);
    m_vScroll1->setSingleStep(1);
    m_vScroll1->setPageStep(kSpeedLargeStep);
    // A drag reports its new position only when the thumb is released, and
    // the bar takes its place in the Tab order.
    m_vScroll1->setTracking(false);
    m_vScroll1->setFocusPolicy(Qt::StrongFocus);

    buildStepRows(client);
}

void Form1::buildStepRows(QWidget* client) {
    auto* frame2 = new QGroupBox(client);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(twipsRect(4800, 480, 495, 5895));

    const QColor buttonFace = windowColour(kButtonFaceColour, palette());
    for (int step = 1; step <= kStepCount; ++step) {
        const int row = step - 1;

        auto* frame = new QGroupBox(client);
        frame->setObjectName(QStringLiteral("Frame1_%1").arg(row));
        frame->setGeometry(twipsRect(840, 480 + kRowPitch * row, 3855, 495));
        for (int channel = 1; channel <= kChannelCount; ++channel) {
            auto* box = new ValueBox(frame);
            box->setObjectName(QStringLiteral("Check%1_%2").arg(channel).arg(row));
            box->setAccessibleName(QStringLiteral("Check%1").arg(channel));
            box->setGeometry(
                twipsRect(120 + kChannelPitch * (channel - 1), 120, kBoxSize, kBoxSize));
            m_channels.at(at(row)).at(at(channel - 1)) = box;
        }

        auto* enable = new ValueBox(frame2);
        enable->setObjectName(QStringLiteral("Ch%1").arg(8 + step));
        enable->setAccessibleName(step == 1 ? QString() : QStringLiteral("Check%1").arg(8 + step));
        enable->setGeometry(twipsRect(120, 120 + kRowPitch * row, kBoxSize, kBoxSize));
        // The back colour fills the box's whole area, around the square too.
        enable->setAutoFillBackground(true);
        QPalette colours = enable->palette();
        colours.setColor(enable->backgroundRole(), buttonFace);
        enable->setPalette(colours);
        m_enables.at(at(row)) = enable;

        const StepLabelDesign design = stepLabelDesign(step);
        auto* label = new QLabel(QStringLiteral("%1. Lépés").arg(step), client);
        label->setObjectName(design.name);
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(twipsRect(design.left, 600 + kRowPitch * row, design.width, 255));
    }
}

void Form1::setFocusOrder() {
    std::vector<QWidget*> order{m_startStop, m_vScroll1};
    for (ValueBox* box : m_channels.front()) {
        order.push_back(box);
    }
    for (ValueBox* box : m_enables) {
        order.push_back(box);
    }
    for (int row = 1; row < kStepCount; ++row) {
        for (int channel = kChannelCount - 1; channel >= 0; --channel) {
            order.push_back(m_channels.at(at(row)).at(at(channel)));
        }
    }
    order.push_back(m_list1);
    // The chain is a ring: from List1 Tab goes back to Start_Stop.
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

Box Form1::channelBox(int step, int channel) const {
    return m_channels.at(at(step)).at(at(channel))->value();
}

Box Form1::enableBox(int step) const {
    return m_enables.at(at(step))->value();
}

void Form1::setEnableBoxColour(int step, std::uint32_t colour) {
    // Sixteen calls a tick, up to 500 ticks a second: only a real change
    // touches the widget, and then it only takes two colours to paint.
    std::uint32_t& current = m_enableColours.at(at(step));
    if (current == colour) {
        return;
    }
    const QColor painted = windowColour(colour, palette());
    // The box's own square takes a plain colour too: around a 13-pixel box a
    // 17-pixel control shows only a thin rim, too easy to miss at a glance.
    const bool systemColour = (colour & 0x80000000U) != 0;
    m_enables.at(at(step))->setColours(painted,
                                       systemColour ? palette().color(QPalette::Base) : painted);
    current = colour;
}

void Form1::setCaption(CaptionControl control, std::string_view text) {
    if (control == CaptionControl::Start_Stop) {
        m_startStop->setText(fromUtf8(text));
    } else {
        m_label6->setText(fromUtf8(text));
    }
}

void Form1::setSpeedPosition(std::int16_t position) {
    m_vScroll1->setValue(position);  // a new value emits valueChanged at once
}

std::int16_t Form1::speedPosition() const {
    return static_cast<std::int16_t>(m_vScroll1->value());
}

void Form1::setTimerInterval(std::int32_t milliseconds) {
    if (milliseconds <= 0) {
        m_timer1->stop();  // a period of 0 stops the ticks until it changes again
        m_waker->stopped();
        return;
    }
    if (m_closed) {
        m_timer1->setInterval(milliseconds);
        return;
    }
    m_timer1->start(milliseconds);
    m_waker->started();
}

void Form1::clearReadout() {
    m_list1->clear();
}

void Form1::addReadoutLine(std::string_view text) {
    m_list1->addItem(fromUtf8(text));
}

void Form1::replaceReadout(std::string_view text) {
    if (m_list1->count() != 1) {
        WindowOps::replaceReadout(text);
        return;
    }
    // What emptying the list would have reset: no line selected or current.
    m_list1->selectionModel()->clear();
    m_list1->item(0)->setText(fromUtf8(text));
}

void Form1::reportPortError(std::string_view message) {
    makePortErrorBox(this, fromUtf8(message))->open();
}

void Form1::zorvik_Click(int index) {
    static_cast<void>(index);
    if (!m_about) {
        m_about = std::make_unique<Dialog>();
    }
    m_about->showModeless();
}

void Form1::closeEvent(QCloseEvent* event) {
    // Nothing is written at the close: the lamps keep the last pattern. The
    // ticks end here, even if the program lives on for an open About dialog.
    m_closed = true;
    m_timer1->stop();
    m_waker->stopped();
    disconnect(m_tick);
    QMainWindow::closeEvent(event);
}

}  // namespace runlight::ui

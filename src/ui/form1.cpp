#include "form1.h"

#include <QCloseEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <cstdio>

#include "dialog.h"
#include "error_report.h"
#include "frame_pacer.h"
#include "readout_list.h"
#include "realtime_kit.h"
#include "realtime_request.h"
#include "speed_tip.h"
#include "step_clock.h"
#include "value_box.h"
#include "window_colour.h"

namespace runlight::ui {

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::size_t at(int index) {
    return static_cast<std::size_t>(index);
}

// The readout's one line, when it holds just the one the window made.
ReadoutLine* onlyLine(QListWidget* list) {
    if (list->count() != 1 || list->item(0)->type() != ReadoutLine::kType) {
        return nullptr;
    }
    return static_cast<ReadoutLine*>(list->item(0));
}

}  // namespace

Form1::Form1(PortSink& port, QWidget* parent)
    : QMainWindow(parent), m_sequencer(*this, port), m_controls(buildForm1Layout(*this)) {
    m_enableColours.fill(kButtonFaceColour);
    m_drawnColours.fill(kButtonFaceColour);

    m_pacer = new FramePacer([this] { drawFrame(); }, this);
    m_clock = new StepClock(
        [this] {
            m_sequencer.Timer1_Timer();
            m_pacer->afterStep();
        },
        this);
    // While the light runs, its steps ask for a realtime class: START says
    // on standard error, the first time, what they got.
    m_realtimeKit = std::make_unique<SystemBusRealtimeKit>();
    m_realtime = std::make_unique<realtime::RealtimeRequest>(
        realtime::linuxScheduling(), m_realtimeKit.get(), realtime::enabledByEnvironment(),
        [](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        });
    m_clock->setRealtime(m_realtime.get());

    // Both menu entries are one-element families; the item delivers its index, 0.
    connect(m_controls.zorvik, &QAction::triggered, this, [this] { zorvik_Click(0); });
    connect(m_controls.vScroll1, &QScrollBar::valueChanged, this, [this] {
        if (!m_movingBar) {  // the logic's own move runs the handler itself
            m_sequencer.VScroll1_Change();
        }
    });
    connect(m_controls.startStop, &QPushButton::clicked, this,
            [this] { m_sequencer.Start_Stop_Click(); });
    // The bar's tooltip tells the period and the steps per second, and follows
    // a dragged thumb; it changes nothing of the bar.
    new SpeedTip(*m_controls.vScroll1);

    // Load: the timer runs from here on; Form_Load moves the bar to 200 and
    // sets the period.
    m_clock->start();
    m_sequencer.Form_Load();
    m_controls.startStop->setFocus();
}

Form1::~Form1() {
    // The clock, a Qt child, outlives the request: it lets go first, and
    // the thread is in the normal class again.
    m_clock->setRealtime(nullptr);
}

void Form1::drawFrame() {
    bool changed = false;
    for (std::size_t step = 0; step < m_enableColours.size(); ++step) {
        if (m_enableColours[step] != m_drawnColours[step]) {
            m_drawnColours[step] = m_enableColours[step];
            m_controls.enables[step]->update();
            changed = true;
        }
    }
    if (ReadoutLine* line = onlyLine(m_controls.list1); line != nullptr && line->showLater()) {
        changed = true;
    }
    if (changed) {
        // The updates just asked for may have posted an update request; it is
        // served here, and would only come back as a frame with nothing new.
        QCoreApplication::removePostedEvents(this, QEvent::UpdateRequest);
    }
    // What Qt would have done with the update request the pacer held back.
    QEvent request(QEvent::UpdateRequest);
    QMainWindow::event(&request);
}

bool Form1::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest && m_pacer != nullptr) {
        m_pacer->requestFrame();
        return true;
    }
    return QMainWindow::event(event);
}

Box Form1::channelBox(int step, int channel) const {
    return m_controls.channels.at(at(step)).at(at(channel))->value();
}

Box Form1::enableBox(int step) const {
    return m_controls.enables.at(at(step))->value();
}

void Form1::setEnableBoxColour(int step, std::uint32_t colour) {
    // Sixteen calls a tick, up to 500 ticks a second: only a real change
    // touches the widget, and then it only takes two colours to paint, at
    // the next frame.
    std::uint32_t& current = m_enableColours.at(at(step));
    if (current == colour) {
        return;
    }
    const QColor painted = windowColour(colour, palette());
    // The box's own square takes a plain colour too: around a 13-pixel box a
    // 17-pixel control shows only a thin rim, too easy to miss at a glance.
    const bool systemColour = (colour & 0x80000000U) != 0;
    m_controls.enables.at(at(step))->setColours(
        painted, systemColour ? palette().color(QPalette::Base) : painted);
    current = colour;
    m_pacer->requestFrame();
}

void Form1::setCaption(CaptionControl control, std::string_view text) {
    if (control == CaptionControl::Start_Stop) {
        m_controls.startStop->setText(fromUtf8(text));
    } else {
        m_controls.label6->setText(fromUtf8(text));
    }
}

void Form1::setSpeedPosition(std::int16_t position) {
    // The bar's other listeners (its tooltip) hear of the move as of any.
    m_movingBar = true;
    m_controls.vScroll1->setValue(position);
    m_movingBar = false;
}

std::int16_t Form1::speedPosition() const {
    return static_cast<std::int16_t>(m_controls.vScroll1->value());
}

void Form1::setTimerInterval(std::int32_t milliseconds) {
    m_clock->setPeriod(milliseconds);
}

void Form1::setStepsRunning(bool running) {
    m_clock->setStepsRunning(running);
}

void Form1::clearReadout() {
    m_controls.list1->clear();
}

void Form1::addReadoutLine(std::string_view text) {
    new ReadoutLine(fromUtf8(text), m_controls.list1);
}

void Form1::replaceReadout(std::string_view text) {
    ReadoutLine* line = onlyLine(m_controls.list1);
    if (line == nullptr) {
        WindowOps::replaceReadout(text);
        return;
    }
    // What emptying the list would have reset: no line selected or current.
    m_controls.list1->selectionModel()->clear();
    // The line holds the new text at once; the list draws it at the next frame.
    line->setTextLater(fromUtf8(text));
    m_pacer->requestFrame();
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
    m_clock->close();
    QMainWindow::closeEvent(event);
}

}  // namespace runlight::ui

#pragma once

// A main window on a recording port (or any port), shown offscreen, and the
// moves a user makes on it. Ticks are delivered by invoking the step timer's
// timeout, never by waiting.

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "design.h"
#include "form1.h"
#include "recording_port.h"

namespace runlight::ui::testing {

// Finds a control of `window` by its design name.
template <typename T>
T* control(QWidget& window, const QString& name) {
    T* found = window.findChild<T*>(name);
    if (found == nullptr) {
        throw std::runtime_error("no control " + name.toStdString());
    }
    return found;
}

class ShownForm1 {
public:
    explicit ShownForm1(PortSink& port) : window(port) {
        window.show();
        // Activation is asynchronous (Qt 6.8 deprecates setActiveWindow).
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window)) {
            throw std::runtime_error("the window did not become active");
        }
    }

    template <typename T>
    T* find(const QString& name) {
        return control<T>(window, name);
    }
    QCheckBox* box(const QString& name) { return find<QCheckBox>(name); }
    QTimer* timer() { return find<QTimer>(QStringLiteral("Timer1")); }

    // One tick of the step timer, as its expiry delivers it.
    void tick() { QMetaObject::invokeMethod(timer(), "timeout", Qt::DirectConnection); }

    // A left click at a point of the client area, given in twips, delivered
    // to the window so that it reaches whatever control lies there.
    void clickAtTwips(int left, int top) {
        const QPoint inClient(px(left), px(top));
        const QPoint inWindow = window.centralWidget()->mapTo(&window, inClient);
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow);
    }
    // Clicks START/STOP with the mouse.
    void clickStartStop() {
        QTest::mouseClick(find<QWidget>(QStringLiteral("Start_Stop")), Qt::LeftButton);
    }

    // Whether the enable box is painted red: many of its pixels are pure red.
    bool isRed(const QString& name) {
        const QImage image = box(name)->grab().toImage();
        int red = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                red += image.pixelColor(x, y) == QColor(255, 0, 0) ? 1 : 0;
            }
        }
        return red >= 20;
    }

    Form1 window;
};

// The common case: a window on an in-process recording port.
struct Form1Rig {
    runlight::testing::RecordingPort port;
    ShownForm1 form{port};
};

}  // namespace runlight::ui::testing

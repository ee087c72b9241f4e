// Plays the user inside the installed qtx, so that a test can run the program
// exactly as installed: qtx has no command line and no test hook, but every Qt
// program loads the "generic" plugins named in QT_QPA_GENERIC_PLUGINS from
// QT_PLUGIN_PATH while its QApplication starts. This one waits until the main
// window is shown, sets a step program, presses START, delivers four expiries
// of the window's timer by hand (the timer's own period is pushed out of reach
// first, so no tick comes from the clock), reports which libportio.so.1 the
// program has loaded, and closes the window, which ends the program.
//
// Step program: only steps 1 and 5 take part; step 1 lights channels 1 and 8
// (byte 129), step 5 channel 4 (byte 16). START writes 0, and the four ticks
// show steps 1, 5, 1, 5. The test reads the port trace and the simulated port.
//
// Failures are printed as "qtx-driver: ..." and end the program with code 70.

#include <link.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGenericPlugin>
#include <QTimer>
#include <QTimerEvent>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kStepCount = 16;
constexpr int kChannelCount = 8;
constexpr int kTickCount = 4;
constexpr int kFailed = 70;
constexpr int kOutOfReachMs = 3'600'000;  // an hour: longer than any test runs

// Enabled steps (0-based index) and their channel boxes, channel 1 = bit 7.
constexpr bool stepEnabled(int step) {
    return step == 0 || step == 4;
}
constexpr bool channelOn(int step, int channel) {
    if (step == 0) {
        return channel == 1 || channel == 8;
    }
    return step == 4 && channel == 4;
}

// The file the running program has loaded libportio.so.1 from, or "".
std::string loadedPortLibrary() {
    std::string found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            const char* name = info->dlpi_name;
            const char* base = name != nullptr ? std::strrchr(name, '/') : nullptr;
            if (base != nullptr && std::strcmp(base + 1, "libportio.so.1") == 0) {
                *static_cast<std::string*>(data) = name;
                return 1;
            }
            return 0;
        },
        &found);
    return found;
}

class Driver final : public QObject {
public:
    Driver() { QCoreApplication::instance()->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (m_window == nullptr && event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() &&
                widget->findChild<QAbstractButton*>(QStringLiteral("Start_Stop")) != nullptr) {
                m_window = widget;
                // After the show has been handled in full.
                QMetaObject::invokeMethod(this, &Driver::drive, Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    void drive() {
        if (!setBoxes() || !pressStart() || !tick()) {
            QCoreApplication::exit(kFailed);
            return;
        }
        std::printf("qtx-driver: portio %s\n", loadedPortLibrary().c_str());
        std::fflush(stdout);
        QApplication::closeAllWindows();
    }

    template <typename T>
    T* control(const QString& name) {
        T* found = m_window->findChild<T*>(name);
        if (found == nullptr) {
            std::fprintf(stderr, "qtx-driver: no control %s\n", qPrintable(name));
        }
        return found;
    }

    bool setBox(const QString& name, bool on) {
        auto* box = control<QCheckBox>(name);
        if (box == nullptr) {
            return false;
        }
        box->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        return true;
    }

    bool setBoxes() {
        for (int step = 0; step < kStepCount; ++step) {
            if (!setBox(QStringLiteral("Ch%1").arg(step + 9), stepEnabled(step))) {
                return false;
            }
            for (int channel = 1; channel <= kChannelCount; ++channel) {
                if (!setBox(QStringLiteral("Check%1_%2").arg(channel).arg(step),
                            channelOn(step, channel))) {
                    return false;
                }
            }
        }
        return true;
    }

    bool pressStart() {
        auto* button = control<QAbstractButton>(QStringLiteral("Start_Stop"));
        if (button == nullptr) {
            return false;
        }
        button->click();
        return true;
    }

    bool tick() {
        auto* timer = control<QTimer>(QStringLiteral("Timer1"));
        if (timer == nullptr) {
            return false;
        }
        if (!timer->isActive()) {
            std::fprintf(stderr, "qtx-driver: Timer1 is not running\n");
            return false;
        }
        timer->setInterval(kOutOfReachMs);  // restarts it under a new id
        for (int i = 0; i < kTickCount; ++i) {
            QTimerEvent expiry(timer->timerId());
            QCoreApplication::sendEvent(timer, &expiry);
        }
        return true;
    }

    QWidget* m_window = nullptr;
};

}  // namespace

class QtxDriverPlugin final : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "qtx_driver.json")

public:
    // QGuiApplication owns what this returns and deletes it at its end.
    QObject* create(const QString& key, const QString&) override {
        return key.compare(QLatin1String("qtxdriver"), Qt::CaseInsensitive) == 0 ? new Driver
                                                                                 : nullptr;
    }
};

#include "qtx_driver.moc"

// The step timer's tick on the real main window (offscreen), with and without
// the repaint it causes, and the port write through the real port library on
// its simulated port, with and without the trace. Also holds main(), since
// the Qt cases need an application object before any benchmark runs.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <cstdint>
#include <memory>

#include "application.h"
#include "discarding_port.h"
#include "form1.h"
#include "module1.h"
#include "port_library.h"
#include "port_sink.h"

namespace {

constexpr int kRepetitions = 9;

QString g_folder;  // this run's own folder: simulated port and trace

using runlight::bench::DiscardingPort;

// The main window, shown, every step enabled with its own byte, running.
// The speed bar is at its slowest (800 ms) so that the window's own timer
// hardly ever ticks between the ticks the benchmark sends.
class RunningWindow {
public:
    RunningWindow() : m_window(m_port) {
        m_window.show();
        if (!QTest::qWaitForWindowExposed(&m_window)) {
            throw std::runtime_error("the main window was not shown");
        }
        for (int step = 0; step < 16; ++step) {
            const int byte = step < 15 ? 0x11 * (step + 1) : 0x81;
            for (int channel = 0; channel < 8; ++channel) {
                box(QStringLiteral("Check%1_%2").arg(channel + 1).arg(step))
                    ->setChecked(((byte >> (7 - channel)) & 1) != 0);
            }
            box(QStringLiteral("Ch%1").arg(9 + step))->setChecked(true);
        }
        m_window.findChild<QScrollBar*>(QStringLiteral("VScroll1"))->setValue(800);
        QTest::mouseClick(m_window.findChild<QPushButton*>(QStringLiteral("Start_Stop")),
                          Qt::LeftButton);
        m_timer = m_window.findChild<QTimer*>(QStringLiteral("Timer1"));
        QCoreApplication::processEvents();
    }

    // Delivers one expiry of the step timer, as the event loop does.
    void tick() {
        QTimerEvent expiry(m_timer->timerId());
        QCoreApplication::sendEvent(m_timer, &expiry);
    }

private:
    QCheckBox* box(const QString& name) { return m_window.findChild<QCheckBox*>(name); }

    DiscardingPort m_port;
    runlight::ui::Form1 m_window;
    QTimer* m_timer = nullptr;
};

// The handler alone: recolouring, composing, writing, the readout's update.
void BM_Timer1Timer_QtWindow(benchmark::State& state) {
    RunningWindow window;
    for (auto _ : state) {
        window.tick();
    }
}
BENCHMARK(BM_Timer1Timer_QtWindow)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

// The handler and whatever drawing falls due after it. The window draws at
// most once a frame (16 ms), so with ticks back to back, as here, one
// drawing serves many ticks; at 2 ms a step one serves eight. step_timing
// measures the whole cost at real speed.
void BM_Timer1Timer_QtWindowWithRepaint(benchmark::State& state) {
    RunningWindow window;
    for (auto _ : state) {
        window.tick();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_Timer1Timer_QtWindowWithRepaint)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// WritePort through libportio.so.1 on its simulated port; trace:1 with
// PORTIO_TRACE set. The library reads its settings once, at its first write
// after it is loaded, so the traced case loads a copy of it from this run's
// folder: a separate instance that reads them afresh, whether or not the
// untraced one was unloaded in between.
void BM_WritePort_SimulatedPort(benchmark::State& state) {
    const bool traced = state.range(0) != 0;
    const QString traceFile = g_folder + QStringLiteral("/trace");
    std::string library = runlight::kPortLibraryName;
    if (traced) {
        const QString copy = g_folder + QStringLiteral("/traced-") + runlight::kPortLibraryName;
        if (!QFile::exists(copy) &&
            !QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/") +
                             runlight::kPortLibraryName,
                         copy)) {
            state.SkipWithError("cannot copy the port library");
            return;
        }
        library = QFile::encodeName(copy).toStdString();
        qputenv("PORTIO_TRACE", QFile::encodeName(traceFile));
    }
    const qint64 before = QFileInfo(traceFile).size();
    {
        runlight::PortLibrary port{library};
        runlight::Module1 module{port};
        module.PortAddr = 888;
        module.WritePort(0);  // binds the library and opens the port (and trace)
        unsigned value = 0;
        for (auto _ : state) {
            value = (value + 1) & 0xFFU;
            module.WritePort(static_cast<std::uint8_t>(value));
        }
    }
    qunsetenv("PORTIO_TRACE");
    // Proof that each case measured what it says.
    if ((QFileInfo(traceFile).size() > before) != traced) {
        state.SkipWithError(traced ? "the trace stayed empty"
                                   : "the trace grew without PORTIO_TRACE");
    }
    if (traced) {
        // Emptied, not removed: the library keeps it open. Some 100 MB
        // over all repetitions otherwise.
        QFile(traceFile).resize(0);
    }
}
BENCHMARK(BM_WritePort_SimulatedPort)
    ->ArgName("trace")
    ->Arg(0)
    ->Arg(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
    // The simulated port and the trace live in a folder of this run only.
    QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/handler_costs-XXXXXX")};
    qputenv("PORTIO_BACKEND", "sim");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));
    runlight::ui::Application app(argc, argv);
    g_folder = folder.path();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// How long the main window takes to come up: in one process, from just
// before the window is built to the end of its first paint, several times.
// The first time pays for what Qt loads once per process (style, fonts,
// platform plugin's first window); it is reported on its own, as is the
// application object's construction, since a user starting the program waits
// for all three.
//
// Run: build/normal/bin/window_startup [RUNS]   (default 15; offscreen
// unless QT_QPA_PLATFORM says otherwise)

#include <QDir>
#include <QEvent>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "application.h"
#include "command_line.h"
#include "form1.h"
#include "port_library.h"
#include "timing_stats.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Notices the first paint event of `window` or any widget inside it.
class FirstPaint final : public QObject {
public:
    explicit FirstPaint(QWidget& window) : m_window(window) {}
    bool seen() const { return m_seen; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && object->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(object);
            if (widget == &m_window || m_window.isAncestorOf(widget)) {
                m_seen = true;
            }
        }
        return false;
    }

private:
    QWidget& m_window;
    bool m_seen = false;
};

// Builds, shows and paints the main window once; returns the ms it took.
double windowUp() {
    const auto start = Clock::now();
    runlight::PortLibrary port;  // binds nothing until START, as in the program
    runlight::ui::Form1 window{port};
    FirstPaint paint{window};
    qApp->installEventFilter(&paint);
    window.show();
    // The paint of the whole window runs in one pass of the repaint manager,
    // so once a pass has delivered the first paint event the window is drawn.
    while (!paint.seen() && msSince(start) < 10'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    const double ms = msSince(start);
    qApp->removeEventFilter(&paint);
    if (!paint.seen()) {
        std::fprintf(stderr, "window_startup: the window was never painted\n");
        std::exit(2);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const auto given = runlight::bench::onlyArgument(argc, argv, 1, 1000, 15);
    if (!given) {
        std::fprintf(stderr, "usage: window_startup [RUNS]   (RUNS is 1..1000, default 15)\n");
        return 2;
    }
    const int runs = static_cast<int>(*given);
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());

    // Nothing is written to a port here, but keep any port state of this
    // run out of the user's own folder all the same.
    QTemporaryDir folder{QDir::tempPath() + "/window_startup-XXXXXX"};  // mode 0700
    qputenv("PORTIO_BACKEND", "sim");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));

    const auto appStart = Clock::now();
    runlight::ui::Application app(argc, argv);
    const double appMs = msSince(appStart);

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(windowUp());
    }
    const double first = times.front();
    const std::vector<double> warm(times.begin() + (runs > 1 ? 1 : 0), times.end());
    const double median = runlight::bench::percentile(warm, 50);
    const double max = *std::max_element(warm.begin(), warm.end());
    std::printf("Window start-up (%s), %d runs in one process\n",
                qEnvironmentVariable("QT_QPA_PLATFORM").toUtf8().constData(), runs);
    std::printf("  application object:            %8.2f ms\n", appMs);
    std::printf("  first window, built to painted: %8.2f ms\n", first);
    std::printf("  later windows: median %.2f ms, max %.2f ms\n", median, max);
    std::printf("  application + first window:    %8.2f ms (target < 150 ms: %s)\n", appMs + first,
                appMs + first < 150 ? "met" : "MISSED");
    std::printf("startup_app_ms=%.2f startup_first_ms=%.2f startup_median_ms=%.2f rss_mb=%.1f\n",
                appMs, first, median, runlight::bench::peakRssMiB());
    return 0;
}

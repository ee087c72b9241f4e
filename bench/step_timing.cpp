// How precisely the running light steps, and what it costs, beside the least
// any program can do for the same steps. The running light: the real main
// window (offscreen), the real port library on its simulated port with its
// trace on, all sixteen steps enabled with sixteen different bytes, START
// clicked and the speed set on the scroll bar as a user does, and the real
// event loop with the real step clock. Right after it, at the same period,
// the floor: a bare loop that waits on a timerfd (absolute CLOCK_MONOTONIC
// deadlines) and calls PortOut of the same library on the same simulated port
// with the same trace, nothing else. The trace's time stamps give the
// achieved intervals of both.
//
// Both are measured twice: on the machine as it is, then with BUSY processes
// beside them that spin on a core each (a loaded desktop).
//
// Run: build/normal/bin/step_timing [--keep-trace FILE] [--busy N] [PERIOD_MS:STEPS ...]
//   default 2:2000 20:500 200:100 and --busy 2 (about 2.5 minutes; --busy 0
//   leaves out the loaded pass). Prints the tables and one line per
//   measurement for scripts; exits 1 if any step came out of order, 2 if the
//   run could not be made. --keep-trace copies the port library's trace to
//   FILE at the end.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractSlider>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "application.h"
#include "dynamic_library.h"
#include "form1.h"
#include "port_library.h"
#include "timing_stats.h"

namespace {

using runlight::bench::IntervalSummary;
using runlight::bench::TraceWrite;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t kPort = 888;

struct Request {
    int periodMs = 0;
    std::size_t steps = 0;  // intervals to measure at least
};

struct Result {
    Request request;
    IntervalSummary summary;
    std::size_t cycleBreaks = 0;
    double cpuPercent = 0;
    double rssMiB = 0;
    double wakeUpsPerStep = 0;  // the main thread's voluntary context switches a step
};

// The running light and its floor at one period, measured one after the other.
struct Pair {
    Result light;
    Result floor;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "step_timing: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(2);
}

struct Options {
    std::vector<Request> requests;
    std::string keepTrace;  // empty: the trace goes with the run's folder
    int busy = 2;           // spinning processes beside the second pass; 0: no second pass
};

Options optionsFrom(int argc, char** argv) {
    Options options;
    auto& requests = options.requests;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--keep-trace" && i + 1 < argc) {
            options.keepTrace = argv[++i];
            continue;
        }
        if (std::string(argv[i]) == "--busy" && i + 1 < argc) {
            options.busy = std::atoi(argv[++i]);
            if (options.busy < 0 || options.busy > 16) {
                fail("--busy takes 0..16 processes");
            }
            continue;
        }
        Request request;
        unsigned long steps = 0;
        if (std::sscanf(argv[i], "%d:%lu", &request.periodMs, &steps) != 2 ||
            request.periodMs < 2 || request.periodMs > 800 || steps < 2) {
            fail(std::string("not PERIOD_MS:STEPS with a period of 2..800 ms: ") + argv[i]);
        }
        request.steps = steps;
        requests.push_back(request);
    }
    if (requests.empty()) {
        requests = {{2, 2000}, {20, 500}, {200, 100}};
    }
    return options;
}

std::string loadAverage() {
    std::ifstream file{"/proc/loadavg"};
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Voluntary context switches of this thread (the one that runs the event
// loop and the floor's loop) so far: each is a sleep that ended in a wake-up.
long wakeUps() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Processes that spin on a core each until they are killed: a loaded desktop.
class BusyProcesses {
public:
    explicit BusyProcesses(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid < 0) {
                fail("cannot start a busy process");
            }
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the benchmark
                volatile std::uint64_t spin = 0;
                for (;;) {
                    spin = spin + 1;
                }
            }
            m_pids.push_back(pid);
        }
    }
    ~BusyProcesses() {
        for (const pid_t pid : m_pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

private:
    std::vector<pid_t> m_pids;
};

template <typename T>
T* control(QWidget& window, const char* name) {
    auto* widget = window.findChild<T*>(QString::fromUtf8(name));
    if (widget == nullptr) {
        fail(std::string("the main window has no control ") + name);
    }
    return widget;
}

// Sixteen different non-zero bytes (START's 0 marks the beginning of a run).
std::vector<int> stepBytes() {
    std::vector<int> bytes;
    for (int step = 0; step < 16; ++step) {
        bytes.push_back(step < 15 ? 0x11 * (step + 1) : 0x81);
    }
    return bytes;
}

// Ticks boxes by clicking them, as a user does, until each shows `wanted`.
void clickTo(QCheckBox* box, bool wanted) {
    for (int attempt = 0; attempt < 3 && box->isChecked() != wanted; ++attempt) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    if (box->isChecked() != wanted) {
        fail("clicking " + box->objectName().toStdString() + " does not tick it");
    }
}

void programSteps(QWidget& window, const std::vector<int>& bytes) {
    for (int step = 0; step < 16; ++step) {
        for (int channel = 0; channel < 8; ++channel) {
            const std::string name =
                "Check" + std::to_string(channel + 1) + "_" + std::to_string(step);
            clickTo(control<QCheckBox>(window, name.c_str()),
                    ((bytes[static_cast<std::size_t>(step)] >> (7 - channel)) & 1) != 0);
        }
        const std::string enable = "Ch" + std::to_string(9 + step);
        clickTo(control<QCheckBox>(window, enable.c_str()), true);
    }
}

// Moves the speed bar to `ms` with the keyboard, as a user does: Home goes to
// the lower end, then the arrow keys move one step at a time.
void setSpeed(QScrollBar* bar, int ms) {
    bar->setFocus(Qt::TabFocusReason);
    if (bar->value() == ms) {
        return;
    }
    if (ms < bar->value()) {
        QTest::keyClick(bar, Qt::Key_Home);
    }
    for (int guard = 0; guard < 2000 && bar->value() != ms; ++guard) {
        const int before = bar->value();
        QTest::keyClick(bar, ms > before ? Qt::Key_Down : Qt::Key_Up);
        if (bar->value() == before || (bar->value() > before) != (ms > before)) {
            fail("the arrow keys do not move the speed bar towards " + std::to_string(ms));
        }
    }
    if (bar->value() != ms) {
        fail("the speed bar did not reach " + std::to_string(ms));
    }
}

std::vector<std::vector<TraceWrite>> readRuns(const std::string& path) {
    std::ifstream file{path};
    return runlight::bench::splitRuns(runlight::bench::parseTrace(file));
}

// Lets the real event loop run for `ms` milliseconds.
void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The trace's last run, which must be run number `runIndex` (0 first).
std::vector<TraceWrite> lastRun(const std::string& tracePath, std::size_t runIndex,
                                const char* what) {
    const auto runs = readRuns(tracePath);
    if (runs.size() != runIndex + 1) {
        fail(std::string(what) + " did not write 0 to the port once (runs in the trace: " +
             std::to_string(runs.size()) + ")");
    }
    return runs.back();
}

Result summarized(const Request& request, const std::vector<TraceWrite>& run,
                  const std::vector<int>& bytes, double cpuSeconds, Clock::duration wall,
                  long wakeUpCount) {
    Result result;
    result.request = request;
    result.summary = runlight::bench::summarize(runlight::bench::intervalsMs(run),
                                                static_cast<double>(request.periodMs));
    result.cycleBreaks = runlight::bench::countCycleBreaks(run, bytes);
    result.cpuPercent = 100.0 * cpuSeconds / std::chrono::duration<double>(wall).count();
    result.rssMiB = runlight::bench::peakRssMiB();
    result.wakeUpsPerStep = static_cast<double>(wakeUpCount) /
                            static_cast<double>(std::max<std::size_t>(run.size(), 1));
    return result;
}

Result measureLight(const Request& request, QPushButton* startStop, QScrollBar* bar,
                    const std::string& tracePath, std::size_t runIndex,
                    const std::vector<int>& bytes) {
    setSpeed(bar, request.periodMs);
    QCoreApplication::processEvents();

    // Only the time in the event loop counts towards the CPU share; reading
    // the trace between the slices does not.
    double cpuSeconds = 0;
    long wakeUpCount = 0;
    Clock::duration wall{};
    QTest::mouseClick(startStop, Qt::LeftButton);  // START
    // The first step comes at most one period after the click.
    auto slice = static_cast<int>(request.steps + 2) * request.periodMs + request.periodMs;
    std::vector<TraceWrite> run;
    for (int rounds = 0; rounds < 20; ++rounds) {
        const double cpu0 = runlight::bench::processCpuSeconds();
        const long wake0 = wakeUps();
        const auto wall0 = Clock::now();
        runEventLoop(slice);
        wall += Clock::now() - wall0;
        cpuSeconds += runlight::bench::processCpuSeconds() - cpu0;
        wakeUpCount += wakeUps() - wake0;
        run = lastRun(tracePath, runIndex, "START");
        if (run.size() >= request.steps + 1) {
            break;
        }
        slice = static_cast<int>(request.steps + 2 - run.size()) * request.periodMs;
    }
    QTest::mouseClick(startStop, Qt::LeftButton);  // STOP
    if (run.size() < request.steps + 1) {
        fail("only " + std::to_string(run.size()) + " steps came at " +
             std::to_string(request.periodMs) + " ms");
    }
    return summarized(request, run, bytes, cpuSeconds, wall, wakeUpCount);
}

// The floor: the least a program can do for the same steps. A timerfd with
// absolute deadlines one period apart, and PortOut of the same library on the
// same port (its trace on, as for the running light); 0 first, as START does.
Result measureFloor(const Request& request, void (*portOut)(std::int16_t, std::uint8_t),
                    const std::string& tracePath, std::size_t runIndex,
                    const std::vector<int>& bytes) {
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (fd < 0) {
        fail("no timerfd for the floor");
    }
    const std::int64_t periodNs = std::int64_t{request.periodMs} * 1'000'000;
    const auto timespecOf = [](std::int64_t ns) {
        return timespec{static_cast<time_t>(ns / 1'000'000'000),
                        static_cast<long>(ns % 1'000'000'000)};
    };
    const double cpu0 = runlight::bench::processCpuSeconds();
    const long wake0 = wakeUps();
    const auto wall0 = Clock::now();
    portOut(kPort, 0);
    const itimerspec when{timespecOf(periodNs), timespecOf(monotonicNs() + periodNs)};
    timerfd_settime(fd, TFD_TIMER_ABSTIME, &when, nullptr);
    for (std::size_t step = 0; step <= request.steps; ++step) {
        std::uint64_t expiries = 0;
        if (read(fd, &expiries, sizeof expiries) != static_cast<ssize_t>(sizeof expiries)) {
            fail("the floor's timerfd could not be read");
        }
        portOut(kPort, static_cast<std::uint8_t>(bytes[step % bytes.size()]));
    }
    const auto wall = Clock::now() - wall0;
    const double cpuSeconds = runlight::bench::processCpuSeconds() - cpu0;
    const long wakeUpCount = wakeUps() - wake0;
    close(fd);
    return summarized(request, lastRun(tracePath, runIndex, "the floor"), bytes, cpuSeconds, wall,
                      wakeUpCount);
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

void printPass(const char* title, const std::vector<Pair>& pairs, const std::string& loadBefore,
               const std::string& loadAfter) {
    std::printf("%s; load average %s before, %s after\n\n", title, loadBefore.c_str(),
                loadAfter.c_str());
    std::printf("%9s %-6s %6s %9s %8s %8s %8s %8s %5s %7s %7s %8s\n", "period ms", "what", "steps",
                "median ms", "p5 ms", "p95 ms", "p99 ms", "max ms", "late", "CPU %", "wakes",
                "RSS MiB");
    for (const auto& pair : pairs) {
        for (const Result* r : {&pair.light, &pair.floor}) {
            const auto& s = r->summary;
            std::printf("%9d %-6s %6zu %9.3f %8.3f %8.3f %8.3f %8.3f %5zu %7.2f %7.2f %8.1f\n",
                        r->request.periodMs, r == &pair.light ? "light" : "floor", s.steps,
                        s.medianMs, s.p5Ms, s.p95Ms, s.p99Ms, s.maxMs, s.late, r->cpuPercent,
                        r->wakeUpsPerStep, r->rssMiB);
        }
        const double floorCpu = std::max(pair.floor.cpuPercent, 1e-9);
        std::printf("%9s %-6s CPU %.2f x the floor's, p99 %+.3f ms beside the floor's\n", "",
                    "ratio", pair.light.cpuPercent / floorCpu,
                    pair.light.summary.p99Ms - pair.floor.summary.p99Ms);
    }
    std::printf("  (wakes: voluntary context switches of the main thread per step)\n");
}

void printTargets(const std::vector<Pair>& pairs) {
    std::printf("\nTargets:\n");
    for (const auto& pair : pairs) {
        const auto& r = pair.light;
        const auto& s = r.summary;
        const double period = r.request.periodMs;
        if (r.request.periodMs == 2) {
            const double latePct = 100.0 * static_cast<double>(s.late) /
                                   static_cast<double>(std::max<std::size_t>(s.steps, 1));
            std::printf("  2 ms: median %.3f ms within 1 %% of 2 ms: %s\n", s.medianMs,
                        verdict(std::abs(s.medianMs - period) <= 0.01 * period));
            std::printf("  2 ms: late %.2f %% < 1 %%: %s\n", latePct, verdict(latePct < 1.0));
            std::printf("  2 ms: CPU %.2f %% of a core <= 2 x the floor's %.2f %%: %s\n",
                        r.cpuPercent, pair.floor.cpuPercent,
                        verdict(r.cpuPercent <= 2.0 * pair.floor.cpuPercent));
            std::printf("  2 ms: p99 %.3f ms <= the floor's %.3f ms + 0.15 ms: %s\n", s.p99Ms,
                        pair.floor.summary.p99Ms,
                        verdict(s.p99Ms <= pair.floor.summary.p99Ms + 0.15));
        } else if (r.request.periodMs == 200) {
            std::printf("  200 ms: CPU %.2f %% of a core < 0.25 %%: %s\n", r.cpuPercent,
                        verdict(r.cpuPercent < 0.25));
            std::printf("  200 ms: p99 %.3f ms within 1 ms of 200 ms: %s\n", s.p99Ms,
                        verdict(std::abs(s.p99Ms - period) <= 1.0));
        }
    }
    const double rss = pairs.empty() ? 0 : pairs.back().light.rssMiB;
    std::printf("  peak resident memory %.1f MiB < 60 MB: %s\n", rss,
                verdict(rss * 1.048576 < 60.0));
}

void printScriptLines(const char* pass, const std::vector<Pair>& pairs) {
    for (const auto& pair : pairs) {
        for (const Result* r : {&pair.light, &pair.floor}) {
            std::printf("pass=%s what=%s %s wakes_per_step=%.2f\n", pass,
                        r == &pair.light ? "light" : "floor",
                        runlight::bench::scriptLine(r->request.periodMs, r->summary, r->cpuPercent,
                                                    r->rssMiB)
                            .c_str(),
                        r->wakeUpsPerStep);
        }
    }
}

bool inOrder(const std::vector<Pair>& pairs) {
    bool ok = true;
    for (const auto& pair : pairs) {
        for (const Result* r : {&pair.light, &pair.floor}) {
            if (r->cycleBreaks != 0) {
                std::printf("  %zu steps out of order at %d ms (%s)\n", r->cycleBreaks,
                            r->request.periodMs, r == &pair.light ? "light" : "floor");
                ok = false;
            }
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = optionsFrom(argc, argv);
    const auto& requests = options.requests;

    // The port library reads its settings at its first write, so they are
    // set before anything can load it. The simulated port and the trace live
    // in a folder of this run only; a user's running light is not touched.
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
    QTemporaryDir folder{QDir::tempPath() + "/step_timing-XXXXXX"};  // mode 0700
    if (!folder.isValid()) {
        fail("cannot make a temporary folder");
    }
    const std::string tracePath = (folder.path() + "/trace").toStdString();
    qputenv("PORTIO_BACKEND", "sim");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));
    qputenv("PORTIO_TRACE", QFile::encodeName(QString::fromStdString(tracePath)));
    // The program's own application object, so events cost what they cost there.
    runlight::ui::Application app(argc, argv);

    // A missing library would put up the window's error report and wait for
    // a user; say so here instead. The floor calls its PortOut directly: the
    // same library the window loads, so the same simulated port and trace.
    std::string error;
    void* library = runlight::dynlib::open(runlight::kPortLibraryName, error);
    if (library == nullptr) {
        fail(error);
    }
    void* symbol = runlight::dynlib::symbol(library, "PortOut", error);
    if (symbol == nullptr) {
        fail(error);
    }
    auto* portOut = reinterpret_cast<void (*)(std::int16_t, std::uint8_t)>(symbol);
    // Nothing here may wait for a user: give up after ten minutes whatever
    // happens (a report box, a step that never comes).
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { fail("gave up after 600 s"); });
    watchdog.start(600'000);

    runlight::PortLibrary port;
    runlight::ui::Form1 window{port};
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        fail("the main window was not shown");
    }
    const auto bytes = stepBytes();
    programSteps(window, bytes);
    auto* startStop = control<QPushButton>(window, "Start_Stop");
    auto* bar = control<QScrollBar>(window, "VScroll1");

    std::size_t runIndex = 0;
    const auto pass = [&](std::vector<Pair>& pairs) {
        for (const auto& request : requests) {
            Pair pair;
            pair.light = measureLight(request, startStop, bar, tracePath, runIndex++, bytes);
            if (!app.unexpectedError().isEmpty()) {
                fail("the window stopped on an error: " + app.unexpectedError().toStdString());
            }
            pair.floor = measureFloor(request, portOut, tracePath, runIndex++, bytes);
            pairs.push_back(pair);
        }
    };
    std::vector<Pair> quiet;
    const std::string quietBefore = loadAverage();
    pass(quiet);
    const std::string quietAfter = loadAverage();
    std::vector<Pair> loaded;
    std::string loadedBefore, loadedAfter;
    if (options.busy > 0) {
        const BusyProcesses busy{options.busy};
        loadedBefore = loadAverage();
        pass(loaded);
        loadedAfter = loadAverage();
    }
    if (!options.keepTrace.empty()) {
        QFile::remove(QString::fromStdString(options.keepTrace));
        if (!QFile::copy(QString::fromStdString(tracePath),
                         QString::fromStdString(options.keepTrace))) {
            fail("cannot copy the trace to " + options.keepTrace);
        }
    }

    std::printf(
        "Step timing: the running light (main window offscreen) and the floor (timerfd + "
        "PortOut), simulated port, trace on; %d cores\n\n",
        QThread::idealThreadCount());
    printPass("As the machine is", quiet, quietBefore, quietAfter);
    bool ok = inOrder(quiet);
    printTargets(quiet);
    if (!loaded.empty()) {
        std::printf("\n");
        const std::string title =
            "Beside " + std::to_string(options.busy) + " busy processes (no targets)";
        printPass(title.c_str(), loaded, loadedBefore, loadedAfter);
        ok = inOrder(loaded) && ok;
    }
    std::printf("\n");
    printScriptLines("quiet", quiet);
    printScriptLines("busy", loaded);
    std::fflush(stdout);
    runlight::dynlib::close(library);
    return ok ? 0 : 1;
}

// How precisely the running light steps, and what it costs, beside the least
// any program can do for the same steps. The running light: the real main
// window (offscreen), the real port library on its simulated port with its
// trace on, all sixteen steps enabled with sixteen different bytes, START
// clicked and the speed set on the scroll bar as a user does, and the real
// event loop with the real step clock. Beside it, at the same period,
// the floor: a bare loop that waits on a timerfd (absolute CLOCK_MONOTONIC
// deadlines) and calls PortOut of the same library on the same simulated port
// with the same trace, nothing else. The trace's time stamps give the
// achieved intervals of both.
//
// Both are measured twice: on the machine as it is, then with BUSY processes
// beside them that spin on a core each at normal priority (a loaded
// desktop). The light's steps ask for a realtime class as the program's do
// (QTX_REALTIME=0 turns it off); what they got is printed with the tables.
//
// The light and the floor take turns, in slices (--slices, default 4) of
// 500 steps at least: at 2 ms, a quarter of the light's steps, a quarter of
// the floor's, and so on. A virtual machine's CPU time for the same work
// moves by half from one minute to the next; in turns, both are measured in
// the same minutes. Fewer steps than two slices' worth are measured at one
// go, the floor right after the light.
//
// Run: build/normal/bin/step_timing [--ola] [--keep-trace FILE] [--busy N] [--slices N]
//                                   [PERIOD_MS:STEPS ...]
//   default 2:2000 20:500 200:100 and --busy 2 (about 2.5 minutes; --busy 0
//   leaves out the loaded pass). Prints the tables and one line per
//   measurement for scripts; exits 1 if any step came out of order, 2 if the
//   run could not be made. --keep-trace copies the port library's trace to
//   FILE at the end.
//
// --ola: the port goes to OLA instead (default 20:500 2:2000): an olad of the
//   run's own (the tests' olad_sandbox.sh: only the Dummy plugin, a private
//   RPC port), its Dummy output patched to universe 1, and the intervals
//   taken from a second OLA client registered for the universe, when each
//   frame reaches it. Reports the steps lost or out of order there, and the
//   CPU of the window's process (the watching client's thread left out) and
//   of olad. Only the running light is measured, on the machine as it is:
//   the floor and the loaded pass are the simulated port's, so --ola leaves
//   them out (and refuses a --busy above 0).
// --ola-wire: --ola with olad's E1.31 output on a veth pair in a network
//   namespace of the run's own (root), the steps read off the wire
//   (step_timing_wire.h).

#include <getopt.h>
#include <sched.h>
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
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "application.h"
#include "command_line.h"
#include "form1.h"
#include "port_library.h"
#include "realtime_request.h"
#include "step_clock.h"
#include "timing_stats.h"
#ifdef STEP_TIMING_OLA
#include "olad_sandbox.h"
#include "step_timing_wire.h"
#include "universe_watcher.h"
#endif

namespace {

using runlight::bench::IntervalSummary;
using runlight::bench::TraceWrite;
using runlight::bench::wholeNumber;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t kPort = 888;
constexpr std::size_t kMinSliceSteps = 500;  // steps of a slice at least (below)

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
    // What the figures above come from, so that slices of a measurement add up.
    std::vector<double> intervalsMs;
    double cpuSeconds = 0;
    Clock::duration wall{};
    long wakeUps = 0;
    std::size_t writes = 0;
    // --ola only
    std::size_t lost = 0;     // steps written that the watching client never saw
    IntervalSummary written;  // the same run as the port library's trace has it
    double oladCpuPercent = 0;
};

// The running light and its floor at one period, measured in turns: a slice
// of the light's steps, then a slice of the floor's, and so on, so that both
// see the machine as it was during the same seconds.
struct Pair {
    Result light;
    Result floor;
};

// What a second OLA client sees of the universe, as trace lines: each change
// of the eight channels with the time it arrived. Only with --ola.
struct OlaSide {
    std::mutex mutex;
    std::vector<TraceWrite> frames;
    std::atomic<double> watcherCpuSeconds{0};  // CPU of the watching thread so far
    int oladPid = -1;
};

// The olad of an --ola run, stopped by fail() as well: _Exit runs no destructor.
std::atomic<pid_t> g_oladPid{-1};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "step_timing: %s\n", message.c_str());
    std::fflush(stderr);
    if (const pid_t olad = g_oladPid.load(); olad > 0) {
        kill(olad, SIGTERM);
    }
    std::_Exit(2);
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU time (user + system) of process `pid` so far, in s; 0 if unknown.
double otherProcessCpuSeconds(int pid) {
    std::ifstream stat{"/proc/" + std::to_string(pid) + "/stat"};
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto afterName = text.rfind(')');
    if (afterName == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(afterName + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index == 14 || index == 15) {  // utime, stime
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Options {
    std::vector<Request> requests;
    std::string keepTrace;  // empty: the trace goes with the run's folder
    int busy = 2;           // spinning processes beside the second pass; 0: no second pass
    int slices = 4;         // turns of the light and the floor at each period
    bool ola = false;       // the running light over OLA only: no floor, no second pass
    bool wire = false;      // --ola-wire
};

// PERIOD_MS:STEPS, with a period of 2..800 ms and at least two steps.
std::optional<Request> requestFrom(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto period = wholeNumber(text.substr(0, colon).c_str(), 2, 800);
    const auto steps = wholeNumber(text.substr(colon + 1).c_str(), 2, 100'000'000);
    if (!period || !steps) {
        return std::nullopt;
    }
    Request request;
    request.periodMs = static_cast<int>(*period);
    request.steps = static_cast<std::size_t>(*steps);
    return request;
}

Options optionsFrom(int argc, char** argv) {
    enum : int { kKeepTrace = 1, kBusy, kSlices, kOla, kOlaWire };
    const option known[] = {
        {"keep-trace", required_argument, nullptr, kKeepTrace},
        {"busy", required_argument, nullptr, kBusy},
        {"slices", required_argument, nullptr, kSlices},
        {"ola", no_argument, nullptr, kOla},
        {"ola-wire", no_argument, nullptr, kOlaWire},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    auto& requests = options.requests;
    bool busyGiven = false;
    for (int given = 0; (given = getopt_long(argc, argv, "", known, nullptr)) != -1;) {
        switch (given) {
            case kKeepTrace:
                options.keepTrace = optarg;
                break;
            case kBusy: {
                const auto busy = wholeNumber(optarg, 0, 16);
                if (!busy) {
                    fail(std::string("--busy takes 0..16 processes, not ") + optarg);
                }
                options.busy = static_cast<int>(*busy);
                busyGiven = true;
                break;
            }
            case kSlices: {
                const auto slices = wholeNumber(optarg, 1, 100);
                if (!slices) {
                    fail(std::string("--slices takes 1..100 turns, not ") + optarg);
                }
                options.slices = static_cast<int>(*slices);
                break;
            }
            case kOla:
            case kOlaWire:
                options.ola = true;
                options.wire = given == kOlaWire;
                break;
            default:  // getopt_long has said what it did not know
                fail(
                    "usage: step_timing [--ola | --ola-wire] [--keep-trace FILE] [--busy N] "
                    "[--slices N] [PERIOD_MS:STEPS ...]");
        }
    }
    for (int i = optind; i < argc; ++i) {
        const auto request = requestFrom(argv[i]);
        if (!request) {
            fail(std::string("not PERIOD_MS:STEPS with a period of 2..800 ms: ") + argv[i]);
        }
        requests.push_back(*request);
    }
    if (options.ola) {
        if (busyGiven && options.busy != 0) {
            fail("--ola measures the running light alone: no --busy");
        }
        options.busy = 0;
    }
    if (requests.empty()) {
        requests = options.ola ? std::vector<Request>{{20, 500}, {2, 2000}}
                               : std::vector<Request>{{2, 2000}, {20, 500}, {200, 100}};
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
                // At normal priority, as a user's programs are, whatever
                // this process has (the light's thread is realtime only
                // while it runs, and never for a child).
                const sched_param normal{};
                sched_setscheduler(0, SCHED_OTHER, &normal);
                setpriority(PRIO_PROCESS, 0, 0);
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

// The figures of `result` from what they come from.
void withFigures(Result& result) {
    result.summary = runlight::bench::summarize(result.intervalsMs,
                                                static_cast<double>(result.request.periodMs));
    result.cpuPercent =
        100.0 * result.cpuSeconds / std::chrono::duration<double>(result.wall).count();
    result.wakeUpsPerStep = static_cast<double>(result.wakeUps) /
                            static_cast<double>(std::max<std::size_t>(result.writes, 1));
}

Result summarized(const Request& request, const std::vector<TraceWrite>& run,
                  const std::vector<int>& bytes, double cpuSeconds, Clock::duration wall,
                  long wakeUpCount) {
    Result result;
    result.request = request;
    result.intervalsMs = runlight::bench::intervalsMs(run);
    result.cycleBreaks = runlight::bench::countCycleBreaks(run, bytes);
    result.rssMiB = runlight::bench::peakRssMiB();
    result.cpuSeconds = cpuSeconds;
    result.wall = wall;
    result.wakeUps = wakeUpCount;
    result.writes = run.size();
    withFigures(result);
    return result;
}

// The slices of one measurement as one: their intervals (none across two
// slices), CPU, time and wake-ups added up.
Result merged(const Request& request, const std::vector<Result>& slices) {
    Result result;
    result.request = request;
    for (const Result& slice : slices) {
        result.intervalsMs.insert(result.intervalsMs.end(), slice.intervalsMs.begin(),
                                  slice.intervalsMs.end());
        result.cycleBreaks += slice.cycleBreaks;
        result.cpuSeconds += slice.cpuSeconds;
        result.wall += slice.wall;
        result.wakeUps += slice.wakeUps;
        result.writes += slice.writes;
        result.rssMiB = std::max(result.rssMiB, slice.rssMiB);
    }
    withFigures(result);
    return result;
}

// With `ola`, the intervals are those the watching client saw; the trace's
// go to `written`.
Result measureLight(const Request& request, QPushButton* startStop, QScrollBar* bar,
                    const std::string& tracePath, std::size_t runIndex,
                    const std::vector<int>& bytes, OlaSide* ola) {
    setSpeed(bar, request.periodMs);
    QCoreApplication::processEvents();

    // Only the time in the event loop counts towards the CPU share; reading
    // the trace between the slices does not.
    double cpuSeconds = 0;
    double oladSeconds = 0;
    long wakeUpCount = 0;
    Clock::duration wall{};
    QTest::mouseClick(startStop, Qt::LeftButton);  // START
    // The first step comes at most one period after the click.
    auto slice = static_cast<int>(request.steps + 2) * request.periodMs + request.periodMs;
    std::vector<TraceWrite> run;
    for (int rounds = 0; rounds < 20; ++rounds) {
        const double cpu0 = runlight::bench::processCpuSeconds();
        const double watcher0 = ola != nullptr ? ola->watcherCpuSeconds.load() : 0;
        const double olad0 = ola != nullptr ? otherProcessCpuSeconds(ola->oladPid) : 0;
        const long wake0 = wakeUps();
        const auto wall0 = Clock::now();
        runEventLoop(slice);
        wall += Clock::now() - wall0;
        cpuSeconds += runlight::bench::processCpuSeconds() - cpu0;
        wakeUpCount += wakeUps() - wake0;
        if (ola != nullptr) {
            cpuSeconds -= ola->watcherCpuSeconds.load() - watcher0;
            oladSeconds += otherProcessCpuSeconds(ola->oladPid) - olad0;
        }
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
    if (ola == nullptr) {
        return summarized(request, run, bytes, cpuSeconds, wall, wakeUpCount);
    }
    // What the watching client saw of this run, once the last frames are in.
    runEventLoop(200);
    std::vector<TraceWrite> seen;
    {
        const std::lock_guard lock(ola->mutex);
        const auto seenRuns = runlight::bench::splitRuns(ola->frames);
        if (seenRuns.size() != runIndex + 1) {
            fail("the watching client saw " + std::to_string(seenRuns.size()) + " STARTs, not " +
                 std::to_string(runIndex + 1));
        }
        seen = seenRuns.back();
    }
    Result result = summarized(request, seen, bytes, cpuSeconds, wall, wakeUpCount);
    result.lost = run.size() > seen.size() ? run.size() - seen.size() : 0;
    result.written = runlight::bench::summarize(runlight::bench::intervalsMs(run),
                                                static_cast<double>(request.periodMs));
    result.oladCpuPercent = 100.0 * oladSeconds / std::chrono::duration<double>(wall).count();
    return result;
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

void printScriptLines(const char* pass, const std::vector<Pair>& pairs, bool withFloor) {
    for (const auto& pair : pairs) {
        for (const Result* r : {&pair.light, &pair.floor}) {
            if (r == &pair.floor && !withFloor) {
                continue;
            }
            std::printf("pass=%s what=%s %s wakes_per_step=%.2f\n", pass,
                        r == &pair.light ? "light" : "floor",
                        runlight::bench::scriptLine(r->request.periodMs, r->summary, r->cpuPercent,
                                                    r->rssMiB)
                            .c_str(),
                        r->wakeUpsPerStep);
        }
    }
}

// --ola: the running light alone, as the watching client saw its steps.
void printOlaPass(const std::vector<Pair>& pairs, const std::string& loadBefore,
                  const std::string& loadAfter, bool wire) {
    std::printf(
        "Step timing: the running light (main window offscreen) over OLA (olad, %s), trace on; "
        "%d cores; load average %s before, %s after\n\n",
        wire ? "E1.31 output, steps as the packets on the wire show them"
             : "Dummy output, steps as a second client sees them",
        QThread::idealThreadCount(), loadBefore.c_str(), loadAfter.c_str());
    std::printf("%9s %6s %9s %8s %8s %8s %8s %5s %7s %7s %8s\n", "period ms", "steps", "median ms",
                "p5 ms", "p95 ms", "p99 ms", "max ms", "late", "CPU %", "wakes", "RSS MiB");
    for (const auto& pair : pairs) {
        const auto& r = pair.light;
        const auto& s = r.summary;
        std::printf("%9d %6zu %9.3f %8.3f %8.3f %8.3f %8.3f %5zu %7.2f %7.2f %8.1f\n",
                    r.request.periodMs, s.steps, s.medianMs, s.p5Ms, s.p95Ms, s.p99Ms, s.maxMs,
                    s.late, r.cpuPercent, r.wakeUpsPerStep, r.rssMiB);
        std::printf(
            "  olad CPU %.2f %% of a core; steps lost on the way %zu; as written (trace): median "
            "%.3f ms, p99 %.3f ms, late %zu\n",
            r.oladCpuPercent, r.lost, r.written.medianMs, r.written.p99Ms, r.written.late);
    }
    std::printf(
        "  (CPU: the window's process less the watching client's thread; wakes: voluntary "
        "context switches of the main thread per step)\n");
}

void printOlaTargets(const std::vector<Pair>& pairs) {
    std::printf("\nTargets (over OLA, as the watching client sees the steps):\n");
    for (const auto& pair : pairs) {
        const auto& r = pair.light;
        const auto& s = r.summary;
        const double period = r.request.periodMs;
        std::printf("  %d ms: median %.3f ms within 1 %% of %d ms: %s\n", r.request.periodMs,
                    s.medianMs, r.request.periodMs,
                    verdict(std::abs(s.medianMs - period) <= 0.01 * period));
        if (r.request.periodMs == 20) {
            std::printf("  20 ms: no step lost or out of order: %s\n",
                        verdict(r.lost == 0 && r.cycleBreaks == 0));
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
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));  // no settings file of the user's
    std::unique_ptr<OlaSide> ola;
#ifdef STEP_TIMING_OLA
    std::unique_ptr<runlight::testing::OladSandbox> olad;
    std::unique_ptr<runlight::portio::ola_backend::UniverseWatcher> watcher;
    std::unique_ptr<runlight::bench::OlaWire> wire;
    if (const auto entered = options.wire ? runlight::bench::OlaWire::enterNamespace() : "";
        !entered.empty()) {
        fail("--ola-wire: " + entered);
    }
    if (options.ola) {
        olad = std::make_unique<runlight::testing::OladSandbox>();
        const std::string problem =
            olad->start(options.wire ? runlight::bench::OlaWire::oladAddress() : "");
        g_oladPid = olad->pid();
        if (!problem.empty()) {
            fail("olad: " + problem);
        }
        runlight::testing::OlaTestClient client(olad->port());
        if (!client.patchTo(1, options.wire ? ola::OLA_PLUGIN_E131 : ola::OLA_PLUGIN_DUMMY)) {
            fail("olad: " + client.error());
        }
        ola = std::make_unique<OlaSide>();
        ola->oladPid = olad->pid();
        auto* side = ola.get();
        const auto seen =
            [side](const runlight::portio::ola_backend::UniverseWatcher::Channels& channels,
                   runlight::portio::ola_backend::UniverseWatcher::Clock::time_point at) {
                int byte = 0;
                for (unsigned i = 0; i < 8; ++i) {
                    byte |= channels[i] != 0 ? 0x80 >> i : 0;
                }
                const auto ns =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch());
                {
                    const std::lock_guard lock(side->mutex);
                    if (side->frames.empty() || side->frames.back().value != byte) {
                        side->frames.push_back({ns.count(), kPort, byte});
                    }
                }
                side->watcherCpuSeconds = threadCpuSeconds();
            };
        if (options.wire) {
            wire = std::make_unique<runlight::bench::OlaWire>(seen);
            if (!wire->error().empty()) {
                fail("--ola-wire: " + wire->error());
            }
        } else if (watcher = std::make_unique<runlight::portio::ola_backend::UniverseWatcher>(
                       olad->port(), 1, 1, [] {}, seen);
                   !watcher->waitFor([](const auto& now) { return now.connected; }, 5000)) {
            fail("the watching client could not register with olad");
        }
        qputenv("PORTIO_BACKEND", "ola");
        qputenv("PORTIO_OLA_PORT", QByteArray::number(olad->port()));
        qputenv("PORTIO_OLA_UNIVERSE", "1");
        qputenv("PORTIO_OLA_CHANNEL", "1");
        qputenv("PORTIO_OLA_LEVEL", "255");
    }
#else
    if (options.ola) {
        fail("built without OLA (libola-dev)");
    }
#endif
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));
    qputenv("PORTIO_TRACE", QFile::encodeName(QString::fromStdString(tracePath)));
    // The program's own application object, so events cost what they cost there.
    runlight::ui::Application app(argc, argv);

    // A missing library would put up the window's error report and wait for
    // a user; say so here instead. The floor calls its PortOut directly: the
    // same library the window loads, so the same simulated port and trace.
    auto library = runlight::openPortLibrary(runlight::kPortLibraryName);
    if (!library) {
        fail(library.error());
    }
    const auto bound = library->function<void (*)(std::int16_t, std::uint8_t)>("PortOut");
    if (!bound) {
        fail(bound.error());
    }
    auto* portOut = *bound;
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
            if (ola) {
                pair.light =
                    measureLight(request, startStop, bar, tracePath, runIndex++, bytes, ola.get());
                pairs.push_back(pair);
                continue;
            }
            // Every slice STARTs the light anew; a START costs a few frames
            // and wake-ups of its own, so slices keep kMinSliceSteps steps.
            const auto slices = std::clamp<std::size_t>(request.steps / kMinSliceSteps, 1,
                                                        static_cast<std::size_t>(options.slices));
            const Request slice{request.periodMs, (request.steps + slices - 1) / slices};
            std::vector<Result> lights;
            std::vector<Result> floors;
            for (std::size_t turn = 0; turn < slices; ++turn) {
                lights.push_back(
                    measureLight(slice, startStop, bar, tracePath, runIndex++, bytes, nullptr));
                if (!app.unexpectedError().isEmpty()) {
                    fail("the window stopped on an error: " + app.unexpectedError().toStdString());
                }
                floors.push_back(measureFloor(slice, portOut, tracePath, runIndex++, bytes));
            }
            pair.light = merged(request, lights);
            pair.floor = merged(request, floors);
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

    if (ola) {
        printOlaPass(quiet, quietBefore, quietAfter, options.wire);
        const bool ok = inOrder(quiet);
        printOlaTargets(quiet);
        std::printf("\n");
        printScriptLines("ola", quiet, false);
#ifdef STEP_TIMING_OLA
        std::printf("%s", wire ? (wire->figures() + "\n").c_str() : "");
#endif
        std::fflush(stdout);
        return ok ? 0 : 1;
    }
    std::printf(
        "Step timing: the running light (main window offscreen) and the floor (timerfd + "
        "PortOut), simulated port, trace on; %d cores\n\n",
        QThread::idealThreadCount());
    const auto* clock = window.findChild<runlight::ui::StepClock*>(QStringLiteral("stepClock"));
    const auto* request = clock != nullptr ? clock->realtimeRequest() : nullptr;
    const std::string got = request != nullptr ? request->got() : std::string("no request");
    std::printf("The light's steps: %s\n\n", got.c_str());
    printPass("As the machine is", quiet, quietBefore, quietAfter);
    bool ok = inOrder(quiet);
    printTargets(quiet);
    if (!loaded.empty()) {
        std::printf("\n");
        const std::string title =
            "Beside " + std::to_string(options.busy) +
            " busy processes at normal priority (no targets); the light's steps " + got;
        printPass(title.c_str(), loaded, loadedBefore, loadedAfter);
        ok = inOrder(loaded) && ok;
    }
    std::printf("\n");
    printScriptLines("quiet", quiet, true);
    printScriptLines("busy", loaded, true);
    std::fflush(stdout);
    return ok ? 0 : 1;
}

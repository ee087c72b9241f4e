// What one PortOut costs the writer on the simulated port, and what the
// checks added for a hostile environment cost in it: the liveness check of
// the port's file (one read of the coarse monotonic clock per write, one
// stat of the path at most every SimPort::kCheckPeriodMs), and a trace line
// written with SIGPIPE and SIGXFSZ held back.
//
//   build/normal/bin/portio_write_bench [--benchmark_filter=...]

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include "port_chooser.h"
#include "port_io.h"
#include "sim_port.h"
#include "trace.h"

namespace {

using runlight::portio::PortIo;
using runlight::portio::SimPort;
using runlight::portio::Trace;

// A folder of the benchmark's own under the system's temp folder.
struct Folder {
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "portio-bench-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path = pattern;
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string path;
};

// The whole write: the rate-limited liveness check, set the byte, add to
// the count and wake the readers (two futex calls).
void SimPortWrite(benchmark::State& state) {
    Folder folder;
    const auto port = SimPort::open(888, folder.path).value();
    std::uint8_t byte = 0;
    for (auto _ : state) {
        if (const auto written = port->write(byte++); !written) {
            state.SkipWithError(written.error().c_str());
            break;
        }
    }
}
BENCHMARK(SimPortWrite);

// The per-write part of the liveness check: one read of the steady clock.
void SteadyClockRead(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::chrono::steady_clock::now());
    }
}
BENCHMARK(SteadyClockRead);

// The periodic part: one stat of the port's path (at most every 250 ms).
void StatOfThePortPath(benchmark::State& state) {
    Folder folder;
    const auto port = SimPort::open(888, folder.path).value();
    struct stat info {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(::stat(port->path().c_str(), &info));
    }
}
BENCHMARK(StatOfThePortPath);

// What a reader does at each look: two preads (count, then byte).
void SimPortLook(benchmark::State& state) {
    Folder folder;
    const auto port = SimPort::open(888, folder.path).value();
    for (auto _ : state) {
        benchmark::DoNotOptimize(port->look());
    }
}
BENCHMARK(SimPortLook);

// For scale: one ordinary system call, a 4-byte pwrite to a file.
void OnePwriteForScale(benchmark::State& state) {
    Folder folder;
    const int fd = ::open((folder.path + "/scale").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const std::uint32_t word = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(::pwrite(fd, &word, sizeof word, 8));
    }
    ::close(fd);
}
BENCHMARK(OnePwriteForScale);

// PortOut as the library does it, without and with a trace to a file.
void PortOutSimulated(benchmark::State& state) {
    Folder folder;
    runlight::portio::Environment settings;
    settings.backend = "sim";
    settings.runtimeDir = folder.path;
    if (state.range(0) != 0) {
        settings.trace = folder.path + "/trace.txt";
    }
    PortIo io(settings);
    std::uint8_t byte = 0;
    for (auto _ : state) {
        io.out(888, byte++);
    }
}
BENCHMARK(PortOutSimulated)->Arg(0)->Arg(1)->ArgName("traced");

}  // namespace

BENCHMARK_MAIN();

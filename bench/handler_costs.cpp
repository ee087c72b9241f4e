// What one event costs the user-interface thread, without Qt: a tick of the
// step timer on the in-memory window, and the readout of one byte. The Qt
// window's tick and the port library's write are in handler_costs_qt.cpp.
//
// Run: build/normal/bin/handler_costs  (mean, median, spread of 9 repetitions)

#include <benchmark/benchmark.h>

#include <cstdint>

#include "discarding_port.h"
#include "fake_window.h"
#include "module1.h"
#include "pattern_readout.h"
#include "port_sink.h"
#include "step_sequencer.h"

namespace {

using runlight::Box;
using runlight::testing::FakeWindow;

constexpr int kRepetitions = 9;

using runlight::bench::DiscardingPort;

// Sixteen different non-zero bytes, one per step, every step enabled.
void programAllSteps(FakeWindow& window) {
    for (int step = 0; step < 16; ++step) {
        window.setStepByte(step, 0x11 * ((step % 15) + 1) ^ (step == 15 ? 0x80 : 0));
        window.enables.at(static_cast<std::size_t>(step)) = Box::Checked;
    }
}

void BM_Timer1Timer_InMemoryWindow(benchmark::State& state) {
    FakeWindow window;
    DiscardingPort port;
    runlight::StepSequencer seq{window, port};
    seq.Form_Load();
    programAllSteps(window);
    seq.Start_Stop_Click();
    for (auto _ : state) {
        seq.Timer1_Timer();
    }
    benchmark::DoNotOptimize(window.readout);
}
BENCHMARK(BM_Timer1Timer_InMemoryWindow)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

void BM_ShowPattern(benchmark::State& state) {
    FakeWindow window;
    DiscardingPort port;
    runlight::PatternReadout readout{window};
    unsigned value = 0;
    for (auto _ : state) {
        readout.ShowPattern(static_cast<std::uint8_t>(value));
        value = (value + 37) & 0xFFU;  // every byte, one- and two-digit hex alike
    }
    benchmark::DoNotOptimize(window.readout);
}
BENCHMARK(BM_ShowPattern)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

}  // namespace

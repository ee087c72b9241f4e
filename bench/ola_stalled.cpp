// A stopped olad under 2 ms writes: how long each PortOut takes. An olad of
// the run's own (the tests' olad_sandbox.sh: only the Dummy plugin, a
// private RPC port), its output patched to universe 1; PortOut of the real
// port library every 2 ms for SECONDS (default 24); olad stopped with
// SIGSTOP after 2 s and left stopped to the end, then let run and stopped.
// The running light stops at its first failed write; this goes on writing,
// as a program that ignores failures would, so that every later write
// (each one a new connection) is timed too.
//
// Run: build/normal/bin/ola_stalled [SECONDS]
//   prints the longest PortOut before olad was stopped, until the first
//   failed write, and after it; when the first write failed and with what;
//   and one line for scripts. Exits 2 if the run could not be made.

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "command_line.h"
#include "olad_sandbox.h"
#include "port_library.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

int main(int argc, char** argv) {
    const auto given = runlight::bench::onlyArgument(argc, argv, 4, 600, 24);
    if (!given) {
        std::fprintf(stderr, "usage: ola_stalled [SECONDS]   (SECONDS is 4..600, default 24)\n");
        return 2;
    }
    const int seconds = static_cast<int>(*given);
    runlight::testing::TempFolder config;
    runlight::testing::OladSandbox olad;
    if (const std::string problem = olad.start(); !problem.empty()) {
        std::fprintf(stderr, "ola_stalled: olad: %s\n", problem.c_str());
        return 2;
    }
    {
        runlight::testing::OlaTestClient client(olad.port());
        if (!client.patchDummyTo(1)) {
            std::fprintf(stderr, "ola_stalled: olad: %s\n", client.error().c_str());
            return 2;
        }
    }
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    ::setenv("PORTIO_BACKEND", "ola", 1);
    ::setenv("PORTIO_OLA_PORT", std::to_string(olad.port()).c_str(), 1);
    ::setenv("PORTIO_OLA_UNIVERSE", "1", 1);
    ::unsetenv("PORTIO_TRACE");

    runlight::PortLibrary library;
    const auto start = Clock::now();
    const auto stopAt = start + std::chrono::seconds(2);
    const auto end = start + std::chrono::seconds(seconds);
    bool stopped = false;
    Clock::duration longestBefore{}, longestUntilFailure{}, longestAfter{};
    Clock::duration firstFailure{};
    std::string firstError;
    std::size_t writes = 0, failures = 0, over200 = 0;
    auto next = start;
    for (std::uint8_t byte = 0; Clock::now() < end; ++byte) {
        if (!stopped && Clock::now() >= stopAt) {
            ::kill(olad.pid(), SIGSTOP);
            stopped = true;
        }
        const auto before = Clock::now();
        bool failed = false;
        try {
            library.out(888, byte);
        } catch (const runlight::PortError& error) {
            failed = true;
            if (failures++ == 0) {
                firstError = error.what();
                firstFailure = before - stopAt;
            }
        }
        const auto took = Clock::now() - before;
        ++writes;
        over200 += took > std::chrono::milliseconds(200) ? 1 : 0;
        auto& longest = !stopped                                     ? longestBefore
                        : failures == 0 || (failed && failures == 1) ? longestUntilFailure
                                                                     : longestAfter;
        longest = std::max(longest, took);
        next += std::chrono::milliseconds(2);
        std::this_thread::sleep_until(std::max(next, Clock::now()));
    }
    ::kill(olad.pid(), SIGCONT);

    std::printf("olad stopped (SIGSTOP) 2 s into %d s of PortOut every 2 ms: %zu writes\n", seconds,
                writes);
    std::printf(
        "  longest PortOut: %.3f ms before olad was stopped, %.3f ms until the first "
        "failed write, %.3f ms after it; %zu over 200 ms\n",
        ms(longestBefore), ms(longestUntilFailure), ms(longestAfter), over200);
    std::printf("  first failed write %.2f s after olad was stopped: %s\n",
                std::chrono::duration<double>(firstFailure).count(), firstError.c_str());
    std::printf("  %zu writes failed in all\n", failures);
    std::printf(
        "what=ola_stalled seconds=%d writes=%zu longest_before_ms=%.3f "
        "longest_until_failure_ms=%.3f longest_after_ms=%.3f over_200ms=%zu "
        "first_failure_s=%.2f failures=%zu\n",
        seconds, writes, ms(longestBefore), ms(longestUntilFailure), ms(longestAfter), over200,
        std::chrono::duration<double>(firstFailure).count(), failures);
    return 0;
}

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "realtime_request.h"

namespace runlight::realtime {
namespace {

// A system that records each call and answers as it is told.
class FakeScheduling final : public Scheduling {
public:
    std::vector<std::string> calls;
    std::uint64_t rtprio = 0;
    std::uint64_t rttimeSoft = kUnlimited;
    std::uint64_t rttimeHard = kUnlimited;
    int fifoError = EPERM;
    std::string classNow = "SCHED_OTHER";
    bool dropped = false;

    std::uint64_t rtprioLimit() override { return rtprio; }
    int rttimeLimit(std::uint64_t& soft, std::uint64_t& hard) override {
        soft = rttimeSoft;
        hard = rttimeHard;
        return 0;
    }
    int setRttimeLimit(std::uint64_t soft, std::uint64_t hard) override {
        calls.push_back("RLIMIT_RTTIME " + std::to_string(soft) + "/" + std::to_string(hard));
        rttimeSoft = soft;
        rttimeHard = hard;
        return 0;
    }
    int setFifo(int priority) override {
        calls.push_back("SCHED_FIFO " + std::to_string(priority));
        if (fifoError == 0) {
            classNow = "SCHED_FIFO " + std::to_string(priority);
        }
        return fifoError;
    }
    int setNormal() override {
        calls.push_back("SCHED_OTHER");
        classNow = "SCHED_OTHER";
        return 0;
    }
    std::string currentClass() override { return classNow; }
    std::uint64_t threadId() override { return 4242; }
    int dropOnCpuLimit() override {
        calls.push_back("SIGXCPU handler");
        return 0;
    }
    bool droppedOnCpuLimit() override { return std::exchange(dropped, false); }
};

class FakeKit final : public RealtimeKit {
public:
    FakeKit(FakeScheduling& scheduling, std::string refusal)
        : m_scheduling(scheduling), m_refusal(std::move(refusal)) {}
    Limits offered{20, 200'000};

    std::string limits(Limits& limits) override {
        m_scheduling.calls.push_back("RealtimeKit limits");
        limits = offered;
        return m_refusal;
    }
    std::string makeThreadRealtime(std::uint64_t threadId, std::uint32_t priority) override {
        m_scheduling.calls.push_back("MakeThreadRealtime " + std::to_string(threadId) + " " +
                                     std::to_string(priority));
        m_scheduling.classNow = "SCHED_RR " + std::to_string(priority);
        return {};
    }

private:
    FakeScheduling& m_scheduling;
    std::string m_refusal;
};

using Lines = std::vector<std::string>;

TEST(RealtimeRequest, WithoutRtprioAsksRealtimeKitWithinItsLimitsAfterGuardingTheCpuTime) {
    FakeScheduling scheduling;  // RLIMIT_RTPRIO 0: sched_setscheduler refuses
    FakeKit kit{scheduling, ""};
    kit.offered = {5, 200'000};
    Lines said;
    RealtimeRequest request{scheduling, &kit, true,
                            [&](const std::string& line) { said.push_back(line); }};
    request.enter();
    EXPECT_TRUE(request.realtime());
    EXPECT_EQ(scheduling.calls,
              (Lines{"SIGXCPU handler", "RLIMIT_RTTIME 100000/18446744073709551615",
                     "SCHED_FIFO 10", "RealtimeKit limits", "SIGXCPU handler",
                     "RLIMIT_RTTIME 100000/200000", "MakeThreadRealtime 4242 5"}))
        << "the handler before the limit, the limit (hard at most RTTimeUSecMax) before the "
           "class, the priority at most MaxRealtimePriority";
    EXPECT_EQ(said, (Lines{"steps: realtime (SCHED_RR 5, RealtimeKit)"}));

    scheduling.calls.clear();
    request.leave();
    EXPECT_EQ(scheduling.calls, (Lines{"SCHED_OTHER"})) << "STOP gives the class back";
    request.enter();
    request.leave();
    EXPECT_EQ(said.size(), 1U) << "said at the first START only";
}

TEST(RealtimeRequest, RefusedEverywhereStaysNormalAndSaysWhyOnce) {
    FakeScheduling scheduling;
    FakeKit kit{scheduling, "RealtimeKit not on the system bus"};
    Lines said;
    RealtimeRequest request{scheduling, &kit, true,
                            [&](const std::string& line) { said.push_back(line); }};
    request.enter();
    EXPECT_FALSE(request.realtime());
    EXPECT_EQ(
        said,
        (Lines{"steps: normal priority: RealtimeKit not on the system bus, RLIMIT_RTPRIO 0"}));
    scheduling.calls.clear();
    request.leave();
    EXPECT_EQ(scheduling.calls, Lines{}) << "nothing to give back";

    // QTX_REALTIME=0: nothing is asked of the system.
    FakeScheduling untouched;
    RealtimeRequest off{untouched, &kit, false,
                        [&](const std::string& line) { said.push_back(line); }};
    off.enter();
    off.leave();
    EXPECT_EQ(untouched.calls, Lines{});
    EXPECT_EQ(said.back(), "steps: normal priority: QTX_REALTIME=0");
}

TEST(RealtimeRequest, AThreadStartedRealtimeIsNeitherLoweredNorGivenBack) {
    FakeScheduling scheduling;
    scheduling.classNow = "SCHED_FIFO 20";  // chrt -f 20 qtx
    Lines said;
    RealtimeRequest request{scheduling, nullptr, true,
                            [&](const std::string& line) { said.push_back(line); }};
    request.enter();
    request.leave();
    EXPECT_EQ(scheduling.calls, Lines{});
    EXPECT_EQ(said, (Lines{"steps: realtime (SCHED_FIFO 20, as started)"}));
}

// --- The real system. Where this thread cannot be made realtime (no root,
// no RLIMIT_RTPRIO), the cases that need it are skipped. ---

int policyNow() {
    return sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
}

// A request on the real system, entered; every line said goes to `said`.
struct RealRequest {
    Lines said;
    RealtimeRequest request{linuxScheduling(), nullptr, true,
                            [this](const std::string& line) { said.push_back(line); }};
    RealRequest() { request.enter(); }
};

TEST(RealtimeRequestOnLinux, SigxcpuPutsTheThreadBackAtOnceAndIsToldOnce) {
    RealRequest real;
    if (!real.request.realtime()) {
        GTEST_SKIP() << real.request.got();
    }
    ASSERT_EQ(policyNow(), SCHED_FIFO);
    ASSERT_EQ(kill(getpid(), SIGXCPU), 0);  // as the kernel sends it: to the process
    EXPECT_EQ(policyNow(), SCHED_OTHER) << "the handler has run when kill() returns";
    real.request.check();
    EXPECT_FALSE(real.request.realtime());
    ASSERT_EQ(real.said.size(), 2U);
    EXPECT_EQ(real.said.back(),
              "steps: normal priority until the next START: the step thread ran 100 ms without a "
              "pause (RLIMIT_RTTIME, SIGXCPU)");

    // The next START asks again; a second SIGXCPU is not told again.
    real.request.leave();
    real.request.enter();
    EXPECT_EQ(policyNow(), SCHED_FIFO);
    ASSERT_EQ(kill(getpid(), SIGXCPU), 0);
    EXPECT_EQ(policyNow(), SCHED_OTHER);
    real.request.check();
    EXPECT_EQ(real.said.size(), 2U);
}

TEST(RealtimeRequestOnLinux, AThreadThatNeverSleepsIsPutBackByRlimitRttime) {
    RealRequest real;
    if (!real.request.realtime()) {
        GTEST_SKIP() << real.request.got();
    }
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
    EXPECT_EQ(limit.rlim_cur, RealtimeRequest::kRttimeUs);
    // Spin without a system call that sleeps until the kernel steps in (at
    // 100 ms of CPU); 3 s at most, so a broken guard fails instead of hanging.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (policyNow() == SCHED_FIFO && std::chrono::steady_clock::now() < giveUp) {
    }
    EXPECT_EQ(policyNow(), SCHED_OTHER);
    real.request.check();
    EXPECT_FALSE(real.request.realtime());
}

TEST(RealtimeRequestOnLinux, ChildrenStartInTheNormalClass) {
    RealRequest real;
    if (!real.request.realtime()) {
        GTEST_SKIP() << real.request.got();
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(policyNow() == SCHED_OTHER ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child was realtime too";
    EXPECT_EQ(policyNow(), SCHED_FIFO);
}

TEST(RealtimeRequestOnLinux, AUserWithoutRtprioGetsTheNormalClassAndIsToldWhy) {
    // A child without RLIMIT_RTPRIO (and not root, when the tests are), with
    // no RealtimeKit: the request must fail, and say so.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_RTPRIO, &none) != 0 || (geteuid() == 0 && setuid(65534) != 0)) {
            _exit(3);
        }
        Lines said;
        RealtimeRequest request{linuxScheduling(), nullptr, true,
                                [&](const std::string& line) { said.push_back(line); }};
        request.enter();
        const bool told = said == Lines{"steps: normal priority: no RealtimeKit, RLIMIT_RTPRIO 0"};
        _exit(request.realtime() ? 1 : policyNow() != SCHED_OTHER ? 2 : told ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: granted, 2: not in the normal class, 3: could not drop the privilege, 4: not told";
}

}  // namespace
}  // namespace runlight::realtime

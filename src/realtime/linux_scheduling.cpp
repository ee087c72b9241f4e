// The real system calls behind Scheduling, and SIGXCPU's handler.

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "realtime_request.h"

namespace runlight::realtime {

namespace {

// The thread SIGXCPU puts back, and whether it did. The kernel sends SIGXCPU
// to the process, so the handler may run on any of its threads.
std::atomic<pid_t> g_thread{0};
std::atomic<bool> g_dropped{false};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void onCpuLimit(int) {
    const int saved = errno;
    const sched_param normal{};
    // One system call, safe in a signal handler: the step thread is in the
    // normal class when it returns. Telling it is left to the thread itself.
    if (::sched_setscheduler(g_thread.load(), SCHED_OTHER | SCHED_RESET_ON_FORK, &normal) == 0) {
        g_dropped.store(true);
    }
    errno = saved;
}

std::uint64_t fromRlim(rlim_t value) {
    return value == RLIM_INFINITY ? Scheduling::kUnlimited : static_cast<std::uint64_t>(value);
}

rlim_t toRlim(std::uint64_t value) {
    return value == Scheduling::kUnlimited ? RLIM_INFINITY : static_cast<rlim_t>(value);
}

class LinuxScheduling final : public Scheduling {
public:
    std::uint64_t rtprioLimit() override {
        rlimit limit{};
        return ::getrlimit(RLIMIT_RTPRIO, &limit) == 0 ? fromRlim(limit.rlim_cur) : 0;
    }
    int rttimeLimit(std::uint64_t& soft, std::uint64_t& hard) override {
        rlimit limit{};
        if (::getrlimit(RLIMIT_RTTIME, &limit) != 0) {
            return errno;
        }
        soft = fromRlim(limit.rlim_cur);
        hard = fromRlim(limit.rlim_max);
        return 0;
    }
    int setRttimeLimit(std::uint64_t soft, std::uint64_t hard) override {
        const rlimit limit{toRlim(soft), toRlim(hard)};
        return ::setrlimit(RLIMIT_RTTIME, &limit) == 0 ? 0 : errno;
    }
    int setFifo(int priority) override {
        sched_param param{};
        param.sched_priority = priority;
        return ::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0 ? 0 : errno;
    }
    int setNormal() override {
        const sched_param normal{};
        return ::sched_setscheduler(0, SCHED_OTHER | SCHED_RESET_ON_FORK, &normal) == 0 ? 0 : errno;
    }
    std::string currentClass() override {
        const int policy = ::sched_getscheduler(0);
        sched_param param{};
        if (policy < 0 || ::sched_getparam(0, &param) != 0) {
            return std::string("unknown (") + std::strerror(errno) + ")";
        }
        const std::string priority = " " + std::to_string(param.sched_priority);
        switch (policy & ~SCHED_RESET_ON_FORK) {
            case SCHED_FIFO:
                return "SCHED_FIFO" + priority;
            case SCHED_RR:
                return "SCHED_RR" + priority;
            case SCHED_OTHER:
                return "SCHED_OTHER";
            case SCHED_BATCH:
                return "SCHED_BATCH";
            case SCHED_IDLE:
                return "SCHED_IDLE";
            default:
                return "policy " + std::to_string(policy);
        }
    }
    std::uint64_t threadId() override { return static_cast<std::uint64_t>(::gettid()); }
    int dropOnCpuLimit() override {
        g_thread.store(::gettid());
        static const int error = [] {
            struct sigaction action {};
            action.sa_handler = &onCpuLimit;
            action.sa_flags = SA_RESTART;
            sigemptyset(&action.sa_mask);
            return ::sigaction(SIGXCPU, &action, nullptr) == 0 ? 0 : errno;
        }();
        return error;
    }
    bool droppedOnCpuLimit() override {
        return g_dropped.load(std::memory_order_relaxed) && g_dropped.exchange(false);
    }
};

}  // namespace

Scheduling& linuxScheduling() {
    static LinuxScheduling scheduling;
    return scheduling;
}

}  // namespace runlight::realtime

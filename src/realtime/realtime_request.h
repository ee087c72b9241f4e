#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace runlight::realtime {

// The system calls a request makes, all for the calling thread. Those that
// can fail return 0 or the errno value. Tests pass their own.
class Scheduling {
public:
    virtual ~Scheduling() = default;
    // RLIMIT_RTPRIO's soft limit; kUnlimited for RLIM_INFINITY.
    virtual std::uint64_t rtprioLimit() = 0;
    // RLIMIT_RTTIME, in µs; kUnlimited for RLIM_INFINITY.
    virtual int rttimeLimit(std::uint64_t& soft, std::uint64_t& hard) = 0;
    virtual int setRttimeLimit(std::uint64_t soft, std::uint64_t hard) = 0;
    // SCHED_FIFO | SCHED_RESET_ON_FORK at `priority` (1..99).
    virtual int setFifo(int priority) = 0;
    // SCHED_OTHER, keeping SCHED_RESET_ON_FORK (only a privileged thread
    // may clear it, and it is harmless in the normal class).
    virtual int setNormal() = 0;
    // The class the kernel gives the thread now: "SCHED_FIFO 10", "SCHED_OTHER".
    virtual std::string currentClass() = 0;
    // The kernel's id of the thread (RealtimeKit takes it).
    virtual std::uint64_t threadId() = 0;
    // From now on SIGXCPU puts this thread back into the normal class at
    // once (its default would end the process).
    virtual int dropOnCpuLimit() = 0;
    // Whether SIGXCPU put it back since the last call.
    virtual bool droppedOnCpuLimit() = 0;

    static constexpr std::uint64_t kUnlimited = ~std::uint64_t{0};
};

// org.freedesktop.RealtimeKit1 on the system bus, as far as a request needs it.
class RealtimeKit {
public:
    struct Limits {
        int maxRealtimePriority = 0;     // MaxRealtimePriority
        std::int64_t rtTimeUSecMax = 0;  // RTTimeUSecMax: RLIMIT_RTTIME's hard limit at most
    };
    virtual ~RealtimeKit() = default;
    // Empty when `limits` were read; otherwise why not, e.g. "RealtimeKit
    // not on the system bus".
    virtual std::string limits(Limits& limits) = 0;
    // MakeThreadRealtime; empty when granted, otherwise why not.
    virtual std::string makeThreadRealtime(std::uint64_t threadId, std::uint32_t priority) = 0;
};

// A realtime scheduling class for the thread that runs the steps, only while
// they run, asked for as desktop audio clients ask for it: directly
// (sched_setscheduler) where RLIMIT_RTPRIO allows it (root, or a user in a
// group with a limits.d entry), else through RealtimeKit, else not at all.
// Children never inherit it (SCHED_RESET_ON_FORK). A thread that is realtime
// already (a program started with chrt) is left as it is. RLIMIT_RTTIME's soft
// limit is set first: a thread that computes kRttimeUs without sleeping gets
// SIGXCPU and is back in the normal class at once, so a long paint, a dialog
// or a fault in a realtime thread cannot freeze the desktop.
//
// Called on the thread that runs the steps, and only there.
class RealtimeRequest {
public:
    static constexpr int kPriority = 10;                 // low: audio servers take higher ones
    static constexpr std::uint64_t kRttimeUs = 100'000;  // CPU time without sleeping, µs

    // Receives each line to show (standard error in the program).
    using Say = std::function<void(const std::string& line)>;

    // `kit` may be null (none on this system); `enabled` false asks for nothing
    // (QTX_REALTIME=0). Both must outlive the request.
    RealtimeRequest(Scheduling& scheduling, RealtimeKit* kit, bool enabled, Say say);
    // Back in the normal class if it was asked for.
    ~RealtimeRequest();
    RealtimeRequest(const RealtimeRequest&) = delete;
    RealtimeRequest& operator=(const RealtimeRequest&) = delete;

    // START: asks for the realtime class. The first time, says what it got.
    void enter();
    // STOP (or the window gone): back in the normal class.
    void leave();
    // Says, the first time it happens, that SIGXCPU has put the thread back;
    // cheap enough for every step.
    void check();

    // Between enter() and leave().
    bool entered() const { return m_entered; }
    // Whether the thread is realtime as far as the request knows.
    bool realtime() const { return m_realtime; }
    // What the last enter() got: "realtime (SCHED_FIFO 10, asked directly)",
    // "normal priority: RealtimeKit not on the system bus, RLIMIT_RTPRIO 0";
    // empty before the first.
    const std::string& got() const { return m_got; }

private:
    // Empty when granted, otherwise why not.
    std::string askDirectly();
    // Installs SIGXCPU's handler and sets RLIMIT_RTTIME's soft limit, its
    // hard limit at most `hardAtMost` µs; empty when done, otherwise why not.
    std::string guardCpuTime(std::uint64_t hardAtMost);
    std::string askRealtimeKit();

    Scheduling& m_scheduling;
    RealtimeKit* m_kit;
    bool m_enabled;
    Say m_say;
    bool m_entered = false;
    bool m_realtime = false;
    bool m_saidGot = false;
    bool m_saidDrop = false;
    std::string m_got;
};

// Whether QTX_REALTIME lets the steps ask ("0" turns it off).
bool enabledByEnvironment();

// The real system calls; SIGXCPU's handler is installed at the first
// dropOnCpuLimit() and makes one system call.
Scheduling& linuxScheduling();

}  // namespace runlight::realtime

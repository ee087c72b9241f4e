#include "realtime_request.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace runlight::realtime {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

std::string microseconds(std::uint64_t us) {
    return us == Scheduling::kUnlimited ? std::string("unlimited") : std::to_string(us) + " µs";
}

}  // namespace

RealtimeRequest::RealtimeRequest(Scheduling& scheduling, RealtimeKit* kit, bool enabled, Say say)
    : m_scheduling(scheduling), m_kit(kit), m_enabled(enabled), m_say(std::move(say)) {}

RealtimeRequest::~RealtimeRequest() {
    leave();
}

void RealtimeRequest::enter() {
    if (m_entered) {
        return;
    }
    m_entered = true;
    if (!m_enabled) {
        m_got = "normal priority: QTX_REALTIME=0";
    } else if (const std::string given = m_scheduling.currentClass();
               given.rfind("SCHED_FIFO", 0) == 0 || given.rfind("SCHED_RR", 0) == 0) {
        // Started realtime (chrt): the user's choice, neither lowered nor given back.
        m_got = "realtime (" + given + ", as started)";
    } else {
        static_cast<void>(m_scheduling.droppedOnCpuLimit());  // a drop of an earlier run is told
        const std::string direct = askDirectly();
        if (direct.empty()) {
            m_realtime = true;
            m_got = "realtime (" + m_scheduling.currentClass() + ", asked directly)";
        } else if (const std::string kit = askRealtimeKit(); kit.empty()) {
            m_realtime = true;
            m_got = "realtime (" + m_scheduling.currentClass() + ", RealtimeKit)";
        } else {
            m_got = "normal priority: " + kit + ", " + direct;
        }
    }
    if (!m_saidGot) {
        m_saidGot = true;
        m_say("steps: " + m_got);
    }
}

void RealtimeRequest::leave() {
    if (!m_entered) {
        return;
    }
    check();
    m_entered = false;
    if (!m_realtime) {
        return;
    }
    m_realtime = false;
    if (const int error = m_scheduling.setNormal(); error != 0) {
        m_say("steps: cannot go back to normal priority: " + errorText(error));
    }
}

void RealtimeRequest::check() {
    if (!m_realtime || !m_scheduling.droppedOnCpuLimit()) {
        return;
    }
    m_realtime = false;
    if (!m_saidDrop) {
        m_saidDrop = true;
        m_say("steps: normal priority until the next START: the step thread ran " +
              std::to_string(kRttimeUs / 1000) + " ms without a pause (RLIMIT_RTTIME, SIGXCPU)");
    }
}

std::string RealtimeRequest::guardCpuTime(std::uint64_t hardAtMost) {
    std::uint64_t soft = 0;
    std::uint64_t hard = 0;
    if (const int error = m_scheduling.rttimeLimit(soft, hard); error != 0) {
        return "RLIMIT_RTTIME: " + errorText(error);
    }
    hard = std::min(hard, hardAtMost);
    // SIGXCPU at the soft limit drops the thread; the hard limit would kill
    // the process, so it stays well above.
    soft = hard == Scheduling::kUnlimited ? kRttimeUs : std::min(kRttimeUs, hard / 2);
    if (soft < kRttimeUs / 10) {
        return "RLIMIT_RTTIME hard limit " + microseconds(hard);
    }
    // The handler first: the limit may be reached as soon as the class is granted.
    if (const int error = m_scheduling.dropOnCpuLimit(); error != 0) {
        return "SIGXCPU: " + errorText(error);
    }
    if (const int error = m_scheduling.setRttimeLimit(soft, hard); error != 0) {
        return "RLIMIT_RTTIME " + microseconds(soft) + ": " + errorText(error);
    }
    return {};
}

std::string RealtimeRequest::askDirectly() {
    const std::uint64_t rtprio = m_scheduling.rtprioLimit();
    // A privileged thread is not bound by RLIMIT_RTPRIO, so 0 is tried too.
    const int priority = rtprio == 0 || rtprio >= static_cast<std::uint64_t>(kPriority)
                             ? kPriority
                             : static_cast<int>(rtprio);
    if (std::string why = guardCpuTime(Scheduling::kUnlimited); !why.empty()) {
        return why;
    }
    const int error = m_scheduling.setFifo(priority);
    if (error == 0) {
        return {};
    }
    if (error == EPERM && rtprio == 0) {
        return "RLIMIT_RTPRIO 0";
    }
    return "SCHED_FIFO " + std::to_string(priority) + ": " + errorText(error);
}

std::string RealtimeRequest::askRealtimeKit() {
    if (m_kit == nullptr) {
        return "no RealtimeKit";
    }
    RealtimeKit::Limits limits;
    if (std::string why = m_kit->limits(limits); !why.empty()) {
        return why;
    }
    if (limits.maxRealtimePriority < 1) {
        return "RealtimeKit allows no realtime priority";
    }
    if (limits.rtTimeUSecMax <= 0) {
        return "RealtimeKit allows no realtime CPU time";
    }
    // RealtimeKit refuses a process whose RLIMIT_RTTIME hard limit is above its own.
    if (std::string why = guardCpuTime(static_cast<std::uint64_t>(limits.rtTimeUSecMax));
        !why.empty()) {
        return why;
    }
    const auto priority =
        static_cast<std::uint32_t>(std::min(kPriority, limits.maxRealtimePriority));
    return m_kit->makeThreadRealtime(m_scheduling.threadId(), priority);
}

bool enabledByEnvironment() {
    const char* value = std::getenv("QTX_REALTIME");
    return value == nullptr || std::string_view(value) != "0";
}

}  // namespace runlight::realtime

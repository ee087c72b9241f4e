#pragma once

// What the VM tests' guest programs (vm_guest.cpp, vm_gpio_guest.cpp) share:
// the lines the host reads from the serial console, a time limit on the run,
// and a process of its own that holds what the library is about to want.
//
// Every check prints one line "QTXVM ok|FAIL LABEL: what", and the run ends
// with "QTXVM pass LABEL" or "QTXVM fail LABEL"; a run that dies or hangs
// prints no pass line.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace runlight::vmguest {

// What a scenario may take before the guest gives up on it (s); one that
// waits for a port or line held by someone else would otherwise hang the run.
constexpr unsigned kScenarioSeconds = 20;

inline int g_failures = 0;
inline std::string g_label;

inline void check(bool ok, const std::string& what) {
    std::printf("QTXVM %s %s: %s\n", ok ? "ok" : "FAIL", g_label.c_str(), what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++g_failures;
    }
}

inline std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Starts the run of scenario `label`: SIGALRM ends it, without a pass line,
// if it hangs; and it must not run as root, or no permission is tested.
inline void startRun(const std::string& label) {
    g_label = label;
    ::alarm(kScenarioSeconds);
    check(::getuid() != 0 && ::geteuid() != 0,
          "runs as an ordinary user (uid " + std::to_string(::getuid()) + ")");
}

// Ends the run: its last line and the program's exit status.
inline int endRun() {
    std::printf("QTXVM %s %s\n", g_failures == 0 ? "pass" : "fail", g_label.c_str());
    return g_failures == 0 ? 0 : 1;
}

// Something held by someone else: a process of its own that runs `take` (which
// says whether it got hold of it), as a second program would, and keeps what
// it took until this object is destroyed.
class HeldElsewhere {
public:
    template <typename Take>
    explicit HeldElsewhere(Take take) {
        int ready[2];
        int release[2];
        if (::pipe(ready) < 0 || ::pipe(release) < 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const char taken = take() ? '1' : '0';
            (void)!::write(ready[1], &taken, 1);
            char ignored = 0;
            (void)!::read(release[0], &ignored, 1);  // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char taken = '0';
        m_holding = m_pid > 0 && ::read(ready[0], &taken, 1) == 1 && taken == '1';
        ::close(ready[0]);
    }
    ~HeldElsewhere() {
        if (m_release >= 0) {
            ::close(m_release);
        }
        if (m_pid > 0) {
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    HeldElsewhere(const HeldElsewhere&) = delete;
    HeldElsewhere& operator=(const HeldElsewhere&) = delete;

    bool holding() const { return m_holding; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_holding = false;
};

}  // namespace runlight::vmguest

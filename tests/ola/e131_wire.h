#pragma once

// E1.31 (sACN) on the wire, for the tests and the benchmark that run olad's
// E1.31 plugin in a network namespace of their own: the namespace set up
// (wire_namespace.sh on a namespace this process made with unshare), and a
// reader of every E1.31 packet on the capture end of the veth pair, from a
// raw AF_PACKET socket on a thread of its own.

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace runlight::testing {

// The address of olad's end of the pair, for its E1.31 plugin.
inline constexpr const char* kE131Ip = "127.1.0.1";

// Moves this process into a network namespace of its own and sets it up.
// Call before any thread starts (the namespace is the calling thread's; the
// threads and processes it starts later share it). Returns "" or why not,
// as "skip: ..." where this machine does not allow it.
inline std::string enterWireNamespace() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return std::string(
                   "skip: a network namespace of the test's own (unshare -n) needs "
                   "root: ") +
               std::strerror(errno);
    }
    const int status = std::system(WIRE_NAMESPACE_SCRIPT " 2>&1");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        return "skip: wire_namespace.sh cannot run here (see its output)";
    }
    if (status != 0) {
        return "wire_namespace.sh failed (see its output)";
    }
    return "";
}

// One E1.31 data packet as the capture end saw it.
struct E131Frame {
    std::chrono::steady_clock::time_point at;
    unsigned universe = 0;
    std::uint8_t sequence = 0;
    std::array<std::uint8_t, 512> slots{};  // DMX slots 1..512 (missing ones 0)
};

class E131Capture {
public:
    // Starts reading at once; `seen` (may be empty) runs on the reading
    // thread at each packet. error() says why not.
    explicit E131Capture(std::function<void(const E131Frame&)> seen = {})
        : m_seen(std::move(seen)) {
        m_socket = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
        const unsigned index = ::if_nametoindex("wire0");
        if (m_socket < 0 || index == 0) {
            m_error = std::string("no capture socket on wire0: ") + std::strerror(errno);
            return;
        }
        sockaddr_ll where{};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_IP);
        where.sll_ifindex = static_cast<int>(index);
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
            m_error = std::string("cannot bind to wire0: ") + std::strerror(errno);
            return;
        }
        m_thread = std::thread([this] { run(); });
    }
    ~E131Capture() {
        m_stopping = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_socket >= 0) {
            ::close(m_socket);
        }
    }
    E131Capture(const E131Capture&) = delete;
    E131Capture& operator=(const E131Capture&) = delete;

    const std::string& error() const { return m_error; }

    // Every packet of `universe` so far.
    std::vector<E131Frame> frames(unsigned universe) const {
        const std::lock_guard lock(m_mutex);
        std::vector<E131Frame> of;
        for (const auto& frame : m_frames) {
            if (frame.universe == universe) {
                of.push_back(frame);
            }
        }
        return of;
    }

    void clear() {
        const std::lock_guard lock(m_mutex);
        m_frames.clear();
    }

private:
    void run() {
        std::vector<std::uint8_t> packet(2048);
        while (!m_stopping) {
            pollfd wait{m_socket, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0) {
                continue;
            }
            const ssize_t size = ::recv(m_socket, packet.data(), packet.size(), 0);
            const auto at = std::chrono::steady_clock::now();
            if (size > 0) {
                take(packet.data(), static_cast<std::size_t>(size), at);
            }
        }
    }

    // An IPv4 packet (SOCK_DGRAM: no Ethernet header): UDP to port 5568,
    // E1.31's. In the UDP payload: sequence at 111, universe at 113..114,
    // start code at 125, the slots from 126.
    void take(const std::uint8_t* ip, std::size_t size, std::chrono::steady_clock::time_point at) {
        if (size < 20 || (ip[0] >> 4) != 4 || ip[9] != IPPROTO_UDP) {
            return;
        }
        const std::size_t header = (ip[0] & 0x0FU) * 4U;
        if (size < header + 8) {
            return;
        }
        const std::uint8_t* udp = ip + header;
        if (((udp[2] << 8) | udp[3]) != 5568) {
            return;
        }
        const std::uint8_t* payload = udp + 8;
        const std::size_t length = size - header - 8;
        if (length < 126 || payload[125] != 0) {  // only DMX data (start code 0)
            return;
        }
        E131Frame frame;
        frame.at = at;
        frame.sequence = payload[111];
        frame.universe = static_cast<unsigned>((payload[113] << 8) | payload[114]);
        for (std::size_t slot = 0; slot < 512 && 126 + slot < length; ++slot) {
            frame.slots[slot] = payload[126 + slot];
        }
        if (m_seen) {
            m_seen(frame);
        }
        const std::lock_guard lock(m_mutex);
        m_frames.push_back(frame);
    }

    std::function<void(const E131Frame&)> m_seen;
    int m_socket = -1;
    std::string m_error;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::vector<E131Frame> m_frames;
    std::thread m_thread;
};

}  // namespace runlight::testing

#include "ola_port.h"

#include <sys/eventfd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

#include <ola/DmxBuffer.h>

#include "ola_connection.h"
#include "ola_sender.h"

namespace runlight::portio::ola_backend {

std::string olaPortLabel(const OlaPortOptions& options) {
    char text[96];
    std::snprintf(text, sizeof text, "port %u (0x%X), OLA universe %u",
                  static_cast<unsigned>(options.address), static_cast<unsigned>(options.address),
                  options.universe);
    return text;
}

std::string universeProblem(const OlaPortOptions& options, const UniverseInfo& universe) {
    if (universe.exists && universe.outputPorts > 0) {
        return "";
    }
    const std::string number = std::to_string(options.universe);
    return "olad answers on " + oladdress(options.rpcPort) + ", but universe " + number +
           (universe.exists ? " has no output port" : " does not exist") +
           ", so nothing reaches a lamp; patch an output port to it: \"ola_dev_info\" lists "
           "devices and ports, then \"ola_patch -d DEVICE -p PORT -u " +
           number + "\" (or olad's web page, http://localhost:9090)";
}

void placeByte(std::uint8_t data, unsigned channel, std::uint8_t level, ola::DmxBuffer& frame) {
    for (unsigned bit = 0; bit < 8; ++bit) {
        const bool on = (data & (0x80U >> bit)) != 0;
        frame.SetChannel(channel - 1 + bit, on ? level : 0);
    }
}

namespace {
// The olads (by RPC port) that did not answer lately: why, and when a port
// last tried one. While olad is stopped, a program that goes on writing
// must not wait a second at every write; it waits kRetryOpenMs at most once
// every kRetryEveryMs, and its other writes fail at once.
struct Unanswered {
    std::chrono::steady_clock::time_point tried;
    std::string reason;
};
std::mutex g_unansweredMutex;
std::map<std::uint16_t, Unanswered> g_unanswered;
}  // namespace

void rememberUnanswered(std::uint16_t rpcPort, const std::string& reason) {
    const std::lock_guard lock(g_unansweredMutex);
    g_unanswered[rpcPort] = {std::chrono::steady_clock::now(), reason};
}

Result<std::unique_ptr<OlaPort>> OlaPort::open(const OlaPortOptions& options) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    int budgetMs = kOpenMs;
    {
        const std::lock_guard lock(g_unansweredMutex);
        if (const auto lately = g_unanswered.find(options.rpcPort); lately != g_unanswered.end()) {
            if (start - lately->second.tried < std::chrono::milliseconds(kRetryEveryMs)) {
                return fail(lately->second.reason + "; tried again once every " +
                            span(kRetryEveryMs));
            }
            lately->second.tried = start;
            budgetMs = kRetryOpenMs;
        }
    }
    const auto deadline = start + std::chrono::milliseconds(budgetMs);
    // Never starts olad: that is the user's choice.
    auto connection = OlaConnection::connect(options.rpcPort, budgetMs);
    if (!connection) {
        return fail(connection.error());
    }
    UniqueFd wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeFd) {
        return fail("cannot make an eventfd for the sender thread");
    }
    auto sender = std::make_unique<Sender>(options, std::move(*connection), std::move(wakeFd));
    bool answered = false;
    const std::string error = sender->awaitUniverse(deadline, budgetMs, answered);
    if (answered) {
        const std::lock_guard lock(g_unansweredMutex);
        g_unanswered.erase(options.rpcPort);
    } else {
        rememberUnanswered(options.rpcPort, error);
    }
    if (!error.empty()) {
        return fail(error);
    }
    return std::make_unique<OlaPort>(std::move(sender), olaPortLabel(options));
}

OlaPort::OlaPort(std::unique_ptr<Sender> sender, std::string label)
    : m_sender(std::move(sender)), m_label(std::move(label)) {}

OlaPort::~OlaPort() = default;

Result<void> OlaPort::write(std::uint8_t data) {
    return m_sender->write(data);
}

Result<std::uint8_t> OlaPort::read() {
    return m_sender->read();
}

}  // namespace runlight::portio::ola_backend

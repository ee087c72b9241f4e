#include "ola_port.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <ola/Callback.h>
#include <ola/Clock.h>
#include <ola/DmxBuffer.h>
#include <ola/client/ClientArgs.h>
#include <ola/client/ClientTypes.h>
#include <ola/client/OlaClient.h>
#include <ola/client/Result.h>
#include <ola/io/Descriptor.h>
#include <ola/io/SelectServer.h>

#include "ola_connection.h"

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
std::string hex(std::uint8_t data) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(data));
    return byte;
}

std::string span(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

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

void rememberUnanswered(std::uint16_t rpcPort, const std::string& reason) {
    const std::lock_guard lock(g_unansweredMutex);
    g_unanswered[rpcPort] = {std::chrono::steady_clock::now(), reason};
}
}  // namespace

// The one owner of the connection. Everything but the shared block runs on
// its thread only; write(), read() and the destructor touch only the shared
// block, under the mutex, and never the socket.
class OlaPort::Sender {
public:
    using Clock = std::chrono::steady_clock;

    Sender(const OlaPortOptions& options, std::unique_ptr<OlaConnection> connection, int wakeFd)
        : m_options(options),
          m_connection(std::move(connection)),
          m_wakeFd(wakeFd),
          m_wake(wakeFd) {
        m_frame.Blackout();  // 512 slots, all 0
        m_wake.SetOnData(ola::NewCallback(this, &Sender::onWake));
        m_connection->selectServer().AddReadDescriptor(&m_wake);
        m_thread = std::thread([this] { run(); });
    }

    ~Sender() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_flushUntil = Clock::now() + std::chrono::milliseconds(kFlushMs);
        }
        wake();
        m_ready.notify_all();
        m_thread.join();
        m_connection->selectServer().RemoveReadDescriptor(&m_wake);
        m_connection.reset();
        ::close(m_wakeFd);
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // Blocks until olad has said whether the universe has an output port, the
    // connection failed, or `deadline`. "" when it has one; false in
    // `answered` when olad said nothing.
    std::string awaitUniverse(Clock::time_point deadline, int budgetMs, bool& answered) {
        std::unique_lock lock(m_mutex);
        answered = m_ready.wait_until(lock, deadline,
                                      [this] { return m_universeKnown || !m_failure.empty(); });
        if (!m_failure.empty()) {
            return m_failure;
        }
        if (!answered) {
            return "olad on " + oladdress(m_options.rpcPort) +
                   " took the connection but did not answer within " + span(budgetMs) +
                   " (it is stopped or swamped)";
        }
        return m_universeProblem;
    }

    bool write(std::uint8_t data, std::string& error) {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_failure.empty()) {
                error = olaPortLabel(m_options) + ": " + m_failure + "; " + hex(data) +
                        " was not sent; " + m_fix;
                return false;
            }
            if (!m_universeProblem.empty()) {
                error = olaPortLabel(m_options) + ": " + m_universeProblem;
                return false;
            }
            if (m_pending.size() < kQueued) {
                m_pending.push_back(data);
            } else {
                m_pending.back() = data;  // olad is behind: the latest replaces the last unsent
            }
        }
        wake();
        return true;
    }

    bool read(std::uint8_t& data, std::string& error) {
        std::unique_lock lock(m_mutex);
        m_readWanted = true;
        m_readAnswered = false;
        lock.unlock();
        wake();
        lock.lock();
        m_ready.wait_for(lock, std::chrono::milliseconds(kFlushMs),
                         [this] { return m_readAnswered || !m_failure.empty(); });
        m_readWanted = false;
        if (!m_readAnswered || !m_readError.empty()) {
            error = olaPortLabel(m_options) + ": olad on " + oladdress(m_options.rpcPort) +
                    (m_readAnswered ? " could not say what the universe holds: " + m_readError
                                    : " did not answer");
            return false;
        }
        data = m_readByte;
        return true;
    }

private:
    void wake() const {
        const std::uint64_t one = 1;
        // Never blocks (the counter would have to reach 2^64 - 1).
        [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
    }

    void onWake() {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(m_wakeFd, &count, sizeof count);
    }

    void fail(const std::string& failure, const std::string& fix) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_failure.empty()) {
                m_failure = failure;
                m_fix = fix;
            }
        }
        m_ready.notify_all();
    }

    void run() {
        sendUntilDone();
        // The port is done (its writes fail from now on): wait to be let go.
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return m_stopping; });
    }

    // Sends until the port is let go (and has flushed) or fails.
    void sendUntilDone() {
        askUniverse(Clock::now());
        while (true) {
            m_connection->selectServer().RunOnce(ola::TimeInterval(0, kSliceUs));
            const auto now = Clock::now();
            bool stopping = false;
            bool flushed = false;
            std::array<std::uint8_t, kInFlight> bytes{};
            std::size_t count = 0;
            bool askRead = false;
            {
                const std::lock_guard lock(m_mutex);
                stopping = m_stopping;
                while (!m_pending.empty() && m_inFlight + static_cast<int>(count) < kInFlight) {
                    bytes[count++] = m_pending.front();
                    m_pending.pop_front();
                }
                askRead = m_readWanted && !m_readAsked && m_failure.empty();
                m_readAsked = m_readAsked || askRead;
                flushed = count == 0 && m_pending.empty() && m_inFlight == 0;
                if (stopping && (flushed || !m_failure.empty() || now >= m_flushUntil)) {
                    return;
                }
            }
            if (m_connection->closed()) {
                fail("olad on " + oladdress(m_options.rpcPort) +
                         " closed the connection (it stopped or was restarted)",
                     startOladHint() + ", and the next write connects afresh");
                return;
            }
            for (std::size_t i = 0; i < count; ++i) {  // in the order written
                placeByte(bytes[i], m_options.channel, m_options.level, m_frame);
                m_written = true;
                sendFrame(now);
            }
            if (count == 0 && m_written && m_options.keepAliveMs > 0 && m_inFlight < kInFlight &&
                now - m_lastSent >= std::chrono::milliseconds(m_options.keepAliveMs)) {
                sendFrame(now);  // the last frame written, again
            }
            if (m_inFlight > 0 && now - m_waitingSince > std::chrono::milliseconds(kStallMs)) {
                const std::string stalled = "olad is not taking frames (olad on " +
                                            oladdress(m_options.rpcPort) + " has taken none for " +
                                            span(kStallMs) + ": it is stopped or swamped)";
                rememberUnanswered(m_options.rpcPort, stalled);
                fail(stalled, "the next write connects afresh");
                return;
            }
            if (askRead) {
                m_connection->client().FetchDMX(m_options.universe,
                                                ola::NewSingleCallback(this, &Sender::onHeld));
            }
            if (!m_universeAsked && now >= m_nextUniverseCheck) {
                askUniverse(now);
            }
        }
    }

    void sendFrame(Clock::time_point now) {
        if (m_inFlight == 0) {
            m_waitingSince = now;
        }
        ++m_inFlight;
        m_lastSent = now;
        m_connection->client().SendDMX(
            m_options.universe, m_frame,
            ola::client::SendDMXArgs(ola::NewSingleCallback(this, &Sender::onTaken)));
    }

    void onTaken(const ola::client::Result& /*result*/) {
        m_waitingSince = Clock::now();
        --m_inFlight;
    }

    void askUniverse(Clock::time_point now) {
        m_universeAsked = true;
        m_nextUniverseCheck = now + std::chrono::milliseconds(kUniverseCheckMs);
        m_connection->client().FetchUniverseInfo(m_options.universe,
                                                 ola::NewSingleCallback(this, &Sender::onUniverse));
    }

    void onUniverse(const ola::client::Result& result, const ola::client::OlaUniverse& universe) {
        m_universeAsked = false;
        UniverseInfo info;
        info.exists = result.Success();
        if (info.exists) {
            info.outputPorts = universe.OutputPortCount();
        }
        {
            const std::lock_guard lock(m_mutex);
            m_universeKnown = true;
            m_universeProblem = universeProblem(m_options, info);
        }
        m_ready.notify_all();
    }

    void onHeld(const ola::client::Result& result, const ola::client::DMXMetadata& /*metadata*/,
                const ola::DmxBuffer& frame) {
        std::uint8_t byte = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (frame.Get(m_options.channel - 1 + bit) > 0) {
                byte = static_cast<std::uint8_t>(byte | (0x80U >> bit));
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            m_readAsked = false;
            m_readAnswered = true;
            m_readError = result.Success() ? "" : result.Error();
            m_readByte = byte;
        }
        m_ready.notify_all();
    }

    static constexpr int kSliceUs = 20000;  // the thread looks at the clock at least this often

    const OlaPortOptions m_options;

    // The thread's own.
    std::unique_ptr<OlaConnection> m_connection;
    const int m_wakeFd;  // eventfd: a write or the destructor wakes the thread
    ola::io::UnmanagedFileDescriptor m_wake;
    ola::DmxBuffer m_frame;
    bool m_written = false;            // a frame was written: the keep-alive runs
    int m_inFlight = 0;                // frames sent and not answered
    Clock::time_point m_lastSent;      // the last frame sent
    Clock::time_point m_waitingSince;  // since when olad answered nothing while frames wait
    bool m_universeAsked = false;      // a question about the universe is out
    Clock::time_point m_nextUniverseCheck;

    // Shared with write(), read() and the destructor.
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::uint8_t> m_pending;  // bytes written and not sent yet, at most kQueued
    std::string m_failure;               // why the port is done: "olad is not taking frames ..."
    std::string m_fix;                   // what to do about it
    bool m_universeKnown = false;
    std::string m_universeProblem;
    bool m_readWanted = false;
    bool m_readAsked = false;
    bool m_readAnswered = false;
    std::string m_readError;
    std::uint8_t m_readByte = 0;
    bool m_stopping = false;
    Clock::time_point m_flushUntil;

    std::thread m_thread;
};

std::unique_ptr<OlaPort> OlaPort::open(const OlaPortOptions& options, std::string& error) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    int budgetMs = kOpenMs;
    {
        const std::lock_guard lock(g_unansweredMutex);
        if (const auto lately = g_unanswered.find(options.rpcPort); lately != g_unanswered.end()) {
            if (start - lately->second.tried < std::chrono::milliseconds(kRetryEveryMs)) {
                error = olaPortLabel(options) + ": " + lately->second.reason +
                        "; tried again once every " + span(kRetryEveryMs);
                return nullptr;
            }
            lately->second.tried = start;
            budgetMs = kRetryOpenMs;
        }
    }
    const auto deadline = start + std::chrono::milliseconds(budgetMs);
    // Never starts olad: that is the user's choice.
    auto connection = OlaConnection::connect(options.rpcPort, error, budgetMs);
    if (!connection) {
        error = olaPortLabel(options) + ": " + error;
        return nullptr;
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        error = olaPortLabel(options) + ": cannot make an eventfd for the sender thread";
        return nullptr;
    }
    auto sender = std::make_unique<Sender>(options, std::move(connection), wakeFd);
    bool answered = false;
    error = sender->awaitUniverse(deadline, budgetMs, answered);
    if (answered) {
        const std::lock_guard lock(g_unansweredMutex);
        g_unanswered.erase(options.rpcPort);
    } else {
        rememberUnanswered(options.rpcPort, error);
    }
    if (!error.empty()) {
        error = olaPortLabel(options) + ": " + error;
        return nullptr;
    }
    return std::make_unique<OlaPort>(std::move(sender));
}

OlaPort::OlaPort(std::unique_ptr<Sender> sender) : m_sender(std::move(sender)) {}

OlaPort::~OlaPort() = default;

bool OlaPort::write(std::uint8_t data, std::string& error) {
    return m_sender->write(data, error);
}

bool OlaPort::read(std::uint8_t& data, std::string& error) {
    return m_sender->read(data, error);
}

}  // namespace runlight::portio::ola_backend

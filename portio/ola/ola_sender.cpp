#include "ola_sender.h"

#include <unistd.h>

#include <cstdio>

#include <ola/Callback.h>
#include <ola/Clock.h>
#include <ola/client/ClientArgs.h>
#include <ola/client/ClientTypes.h>
#include <ola/client/OlaClient.h>
#include <ola/client/Result.h>
#include <ola/io/SelectServer.h>

#include "ola_connection.h"

namespace runlight::portio::ola_backend {

namespace {
std::string hex(std::uint8_t data) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(data));
    return byte;
}
}  // namespace

std::string span(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

OlaPort::Sender::Sender(const OlaPortOptions& options, std::unique_ptr<OlaConnection> connection,
                        UniqueFd wakeFd)
    : m_options(options),
      m_connection(std::move(connection)),
      m_wakeFd(std::move(wakeFd)),
      m_wake(m_wakeFd.get()) {
    m_frame.Blackout();  // 512 slots, all 0
    m_wake.SetOnData(ola::NewCallback(this, &Sender::onWake));
    m_connection->selectServer().AddReadDescriptor(&m_wake);
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

OlaPort::Sender::~Sender() {
    m_thread.request_stop();  // run()'s stop callback wakes the thread
    m_thread.join();
    m_connection->selectServer().RemoveReadDescriptor(&m_wake);
    m_connection.reset();
}

std::string OlaPort::Sender::awaitUniverse(Clock::time_point deadline, int budgetMs,
                                           bool& answered) {
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

Result<void> OlaPort::Sender::write(std::uint8_t data) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_failure.empty()) {
            return fail(m_failure + "; " + hex(data) + " was not sent; " + m_fix);
        }
        if (!m_universeProblem.empty()) {
            return fail(m_universeProblem);
        }
        if (m_pending.size() < kQueued) {
            m_pending.push_back(data);
        } else {
            m_pending.back() = data;  // olad is behind: the latest replaces the last unsent
        }
    }
    wake();
    return {};
}

Result<std::uint8_t> OlaPort::Sender::read() {
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
        return fail("olad on " + oladdress(m_options.rpcPort) +
                    (m_readAnswered ? " could not say what the universe holds: " + m_readError
                                    : " did not answer"));
    }
    return m_readByte;
}

void OlaPort::Sender::wake() const {
    const std::uint64_t one = 1;
    // Never blocks (the counter would have to reach 2^64 - 1).
    [[maybe_unused]] const auto written = ::write(m_wakeFd.get(), &one, sizeof one);
}

void OlaPort::Sender::onWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(m_wakeFd.get(), &count, sizeof count);
}

void OlaPort::Sender::giveUp(const std::string& failure, const std::string& fix) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_failure.empty()) {
            m_failure = failure;
            m_fix = fix;
        }
    }
    m_ready.notify_all();
}

void OlaPort::Sender::run(std::stop_token stop) {
    // Runs in the stopping thread (or here, if that came first): the sender
    // flushes for kFlushMs at most, or leaves its wait below.
    const std::stop_callback stopped(stop, [this] {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_flushUntil = Clock::now() + std::chrono::milliseconds(kFlushMs);
        }
        wake();
        m_ready.notify_all();
    });
    sendUntilDone();
    // The port is done (its writes fail from now on): wait to be let go.
    std::unique_lock lock(m_mutex);
    m_ready.wait(lock, [this] { return m_stopping; });
}

void OlaPort::Sender::sendUntilDone() {
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
            giveUp("olad on " + oladdress(m_options.rpcPort) +
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
            giveUp(stalled, "the next write connects afresh");
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

void OlaPort::Sender::sendFrame(Clock::time_point now) {
    if (m_inFlight == 0) {
        m_waitingSince = now;
    }
    ++m_inFlight;
    m_lastSent = now;
    m_connection->client().SendDMX(
        m_options.universe, m_frame,
        ola::client::SendDMXArgs(ola::NewSingleCallback(this, &Sender::onTaken)));
}

void OlaPort::Sender::onTaken(const ola::client::Result& /*result*/) {
    m_waitingSince = Clock::now();
    --m_inFlight;
}

void OlaPort::Sender::askUniverse(Clock::time_point now) {
    m_universeAsked = true;
    m_nextUniverseCheck = now + std::chrono::milliseconds(kUniverseCheckMs);
    m_connection->client().FetchUniverseInfo(m_options.universe,
                                             ola::NewSingleCallback(this, &Sender::onUniverse));
}

void OlaPort::Sender::onUniverse(const ola::client::Result& result,
                                 const ola::client::OlaUniverse& universe) {
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

void OlaPort::Sender::onHeld(const ola::client::Result& result,
                             const ola::client::DMXMetadata& /*metadata*/,
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

}  // namespace runlight::portio::ola_backend

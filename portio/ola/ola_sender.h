#pragma once

// The thread behind one OLA port (see OlaPort): the one owner of the port's
// connection to olad. Everything but the shared block runs on its thread
// only; write(), read() and the destructor touch only the shared block,
// under the mutex, and never the socket.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include <ola/DmxBuffer.h>
#include <ola/io/Descriptor.h>

#include "ola_port.h"
#include "result.h"
#include "unique_fd.h"

namespace ola::client {
struct DMXMetadata;
class OlaUniverse;
class Result;
}  // namespace ola::client

namespace runlight::portio::ola_backend {

// "1 s", "100 ms"
std::string span(int ms);

// Notes that olad on `rpcPort` did not answer, for `reason` (see
// OlaPort::kRetryEveryMs). Kept by OlaPort::open(); any thread.
void rememberUnanswered(std::uint16_t rpcPort, const std::string& reason);

class OlaPort::Sender {
public:
    using Clock = std::chrono::steady_clock;

    // Starts the thread on `connection`; `wakeFd` (an eventfd) is how a
    // write or the destructor wakes it.
    Sender(const OlaPortOptions& options, std::unique_ptr<OlaConnection> connection,
           UniqueFd wakeFd);
    // Lets olad answer what was sent (at most kFlushMs), then stops the thread.
    ~Sender();
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // Blocks until olad has said whether the universe has an output port, the
    // connection failed, or `deadline`. "" when it has one; false in
    // `answered` when olad said nothing.
    std::string awaitUniverse(Clock::time_point deadline, int budgetMs, bool& answered);

    // As OlaPort::write() and read().
    Result<void> write(std::uint8_t data);
    Result<std::uint8_t> read();

private:
    void wake() const;
    void onWake();
    void giveUp(const std::string& failure, const std::string& fix);
    void run(std::stop_token stop);
    void sendUntilDone();  // until the port is let go (and has flushed) or fails
    void sendFrame(Clock::time_point now);
    void onTaken(const ola::client::Result& result);
    void askUniverse(Clock::time_point now);
    void onUniverse(const ola::client::Result& result, const ola::client::OlaUniverse& universe);
    void onHeld(const ola::client::Result& result, const ola::client::DMXMetadata& metadata,
                const ola::DmxBuffer& frame);

    static constexpr int kSliceUs = 20000;  // the thread looks at the clock at least this often

    const OlaPortOptions m_options;

    // The thread's own.
    std::unique_ptr<OlaConnection> m_connection;
    const UniqueFd m_wakeFd;  // eventfd: a write or the destructor wakes the thread
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
    bool m_stopping = false;  // set by the stop callback (see run())
    Clock::time_point m_flushUntil;

    std::jthread m_thread;
};

}  // namespace runlight::portio::ola_backend

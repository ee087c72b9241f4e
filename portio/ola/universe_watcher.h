#pragma once

// Watches eight channels of an OLA universe as olad holds them (merged from
// every source), from a client registered for the universe, on a thread of
// its own. While olad cannot be reached it says so and tries again every
// kRetryMs. No Qt: the lamp monitor shows what it sees, the benchmark times
// it, the tests read the universe back through it.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace ola {
class DmxBuffer;
namespace io {
class SelectServer;
}
namespace client {
struct DMXMetadata;
class Result;
}  // namespace client
}  // namespace ola

namespace runlight::portio::ola_backend {

class UniverseWatcher {
public:
    static constexpr int kRetryMs = 1000;
    using Clock = std::chrono::steady_clock;
    using Channels = std::array<std::uint8_t, 8>;  // first channel .. first + 7

    struct Snapshot {
        bool connected = false;    // registered with olad right now
        std::string problem;       // why not, when not: "cannot connect to olad on ..."
        Channels channels{};       // the latest values (all 0 before any frame)
        std::uint64_t frames = 0;  // frames olad has sent since the start
    };

    // `changed` runs on the watcher thread after every change of the
    // snapshot; `frame` (may be empty) runs there at every frame from olad,
    // with the time it arrived. Starts at once.
    UniverseWatcher(std::uint16_t rpcPort, unsigned universe, unsigned firstChannel,
                    std::function<void()> changed,
                    std::function<void(const Channels&, Clock::time_point)> frame = {});
    ~UniverseWatcher();
    UniverseWatcher(const UniverseWatcher&) = delete;
    UniverseWatcher& operator=(const UniverseWatcher&) = delete;

    Snapshot snapshot() const;
    // Blocks until `accept` holds for the snapshot or `timeoutMs` (ms) passed;
    // returns whether it held.
    bool waitFor(const std::function<bool(const Snapshot&)>& accept, int timeoutMs) const;

    std::uint16_t rpcPort() const { return m_rpcPort; }
    unsigned universe() const { return m_universe; }
    unsigned firstChannel() const { return m_firstChannel; }

private:
    void run(std::stop_token stop);
    void update(const std::function<void(Snapshot&)>& change);
    void onDmx(const ola::client::DMXMetadata& metadata, const ola::DmxBuffer& data);
    void onFetched(const ola::client::Result& result, const ola::client::DMXMetadata& metadata,
                   const ola::DmxBuffer& data);
    void onRegistered(const ola::client::Result& result);

    const std::uint16_t m_rpcPort;
    const unsigned m_universe;
    const unsigned m_firstChannel;
    std::function<void()> m_changed;
    std::function<void(const Channels&, Clock::time_point)> m_frame;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    Snapshot m_snapshot;
    bool m_stopping = false;                     // set by the stop callback (see run())
    ola::io::SelectServer* m_running = nullptr;  // the select server now running, for stopping it
    std::jthread m_thread;
};

}  // namespace runlight::portio::ola_backend

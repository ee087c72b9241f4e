#include "universe_watcher.h"

#include <ola/Callback.h>
#include <ola/DmxBuffer.h>
#include <ola/client/ClientArgs.h>
#include <ola/client/ClientTypes.h>
#include <ola/client/OlaClient.h>
#include <ola/client/Result.h>
#include <ola/io/SelectServer.h>

#include "ola_connection.h"

namespace runlight::portio::ola_backend {

UniverseWatcher::UniverseWatcher(std::uint16_t rpcPort, unsigned universe, unsigned firstChannel,
                                 std::function<void()> changed,
                                 std::function<void(const Channels&, Clock::time_point)> frame)
    : m_rpcPort(rpcPort),
      m_universe(universe),
      m_firstChannel(firstChannel),
      m_changed(std::move(changed)),
      m_frame(std::move(frame)) {
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

UniverseWatcher::~UniverseWatcher() {
    m_thread.request_stop();  // run()'s stop callback wakes the thread
    m_thread.join();
}

UniverseWatcher::Snapshot UniverseWatcher::snapshot() const {
    const std::lock_guard lock(m_mutex);
    return m_snapshot;
}

bool UniverseWatcher::waitFor(const std::function<bool(const Snapshot&)>& accept,
                              int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return accept(m_snapshot); });
}

void UniverseWatcher::update(const std::function<void(Snapshot&)>& change) {
    {
        const std::lock_guard lock(m_mutex);
        change(m_snapshot);
    }
    m_wake.notify_all();
    if (m_changed) {
        m_changed();
    }
}

void UniverseWatcher::run(std::stop_token stop) {
    // Runs in the stopping thread (or here, if that came first).
    const std::stop_callback stopped(stop, [this] {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
            if (m_running != nullptr) {
                m_running->Terminate();  // may be called from any thread
            }
        }
        m_wake.notify_all();
    });
    while (true) {
        auto connected = OlaConnection::connect(m_rpcPort);
        std::string error = connected ? "" : connected.error();
        if (connected) {
            const auto& connection = *connected;
            connection->client().SetDMXCallback(ola::NewCallback(this, &UniverseWatcher::onDmx));
            connection->client().RegisterUniverse(
                m_universe, ola::client::REGISTER,
                ola::NewSingleCallback(this, &UniverseWatcher::onRegistered));
            connection->client().FetchDMX(
                m_universe, ola::NewSingleCallback(this, &UniverseWatcher::onFetched));
            {
                const std::lock_guard lock(m_mutex);
                if (m_stopping) {
                    return;
                }
                m_running = &connection->selectServer();
            }
            connection->selectServer().Run();  // until olad goes or we stop
            {
                const std::lock_guard lock(m_mutex);
                m_running = nullptr;
                if (m_stopping) {
                    return;
                }
            }
            error =
                "olad on " + oladdress(m_rpcPort) + " closed the connection; " + startOladHint();
        }
        update([&](Snapshot& snapshot) {
            snapshot.connected = false;
            snapshot.problem = error;
        });
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, std::chrono::milliseconds(kRetryMs),
                            [this] { return m_stopping; })) {
            return;
        }
    }
}

void UniverseWatcher::onRegistered(const ola::client::Result& result) {
    update([&](Snapshot& snapshot) {
        snapshot.connected = result.Success();
        snapshot.problem = result.Success()
                               ? ""
                               : "olad refused to register for universe " +
                                     std::to_string(m_universe) + ": " + result.Error();
    });
}

void UniverseWatcher::onFetched(const ola::client::Result& result,
                                const ola::client::DMXMetadata& metadata,
                                const ola::DmxBuffer& data) {
    if (result.Success()) {
        onDmx(metadata, data);
    }
}

void UniverseWatcher::onDmx(const ola::client::DMXMetadata& metadata, const ola::DmxBuffer& data) {
    const auto arrived = Clock::now();
    if (metadata.universe != m_universe) {
        return;
    }
    Channels channels{};
    for (unsigned i = 0; i < channels.size(); ++i) {
        channels[i] = data.Get(m_firstChannel - 1 + i);  // 0 beyond the frame's end
    }
    if (m_frame) {
        m_frame(channels, arrived);
    }
    update([&](Snapshot& snapshot) {
        snapshot.channels = channels;
        ++snapshot.frames;
    });
}

}  // namespace runlight::portio::ola_backend

#pragma once

#include <QString>
#include <QVariant>
#include <string>
#include <utility>

#include "realtime_request.h"

class QDBusMessage;

namespace runlight::ui {

// RealtimeKit (org.freedesktop.RealtimeKit1) on the system bus, through Qt
// D-Bus. Each call waits kTimeoutMs at most; nothing is asked of the bus
// before the first call.
class SystemBusRealtimeKit final : public realtime::RealtimeKit {
public:
    static constexpr int kTimeoutMs = 1000;

    // `busAddress` empty: the system bus; tests give a bus of their own.
    explicit SystemBusRealtimeKit(QString busAddress = {}) : m_busAddress(std::move(busAddress)) {}

    std::string limits(Limits& limits) override;
    std::string makeThreadRealtime(std::uint64_t threadId, std::uint32_t priority) override;

private:
    // Sends `call`; empty when it was answered, otherwise why not.
    std::string send(const QDBusMessage& call, QDBusMessage& reply) const;
    // One of RealtimeKit's properties; empty when read, otherwise why not.
    std::string property(const QString& name, QVariant& value) const;

    QString m_busAddress;
};

}  // namespace runlight::ui

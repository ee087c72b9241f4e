#pragma once

#include <QString>
#include <QVariant>
#include <string>

#include "realtime_request.h"

namespace runlight::ui {

// RealtimeKit (org.freedesktop.RealtimeKit1) on the system bus, through Qt
// D-Bus. Each call waits kTimeoutMs at most; nothing is asked of the bus
// before the first call.
class SystemBusRealtimeKit final : public realtime::RealtimeKit {
public:
    static constexpr int kTimeoutMs = 1000;

    std::string limits(Limits& limits) override;
    std::string makeThreadRealtime(std::uint64_t threadId, std::uint32_t priority) override;

private:
    // One of RealtimeKit's properties; empty when read, otherwise why not.
    static std::string property(const QString& name, QVariant& value);
};

}  // namespace runlight::ui

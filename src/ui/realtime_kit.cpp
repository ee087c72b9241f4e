#include "realtime_kit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace runlight::ui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

}  // namespace

std::string SystemBusRealtimeKit::send(const QDBusMessage& call, QDBusMessage& reply) const {
    QDBusConnection bus =
        m_busAddress.isEmpty()
            ? QDBusConnection::systemBus()
            : QDBusConnection::connectToBus(m_busAddress, QStringLiteral("qtx-realtimekit"));
    if (!bus.isConnected()) {
        return "no system bus for RealtimeKit";
    }
    reply = bus.call(call, QDBus::Block, SystemBusRealtimeKit::kTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {};
    }
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return "RealtimeKit not on the system bus";
    }
    return "RealtimeKit: " + reply.errorMessage().toStdString() + " (" + name.toStdString() + ")";
}

std::string SystemBusRealtimeKit::property(const QString& name, QVariant& value) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kService << name;
    QDBusMessage reply;
    if (std::string why = send(call, reply); !why.empty()) {
        return why;
    }
    value = reply.arguments().value(0).value<QDBusVariant>().variant();
    if (!value.isValid()) {
        return "RealtimeKit: no " + name.toStdString();
    }
    return {};
}

std::string SystemBusRealtimeKit::limits(Limits& limits) {
    QVariant priority;
    QVariant rtTime;
    if (std::string why = property(QStringLiteral("MaxRealtimePriority"), priority); !why.empty()) {
        return why;
    }
    if (std::string why = property(QStringLiteral("RTTimeUSecMax"), rtTime); !why.empty()) {
        return why;
    }
    limits.maxRealtimePriority = priority.toInt();
    limits.rtTimeUSecMax = rtTime.toLongLong();
    return {};
}

std::string SystemBusRealtimeKit::makeThreadRealtime(std::uint64_t threadId,
                                                     std::uint32_t priority) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                       QStringLiteral("MakeThreadRealtime"));
    // D-Bus types t and u.
    call << QVariant::fromValue(static_cast<qulonglong>(threadId))
         << QVariant::fromValue(static_cast<uint>(priority));
    QDBusMessage reply;
    return send(call, reply);
}

}  // namespace runlight::ui

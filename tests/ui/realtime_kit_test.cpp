// RealtimeKit over D-Bus, against a RealtimeKit of the test's own on a
// private bus (a dbus-daemon the test starts and stops): what goes over the
// wire, and what a refusal and an absent RealtimeKit come back as.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>

#include "realtime_kit.h"

namespace runlight::ui {
namespace {

const QString kName = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

// RealtimeKit as the test wants it: its two limits, and MakeThreadRealtime
// remembered (or refused). Runs on a thread of its own, so it answers while
// the caller waits.
class FakeRealtimeKit final : public QDBusVirtualObject {
public:
    std::mutex mutex;
    QString signature;  // of the last MakeThreadRealtime
    QVariantList arguments;
    std::atomic<bool> refuse{false};

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QDBusMessage reply;
        if (message.member() == QLatin1String("Get") && message.arguments().size() == 2 &&
            message.arguments().at(0).toString() == kName) {
            const QString property = message.arguments().at(1).toString();
            if (property == QLatin1String("MaxRealtimePriority")) {
                reply = message.createReply(QVariant::fromValue(QDBusVariant(QVariant(7))));
            } else if (property == QLatin1String("RTTimeUSecMax")) {
                reply = message.createReply(
                    QVariant::fromValue(QDBusVariant(QVariant(qlonglong{200'000}))));
            }
        } else if (message.member() == QLatin1String("MakeThreadRealtime") &&
                   message.interface() == kName) {
            const std::lock_guard lock(mutex);
            signature = message.signature();
            arguments = message.arguments();
            reply = refuse ? message.createErrorReply(
                                 QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                 QStringLiteral("Operation not permitted"))
                           : message.createReply();
        }
        if (reply.type() == QDBusMessage::InvalidMessage) {
            reply = message.createErrorReply(QDBusError::UnknownMethod, message.member());
        }
        return connection.send(reply);
    }
};

class RealtimeKitOnAPrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            GTEST_SKIP() << "no dbus-daemon (package dbus-daemon)";
        }
        ASSERT_TRUE(m_folder.isValid());
        m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address"),
                                QStringLiteral("--address=unix:path=") + m_folder.path() +
                                    QStringLiteral("/bus")});
        ASSERT_TRUE(m_daemon.waitForStarted(5000));
        ASSERT_TRUE(m_daemon.waitForReadyRead(5000)) << "dbus-daemon printed no address";
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        m_thread.start();
        m_fake->moveToThread(&m_thread);
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(m_address, QStringLiteral("fake-realtimekit")));
        ASSERT_TRUE(m_bus->isConnected());
        ASSERT_TRUE(m_bus->registerVirtualObject(kPath, m_fake.get()));
        ASSERT_TRUE(m_bus->registerService(kName));
    }
    void TearDown() override {
        if (m_bus) {
            m_bus->unregisterObject(kPath);
            m_bus.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-realtimekit"));
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("qtx-realtimekit"));
        m_thread.quit();
        m_thread.wait();
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();  // its own process id
            m_daemon.waitForFinished(5000);
        }
    }

    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    QThread m_thread;
    std::unique_ptr<FakeRealtimeKit> m_fake = std::make_unique<FakeRealtimeKit>();
    std::unique_ptr<QDBusConnection> m_bus;
};

TEST_F(RealtimeKitOnAPrivateBus, ReadsTheLimitsAndAsksForTheThreadWithTheTypesRealtimeKitTakes) {
    SystemBusRealtimeKit kit{m_address};
    realtime::RealtimeKit::Limits limits;
    ASSERT_EQ(kit.limits(limits), "");
    EXPECT_EQ(limits.maxRealtimePriority, 7);
    EXPECT_EQ(limits.rtTimeUSecMax, 200'000);

    EXPECT_EQ(kit.makeThreadRealtime(123'456, 7), "");
    {
        const std::lock_guard lock(m_fake->mutex);
        EXPECT_EQ(m_fake->signature, QStringLiteral("tu")) << "thread id uint64, priority uint32";
        ASSERT_EQ(m_fake->arguments.size(), 2);
        EXPECT_EQ(m_fake->arguments.at(0).toULongLong(), 123'456U);
        EXPECT_EQ(m_fake->arguments.at(1).toUInt(), 7U);
    }

    m_fake->refuse = true;
    EXPECT_EQ(kit.makeThreadRealtime(123'456, 7),
              "RealtimeKit: Operation not permitted (org.freedesktop.DBus.Error.AccessDenied)");

    ASSERT_TRUE(m_bus->unregisterService(kName));
    EXPECT_EQ(kit.limits(limits), "RealtimeKit not on the system bus");
}

}  // namespace
}  // namespace runlight::ui

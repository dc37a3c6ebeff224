// A session bus of a test's own (a dbus-daemon on a socket in a scratch folder, with no service
// that could be started on demand), and a stand-in for the desktop's notification service on it
// that records what it is told.
//
// Threads: the test's main thread; the stand-in answers while the test spins the event loop.
#pragma once

#include "Support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        const QString folder = makeTempDir(QStringLiteral("bus"));
        m_socket = folder + QStringLiteral("/socket");
        m_address = QStringLiteral("unix:path=%1").arg(m_socket);
        writeFile(folder + QStringLiteral("/bus.conf"),
                  QStringLiteral("<busconfig><type>session</type><listen>%1</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                      .arg(m_address)
                      .toUtf8());
        m_daemon = std::make_unique<ChildProcess>(
            QStringList{QStringLiteral("--config-file=%1/bus.conf").arg(folder), QStringLiteral("--nofork")},
            QHash<QString, QString>{}, QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")));
    }
    ~PrivateSessionBus()
    {
        for (const QString& name : std::as_const(m_names))
            QDBusConnection::disconnectFromBus(name);
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // The value a program is given as DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }
    // A new connection of this process to the bus, once the daemon accepts one.
    QDBusConnection connect(const QString& name)
    {
        m_names << name;
        // The daemon makes its socket a moment before it accepts on it, and a connection
        // refused then stays refused under its name: each try starts anew.
        QString refusal = QStringLiteral("no socket");
        const bool accepted = spinUntil([&] {
            if (!QFileInfo::exists(m_socket))
                return false;
            const QDBusConnection connection = QDBusConnection::connectToBus(m_address, name);
            if (connection.isConnected())
                return true;
            refusal = connection.lastError().message();
            QDBusConnection::disconnectFromBus(name);
            return false;
        });
        EXPECT_TRUE(accepted) << "the bus never accepted a connection: " << refusal.toStdString();
        return QDBusConnection(name);
    }

private:
    QString m_socket;
    QString m_address;
    std::unique_ptr<ChildProcess> m_daemon;
    QStringList m_names;
};

class FakeNotificationService : public QDBusVirtualObject {
public:
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

    // Each notice as "application|summary|body".
    QStringList received;
    // What the service says it can do when asked.
    QStringList capabilities{QStringLiteral("body")};

    // Takes the service's name and path on connection.
    bool serveOn(QDBusConnection& connection)
    {
        return connection.registerVirtualObject(kPath, this) && connection.registerService(kService);
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QLatin1String("GetCapabilities")) {
            connection.send(message.createReply(QVariant::fromValue(capabilities)));
            return true;
        }
        if (message.member() != QLatin1String("Notify"))
            return false;
        const QVariantList a = message.arguments();
        received << QStringLiteral("%1|%2|%3").arg(a.value(0).toString(), a.value(3).toString(), a.value(4).toString());
        connection.send(message.createReply(QVariant::fromValue(uint(received.size()))));
        return true;
    }
};

} // namespace testsupport

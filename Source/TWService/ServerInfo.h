// One running copy of the program found on the local network: where its data server listens,
// who runs it and the small picture it offers.
#pragma once

#include <QImage>
#include <QString>
#include <mutex>

class ServerInfo {
public:
    ServerInfo(QString address, quint16 dataPort, QString serverName = {}, QString guid = {})
        : m_address(std::move(address)), m_dataPort(dataPort), m_serverName(std::move(serverName)),
          m_guid(std::move(guid))
    {
    }

    // As found by browsing: the service's name and its resolved port (where dataPort starts).
    ServerInfo(QString serviceName, QString address, quint16 port, QString serverName, QString guid)
        : ServerInfo(std::move(address), port, std::move(serverName), std::move(guid))
    {
        m_serviceName = std::move(serviceName);
        m_port = port;
    }

    QString serviceName() const { return m_serviceName; }
    quint16 port() const { return m_port; }
    QString address() const { return m_address; } // dotted IPv4 text
    QString serverName() const { return m_serverName; }
    QString guid() const { return m_guid; }

    quint16 dataPort() const
    {
        std::lock_guard lock(m_mutex);
        return m_dataPort;
    }
    void setDataPort(quint16 port)
    {
        std::lock_guard lock(m_mutex);
        m_dataPort = port;
    }

    QImage icon() const
    {
        std::lock_guard lock(m_mutex);
        return m_icon;
    }
    void setIcon(const QImage& icon)
    {
        std::lock_guard lock(m_mutex);
        m_icon = icon;
    }

private:
    const QString m_address;
    mutable std::mutex m_mutex; // guards the port and icon, which the peer browser and requests update
    quint16 m_dataPort;
    const QString m_serverName;
    const QString m_guid;
    QString m_serviceName; // set only by the browsing constructor
    quint16 m_port = 0;
    QImage m_icon;
};

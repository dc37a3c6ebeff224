// A network service as the program sees it: published by one running copy (or a log viewer),
// found by browsing its type, and resolved to a host, addresses and a port.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>

namespace platform {

struct NetService {
    QString name;
    QString type;                  // "_foli2_s._tcp" (a trailing dot is accepted and dropped)
    QString domain = QStringLiteral("local.");
    QString hostName;              // filled by resolving
    QList<QHostAddress> addresses; // filled by resolving
    quint16 port = 0;
    QMap<QString, QByteArray> txt; // TXT record keys and values
    // The service runs on this machine (same-host record, or a resolved loopback/own address).
    bool isLocal = false;

    // Browsing reports a service once per name, type and domain.
    QString key() const { return type + QLatin1Char('|') + domain + QLatin1Char('|') + name; }

    static QString normalizedType(const QString& type);
};

} // namespace platform

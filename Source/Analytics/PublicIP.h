// This computer's public address, read from an echo page over plain HTTP once per run. With no
// page configured (the default) nothing is fetched and the answer is empty.
//
// Threads: the cached address is guarded by one lock; the fetch runs on the caller's thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class PublicIP {
public:
    static QString getIPAddress();
    // The word after "Address:" in the page's text with its tags taken out; none when the
    // page holds no such word. Only the first 64 KiB are read: an echo page is small.
    static std::optional<QString> addressFromEchoPage(const QString& text);
    static void resetCacheForTesting();
};

// Where the unused tracking path would talk to, and the clock, random source, screen and sleep
// it reads. The hosts come from the build (empty by default: nothing is fetched); tests point
// them at loopback and fix the rest.
//
// Threads: set before any tracking operation runs; read under its lock.
#pragma once

#include <QSize>
#include <QString>
#include <QUrl>
#include <functional>

struct AnalyticsConfiguration {
    QString collectionHost;
    QUrl publicIPURL;
    std::function<double()> now;        // seconds since 1970
    std::function<quint32()> random;    // below 1000000000
    std::function<QSize()> screenSize;  // the primary screen; 0x0 without a display
    std::function<void(double)> sleep;  // seconds

    // The build's hosts and the real clock, random source, screen and sleep.
    static AnalyticsConfiguration defaults();
    static AnalyticsConfiguration current();
    static void setCurrent(const AnalyticsConfiguration& configuration);
};

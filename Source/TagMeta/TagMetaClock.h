// The one "now" of the TagMeta layer: time stamps, backup dates and the month folders all ask
// it, so tests can place a run in any month or step time across the 2-second rules.
//
// Threads: any; the override is set by tests before they start TagMeta work.
#pragma once

#include <QDateTime>
#include <functional>

class TagMetaClock {
public:
    // The current time in UTC, or the override's.
    static QDateTime now();
    // An empty function restores the system clock.
    static void setNowForTesting(std::function<QDateTime()> now);

    TagMetaClock() = delete;
};

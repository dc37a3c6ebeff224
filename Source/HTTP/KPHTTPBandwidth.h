// The process-wide bandwidth limit of the HTTP client, measured over one-second windows, and
// the clock the client reads for time-outs and throttling (tests set a virtual one).
//
// Threads: every figure is guarded by one lock (the bandwidth lock); the clock function is
// set before requests run.
#pragma once

#include <QtGlobal>
#include <functional>
#include <optional>
#include <vector>

class KPHTTPBandwidth {
public:
    // Seconds on a monotonic clock; tests replace it. An empty function restores the real one.
    static double now();
    static void setClockForTesting(std::function<double()> clock);

    static bool isBandwidthThrottled();
    static quint64 maxBandwidthPerSecond();
    static void setMaxBandwidthPerSecond(quint64 bytes);
    static void incrementBandwidthUsedInLastSecond(quint64 bytes);
    static quint64 averageBandwidthUsedPerSecond();
    static void measureBandwidthUsage();
    static quint64 maxUploadReadLength();
    // The largest download read now allowed, at most normalSize and at least 1.
    static qint64 throttledReadLength(qint64 normalSize);
    // The time before which throttled streams are not read from again; none while unset.
    static std::optional<double> throttleWakeUpTime();

    // Figures for tests: the window's usage, the end of the window and the record.
    static quint64 bandwidthUsedInLastSecond();
    static std::optional<double> measurementDate();
    static std::vector<quint64> bandwidthUsageRecord();
    // Back to the start: no maximum, no figures.
    static void resetForTesting();
};

#include "HTTP/KPHTTPBandwidth.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <numeric>

namespace {

struct Figures {
    quint64 maximum = 0;
    quint64 usedInLastSecond = 0;
    std::optional<double> measurementDate;
    std::vector<quint64> record;
    quint64 average = 0;
    std::optional<double> wakeUpTime;
};

std::mutex& bandwidthLock()
{
    static std::mutex m;
    return m;
}

Figures& figures()
{
    static Figures f;
    return f;
}

std::function<double()>& clockFunction()
{
    static std::function<double()> clock;
    return clock;
}

// Runs inside the bandwidth lock.
void recordBandwidthUsage(Figures& f, double now)
{
    if (f.usedInLastSecond == 0) {
        f.record.clear();
    } else {
        // One entry for each second, whole or begun, since the window ended.
        qint64 stale = f.measurementDate ? qint64(std::ceil(now - *f.measurementDate)) : 0;
        while (!f.record.empty() && (stale > 0 || f.record.size() > 5)) {
            f.record.erase(f.record.begin());
            --stale;
        }
    }
    f.record.push_back(f.usedInLastSecond);
    f.measurementDate = now + 1.0;
    f.usedInLastSecond = 0;
    f.average = std::accumulate(f.record.begin(), f.record.end(), quint64(0)) / f.record.size();
}

void measure(Figures& f, double now)
{
    if (!f.measurementDate || *f.measurementDate <= now)
        recordBandwidthUsage(f, now);
    if (f.maximum && f.usedInLastSecond > f.maximum)
        f.wakeUpTime = *f.measurementDate + double(f.usedInLastSecond - f.maximum) / double(f.maximum);
}

} // namespace

double KPHTTPBandwidth::now()
{
    if (const auto& clock = clockFunction())
        return clock();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void KPHTTPBandwidth::setClockForTesting(std::function<double()> clock)
{
    clockFunction() = std::move(clock);
}

bool KPHTTPBandwidth::isBandwidthThrottled()
{
    std::lock_guard lock(bandwidthLock());
    return figures().maximum != 0;
}

quint64 KPHTTPBandwidth::maxBandwidthPerSecond()
{
    std::lock_guard lock(bandwidthLock());
    return figures().maximum;
}

void KPHTTPBandwidth::setMaxBandwidthPerSecond(quint64 bytes)
{
    std::lock_guard lock(bandwidthLock());
    figures().maximum = bytes;
}

void KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(quint64 bytes)
{
    std::lock_guard lock(bandwidthLock());
    figures().usedInLastSecond += bytes;
}

quint64 KPHTTPBandwidth::averageBandwidthUsedPerSecond()
{
    std::lock_guard lock(bandwidthLock());
    return figures().average;
}

void KPHTTPBandwidth::measureBandwidthUsage()
{
    const double t = now();
    std::lock_guard lock(bandwidthLock());
    measure(figures(), t);
}

quint64 KPHTTPBandwidth::maxUploadReadLength()
{
    const double t = now();
    std::lock_guard lock(bandwidthLock());
    Figures& f = figures();
    quint64 allowance = f.maximum / 4;
    if (f.maximum && f.usedInLastSecond + allowance > f.maximum)
        allowance = f.usedInLastSecond < f.maximum ? f.maximum - f.usedInLastSecond : 0;
    if (allowance && f.measurementDate && *f.measurementDate > t)
        return allowance;
    f.wakeUpTime = f.measurementDate;
    return allowance;
}

qint64 KPHTTPBandwidth::throttledReadLength(qint64 normalSize)
{
    std::lock_guard lock(bandwidthLock());
    const Figures& f = figures();
    if (!f.maximum)
        return normalSize;
    if (f.usedInLastSecond > f.maximum)
        return 1;
    const qint64 quarter = qint64((f.maximum - f.usedInLastSecond) / 4);
    return std::max<qint64>(1, std::min<qint64>(quarter, normalSize));
}

std::optional<double> KPHTTPBandwidth::throttleWakeUpTime()
{
    std::lock_guard lock(bandwidthLock());
    return figures().wakeUpTime;
}

quint64 KPHTTPBandwidth::bandwidthUsedInLastSecond()
{
    std::lock_guard lock(bandwidthLock());
    return figures().usedInLastSecond;
}

std::optional<double> KPHTTPBandwidth::measurementDate()
{
    std::lock_guard lock(bandwidthLock());
    return figures().measurementDate;
}

std::vector<quint64> KPHTTPBandwidth::bandwidthUsageRecord()
{
    std::lock_guard lock(bandwidthLock());
    return figures().record;
}

void KPHTTPBandwidth::resetForTesting()
{
    std::lock_guard lock(bandwidthLock());
    figures() = Figures{};
}

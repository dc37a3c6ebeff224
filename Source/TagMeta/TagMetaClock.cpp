#include "TagMeta/TagMetaClock.h"

#include <mutex>

namespace {

std::mutex& clockLock()
{
    static std::mutex lock;
    return lock;
}

std::function<QDateTime()>& clockOverride()
{
    static std::function<QDateTime()> override;
    return override;
}

} // namespace

QDateTime TagMetaClock::now()
{
    std::function<QDateTime()> override;
    {
        std::lock_guard lock(clockLock());
        override = clockOverride();
    }
    return override ? override().toUTC() : QDateTime::currentDateTimeUtc();
}

void TagMetaClock::setNowForTesting(std::function<QDateTime()> now)
{
    std::lock_guard lock(clockLock());
    clockOverride() = std::move(now);
}

#include "TagMeta/TagMetaPrefs.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "TagMeta/TagMetaClock.h"

#include <QDir>
#include <QHash>
#include <mutex>
#include <optional>

namespace {

std::mutex g_syncLock;
std::optional<QDateTime> g_lastSync;

} // namespace

platform::UserDefaults& TagMetaPrefs::sharedDomain()
{
    // Beside the program's own settings but in a folder of the shared name, where other
    // TagMeta programs look for it.
    static platform::UserDefaults* domain = [] {
        const QString folder = platform::Paths::configHome() + QStringLiteral("/TagMeta");
        QDir().mkpath(folder);
        return new platform::UserDefaults(kDomain, folder + QLatin1Char('/') + kDomain + QStringLiteral(".plist"));
    }();
    return *domain;
}

void TagMetaPrefs::synchPrefs()
{
    sharedDomain().synchronize();
}

void TagMetaPrefs::synchPrefsIfItsBeenAWhile()
{
    const QDateTime now = TagMetaClock::now();
    {
        std::lock_guard lock(g_syncLock);
        if (g_lastSync && std::llabs(g_lastSync->msecsTo(now)) < qint64(kSyncIntervalSeconds * 1000.0))
            return;
        g_lastSync = now;
    }
    synchPrefs();
}

QStringList TagMetaPrefs::recentTags()
{
    synchPrefsIfItsBeenAWhile();
    QStringList tags;
    for (const QVariant& value : sharedDomain().arrayForKey(kRecentTagsKey)) {
        if (value.typeId() == QMetaType::QString)
            tags.append(value.toString());
    }
    return tags;
}

void TagMetaPrefs::updatePrefsRecentTags(const QStringList& oldTags, const QStringList& newTags)
{
    QStringList added;
    for (const QString& tag : newTags) {
        if (!oldTags.contains(tag))
            added.append(tag);
    }
    if (added.isEmpty())
        return;

    synchPrefs();
    QStringList stored;
    for (const QVariant& value : sharedDomain().arrayForKey(kRecentTagsKey)) {
        if (value.typeId() == QMetaType::QString)
            stored.append(value.toString());
    }

    QHash<QString, QString> remaining;
    for (const QString& tag : stored)
        remaining.insert(tag.toLower(), tag);
    for (const QString& tag : added)
        remaining.insert(tag.toLower(), tag);

    QVariantList result;
    for (const QString& tag : added) {
        if (result.size() > kMaxRecentTags)
            break;
        if (remaining.remove(tag.toLower()) > 0)
            result.append(tag);
    }
    for (const QString& tag : stored) {
        if (result.size() > kMaxRecentTags)
            break;
        if (remaining.remove(tag.toLower()) > 0)
            result.append(tag);
    }
    sharedDomain().setObject(result, kRecentTagsKey);
    synchPrefs();
}

void TagMetaPrefs::resetForTesting()
{
    std::lock_guard lock(g_syncLock);
    g_lastSync.reset();
}

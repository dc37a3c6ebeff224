// TagMetaBackup: putting attributes back from backups, and the carry-over from the old key.

#include "TagMeta/TagMetaBackup.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Metadata/MetadataQuery.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaAlias.h"
#include "TagMeta/TagMetaAttributes.h"
#include "TagMeta/TagMetaBackupState.h"
#include "TagMeta/TagMetaClock.h"
#include "TagMeta/TagMetaListingCache.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QThread>

#include <sys/stat.h>

namespace {

const QString kValuePrefix = QStringLiteral("org.tagmetainfo:");
const QString kTimePrefix = QStringLiteral("org.tagmetainfo.time:");
const QString kSpotlightPrefix = QStringLiteral("com.apple.metadata:");
const QString kOldValuePrefix = QStringLiteral("org.tagmetainfo:kTM");

// "Distant past": a missing time stamp loses every comparison.
constexpr double kDistantPast = -1.0e12;

// The date of 2001-01-01, which a file without a date is taken to have.
const QDateTime& referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

double secondsOf(const QVariant& value)
{
    if (value.typeId() != QMetaType::QDateTime)
        return kDistantPast;
    const QDateTime date = value.toDateTime();
    return date.isValid() ? double(date.toMSecsSinceEpoch()) / 1000.0 : kDistantPast;
}

QString replacePrefix(const QString& name, const QString& prefix, const QString& with)
{
    return with + name.mid(prefix.size());
}

QVariantMap readRecord(const QString& backupPath)
{
    const auto value = platform::PropertyList::readFile(backupPath);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return {};
    return value->toMap();
}

bool itemExists(const QString& path)
{
    struct stat st {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

void sleepSeconds(double seconds)
{
    if (seconds > 0.0)
        QThread::msleep(qulonglong(seconds * 1000.0));
}

bool datesClose(const QVariant& a, const QVariant& b)
{
    if (a.typeId() != QMetaType::QDateTime || b.typeId() != QMetaType::QDateTime)
        return false;
    const qint64 ms = a.toDateTime().msecsTo(b.toDateTime());
    return std::llabs(ms) <= qint64(TagMetaBackup::kSameChangeSeconds * 1000.0);
}

void presentReport(const QString& title, const QString& message)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    auto show = [title, message] { QMessageBox::information(nullptr, title, message); };
    if (QThread::currentThread() == app->thread())
        show();
    else
        QMetaObject::invokeMethod(app, show, Qt::BlockingQueuedConnection);
}

} // namespace

// ---- One file ----------------------------------------------------------------------------

void TagMetaBackup::restoreMetadata(const QString& path)
{
    restoreMetadata(path, 0.0);
}

void TagMetaBackup::restoreMetadata(const QString& path, double delaySeconds)
{
    if (!itemExists(path) || hasTagsOrRatingsSet(path))
        return;
    restoreMetadataSearchForFile(path, delaySeconds);
}

bool TagMetaBackup::hasTagsOrRatingsSet(const QString& path)
{
    // Presence is enough: a file whose stamp another program wrote in a form we cannot read
    // was still tagged by someone and must not be overwritten from a backup.
    return TagMetaAttributes::has(path, TagMeta::tagmetaTimeKey(TagMeta::kMDItemStarRating))
        || TagMetaAttributes::has(path, TagMeta::tagmetaTimeKey(TagMeta::kMDItemTMUserTags));
}

void TagMetaBackup::restoreMetadataSearchForFile(const QString& path, double delaySeconds)
{
    const QString fileName = calculateBackupFileName(path);
    for (int n = 0; n < kRestoreSearchMonths; ++n) {
        const QString backup = backupPathForMonthsBeforeNow(n) + QLatin1Char('/') + fileName;
        if (itemExists(backup) && restoreMetadataFromBackupFile(backup, path, delaySeconds))
            return;
    }
    if (delaySeconds == 0.0)
        return;

    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    const QString shortName = truncatedPathComponent(name.mid(name.lastIndexOf(QLatin1Char('/')) + 1));
    const QByteArray shortBytes = QFile::encodeName(shortName);
    auto& cache = TagMetaListingCache::shared();
    for (int n = 0; n < kRestoreSearchMonths; ++n) {
        const QString folder = backupPathForMonthsBeforeNow(n);
        if (!cache.mashedNames(folder).contains(shortBytes))
            continue;
        for (const QString& entry : cache.names(folder)) {
            if (entry.contains(shortName)
                && restoreMetadataFromBackupFile(folder + QLatin1Char('/') + entry, path, delaySeconds))
                return;
        }
    }
}

bool TagMetaBackup::restoreMetadataFromBackupFile(const QString& backupPath, const QString& filePath,
                                                  double delaySeconds)
{
    const QVariantMap record = readRecord(backupPath);
    if (record.isEmpty())
        return false;
    const QString resolved = resolveAliasDataToPathFileIDFirst(record.value(QStringLiteral("bu_alias")).toByteArray());
    const QString recordedPath = record.value(QStringLiteral("bu_path")).toString();

    if (filePath == recordedPath) {
        const bool isApp = filePath.endsWith(QLatin1String(".app"));
        if (isApp || resolved.isEmpty() || resolved == filePath) {
            sleepSeconds(delaySeconds);
            restoreMetadataDict(record, filePath);
            return true;
        }
    }
    if (resolved != filePath)
        return false;
    // The file was moved here. A backup older than the file's birth belongs to what was at
    // this path before: ending the search without writing keeps that from being restored.
    if (!modDateOfFile(backupPath, filePath))
        return true;
    sleepSeconds(delaySeconds);
    restoreMetadataDict(record, filePath);
    return true;
}

int TagMetaBackup::restoreMetadataDict(const QVariantMap& record, const QString& path)
{
    const QVariantMap omDict = record.value(QStringLiteral("omDict")).toMap();
    int written = 0;
    for (auto it = omDict.constBegin(); it != omDict.constEnd(); ++it) {
        const QString& name = it.key();
        if (name.startsWith(kOldValuePrefix)) {
            written += restoreOldMetadataKey(name, omDict, path);
            continue;
        }
        if (!name.startsWith(kValuePrefix) || !it.value().isValid())
            continue;
        const QString timeName = replacePrefix(name, kValuePrefix, kTimePrefix);
        const QString spotlightName = replacePrefix(name, kValuePrefix, kSpotlightPrefix);
        const double fileTime = secondsOf(TagMeta::getXAttr(timeName, path));
        const double backupTime = secondsOf(omDict.value(timeName));
        const double delta = backupTime - fileTime;

        bool write = false;
        if (std::abs(delta) < kSameChangeSeconds)
            write = !TagMetaAttributes::has(path, name);
        else if (delta >= kSameChangeSeconds)
            write = true;
        if (!write)
            continue;

        TagMeta::setXAttr(it.value(), name, path);
        if (omDict.contains(spotlightName))
            TagMeta::setXAttr(it.value(), spotlightName, path);
        ++written;
        if (omDict.contains(timeName))
            TagMeta::setXAttr(omDict.value(timeName), timeName, path);
    }
    return written;
}

int TagMetaBackup::restoreOldMetadataKey(const QString& name, const QVariantMap& omDict, const QString& path)
{
    const QVariant value = omDict.value(name);
    if (!value.isValid())
        return 0;
    const QString newName = replacePrefix(name, kOldValuePrefix, QStringLiteral("org.tagmetainfo:kMDItemTM"));
    const QString newTime = replacePrefix(newName, kValuePrefix, kTimePrefix);
    const QString newSpotlight = replacePrefix(name, kOldValuePrefix, QStringLiteral("com.apple.metadata:kMDItemTM"));

    if (TagMetaAttributes::has(path, newName))
        return 0;
    const QVariant spotlightValue = TagMeta::getXAttr(newSpotlight, path);
    if (spotlightValue.isValid()) {
        TagMeta::setXAttr(spotlightValue, newName, path);
        TagMeta::setXAttr(TagMetaClock::now(), newTime, path);
        return 1;
    }
    TagMeta::setXAttr(value, newName, path);
    if (omDict.contains(replacePrefix(name, kValuePrefix, kSpotlightPrefix)))
        TagMeta::setXAttr(value, newSpotlight, path);
    const QString oldTime = replacePrefix(name, kValuePrefix, kTimePrefix);
    if (omDict.contains(oldTime))
        TagMeta::setXAttr(omDict.value(oldTime), newTime, path);
    return 1;
}

bool TagMetaBackup::backupDictsTheSame(const QVariantMap& one, const QVariantMap& two)
{
    if (one.size() != two.size())
        return false;
    for (auto it = one.constBegin(); it != one.constEnd(); ++it) {
        const auto other = two.constFind(it.key());
        if (other == two.constEnd())
            return false;
        if (*other != it.value() && !datesClose(*other, it.value()))
            return false;
    }
    return true;
}

int TagMetaBackup::restoreMetadataFromBackupFileIfNeeded(const QString& backupPath)
{
    return restoreMetadataFromBackupDictIfNeeded(readRecord(backupPath));
}

int TagMetaBackup::restoreMetadataFromBackupDictIfNeeded(const QVariantMap& record)
{
    if (record.isEmpty())
        return 0;
    QString target = record.value(QStringLiteral("bu_path")).toString();
    if (!itemExists(target))
        target = resolveAliasDataToPathFileIDFirst(record.value(QStringLiteral("bu_alias")).toByteArray());
    if (!itemExists(target))
        return 0;
    const QVariantMap current = tagMetaDictForPath(target);
    const QVariantMap omDict = record.value(QStringLiteral("omDict")).toMap();
    if (current.isEmpty() && omDict.isEmpty())
        return 0;
    if (backupDictsTheSame(current, omDict))
        return 0;
    return restoreMetadataDict(record, target);
}

void TagMetaBackup::copyTagsFromOldKeyTokMDItemTMIfNeeded(const QString& path)
{
    const QString oldTimeName = TagMeta::tagmetaTimeKey(TagMeta::kTMUserTags);
    const QVariant oldTime = TagMeta::getXAttr(oldTimeName, path);
    if (oldTime.typeId() != QMetaType::QDateTime)
        return;
    const QString newTimeName = TagMeta::tagmetaTimeKey(TagMeta::kMDItemTMUserTags);
    if (secondsOf(oldTime) - secondsOf(TagMeta::getXAttr(newTimeName, path)) < kSameChangeSeconds)
        return;
    const QVariant oldValue = TagMeta::getXAttr(TagMeta::tagmetaKey(TagMeta::kTMUserTags), path);
    const QVariant newValue = TagMeta::getXAttr(TagMeta::tagmetaKey(TagMeta::kMDItemTMUserTags), path);
    if (oldValue.typeId() == QMetaType::QVariantList && newValue.typeId() == QMetaType::QVariantList
        && oldValue.toList() == newValue.toList())
        return;
    TagMeta::setXAttr(oldValue, TagMeta::tagmetaKey(TagMeta::kMDItemTMUserTags), path);
    TagMeta::setXAttr(oldValue, TagMeta::spotlightKey(TagMeta::kMDItemTMUserTags), path);
    TagMeta::setXAttr(oldTime, newTimeName, path);
}

// ---- File facts --------------------------------------------------------------------------

QDateTime TagMetaBackup::modDateOfFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink() ? info.lastModified().toUTC() : QDateTime();
}

QDateTime TagMetaBackup::creationDateOfFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink() ? info.birthTime().toUTC() : QDateTime();
}

bool TagMetaBackup::modDateOfFile(const QString& path, const QString& isAfterCreationDateOf)
{
    QDateTime modified = modDateOfFile(path);
    QDateTime created = creationDateOfFile(isAfterCreationDateOf);
    if (!modified.isValid())
        modified = referenceDate();
    if (!created.isValid())
        created = referenceDate();
    return modified >= created;
}

QStringList TagMetaBackup::cachedContentsOfDirectoryAtPath(const QString& folder)
{
    return TagMetaListingCache::shared().names(folder);
}

QByteArray TagMetaBackup::cachedContentsOfDirectoryAtPathAsString(const QString& folder)
{
    return TagMetaListingCache::shared().mashedNames(folder);
}

QByteArray TagMetaBackup::aliasDataForPath(const QString& path)
{
    const auto alias = TagMetaAlias::forPath(path);
    return alias ? alias->toData() : QByteArray();
}

QString TagMetaBackup::resolveAliasDataToPathFileIDFirst(const QByteArray& data, int* osErr)
{
    const auto alias = TagMetaAlias::fromData(data);
    if (!alias) {
        if (osErr)
            *osErr = -50;
        return QString();
    }
    const QString path = alias->resolve();
    if (osErr)
        *osErr = path.isEmpty() ? -43 : 0;
    return path;
}

// ---- Restore of all backups --------------------------------------------------------------

void TagMetaBackup::restoreAllMetadataOnBackgroundThread(bool report)
{
    auto& state = TagMetaBackupState::shared();
    if (state.restoreBusy.exchange(true)) {
        KPLogLogMessage(QStringLiteral("meta data restore already running"));
        return;
    }
    std::thread([report] {
        restoreAllMetadata(report);
        auto& shared = TagMetaBackupState::shared();
        {
            std::lock_guard guard(shared.lock);
            shared.restoreBusy.store(false);
        }
        shared.restoreIdle.notify_all();
    }).detach();
}

int TagMetaBackup::restoreAllMetadata(bool report)
{
    int total = 0;
    for (int n = 0; n < kRestoreAllMonths; ++n) {
        const QString folder = backupPathForMonthsBeforeNow(n);
        const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : names) {
            total += restoreMetadataFromBackupFileIfNeeded(folder + QLatin1Char('/') + name);
            if (!report)
                QThread::msleep(50); // a quiet background pass leaves the disk to the user
            if (isTerminating())
                return total;
        }
    }
    if (report)
        tellUserRestoreFinished(total);
    return total;
}

void TagMetaBackup::tellUserRestoreFinished(int total)
{
    const QString title = platform::localizedString(QStringLiteral("Open Meta Restore Done"));
    QString message;
    if (total == 0) {
        message = platform::localizedString(QStringLiteral("No files needed to have meta data such as tags and ratings restored."));
    } else {
        message = platform::localizedString(QStringLiteral("%1 files had meta data such as tags and ratings restored."));
        message.replace(QStringLiteral("%1"), QString::number(total));
    }
    ReportPresenter presenter;
    {
        auto& state = TagMetaBackupState::shared();
        std::lock_guard guard(state.lock);
        presenter = state.reportPresenter;
    }
    if (presenter)
        presenter(title, message);
    else
        presentReport(title, message);
}

void TagMetaBackup::setReportPresenter(ReportPresenter presenter)
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard guard(state.lock);
    state.reportPresenter = std::move(presenter);
}

// ---- Repair thread -----------------------------------------------------------------------

void TagMetaBackup::startLiveRepairThread()
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard guard(state.lock);
    if (state.repairThread.joinable())
        return;
    state.repairCancelled = false;
    state.repairRunning = true;
    state.repairThread = std::thread([] {
        auto& shared = TagMetaBackupState::shared();
        const auto query = platform::MetadataQuery::create(QStringLiteral(
            "(kMDItemContentModificationDate > $time.now) && ((kMDItemCreator == '*Adobe*') || "
            "(kMDItemContentType == '*adobe*'))"));
        if (query) {
            // A query that could run would report recently changed files; each is repaired
            // with the search by name, as such programs save under new inodes.
            const auto found = query->execute();
            for (const QString& path : found.value_or(QStringList())) {
                if (!hasTagsOrRatingsSet(path))
                    restoreMetadata(path, 1.0);
            }
            std::unique_lock lock(shared.lock);
            shared.repairWake.wait(lock, [&] { return shared.repairCancelled; });
        } else {
            KPLogLogMessage(QStringLiteral("MDQuery for recently opened files failed to start in Fresh."));
        }
        {
            std::lock_guard lock(shared.lock);
            shared.repairRunning = false;
        }
        shared.restoreIdle.notify_all();
    });
}

void TagMetaBackup::stopLiveRepairThread()
{
    auto& state = TagMetaBackupState::shared();
    std::unique_lock lock(state.lock);
    if (!state.repairThread.joinable())
        return;
    state.repairCancelled = true;
    state.repairWake.notify_all();
    // Up to half a second for the thread to notice; one that is still busy is kept, not waited on.
    if (!state.restoreIdle.wait_for(lock, std::chrono::milliseconds(500), [&] { return !state.repairRunning; }))
        return;
    std::thread finished = std::move(state.repairThread);
    lock.unlock();
    finished.join();
}

bool TagMetaBackup::liveRepairThreadIsRunning()
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard guard(state.lock);
    return state.repairRunning;
}

#include "TagMeta/TagMetaBackup.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaAlias.h"
#include "TagMeta/TagMetaAttributes.h"
#include "TagMeta/TagMetaBackupState.h"
#include "TagMeta/TagMetaBackupWorker.h"
#include "TagMeta/TagMetaClock.h"
#include "TagMeta/TagMetaListingCache.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <thread>

namespace {

QString lastPathComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QString deletingLastPathComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : trimmed.left(slash);
}

// Stops the worker before the statics it uses go away at exit; queued backups of a process
// that never announced its shut-down are dropped rather than written into a dying process.
void stopAtExit()
{
    auto& state = TagMetaBackupState::shared();
    std::unique_ptr<TagMetaBackupWorker> worker;
    std::thread upgrade;
    {
        std::lock_guard lock(state.lock);
        state.terminating.store(true);
        state.repairCancelled = true;
        worker = std::move(state.worker);
        upgrade = std::move(state.upgradeThread);
    }
    state.terminatingWake.notify_all();
    state.repairWake.notify_all();
    worker.reset();
    if (upgrade.joinable())
        upgrade.join();
    state.waitForRestoreThreads(std::chrono::steady_clock::now() + TagMetaBackup::kShutdownFlushBound);
}

} // namespace

TagMetaBackupState& TagMetaBackupState::shared()
{
    // Never destroyed: threads that outlive main may still look at it.
    static TagMetaBackupState* state = new TagMetaBackupState;
    return *state;
}

TagMetaBackupWorker* TagMetaBackupState::backupThread()
{
    const QString marker = TagMetaBackup::backupFolder() + QLatin1Char('/') + TagMetaBackup::kNoBackupsMarker;
    std::lock_guard guard(lock);
    if (!worker) {
        if (QFileInfo::exists(marker))
            enabled.store(false); // the request that got here is still carried out
        worker = std::make_unique<TagMetaBackupWorker>(
            [](const QString& path) { TagMetaBackup::backupMetadataNow(path); }, firstDelay, spacing);
        if (!exitHookInstalled) {
            exitHookInstalled = true;
            std::atexit(stopAtExit);
            if (auto* app = QCoreApplication::instance()) {
                QObject::connect(app, &QCoreApplication::aboutToQuit, app,
                                 [] { TagMetaBackup::appIsTerminating(); });
            }
        }
    }
    return worker.get();
}

void TagMetaBackupState::waitForRestoreThreads(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock guard(lock);
    restoreIdle.wait_until(guard, deadline, [this] { return !restoreBusy.load(); });
}

// ---- Automatic backup ------------------------------------------------------------------

void TagMetaBackup::backupMetadata(const QString& path)
{
    auto& state = TagMetaBackupState::shared();
    if (!state.enabled.load() || path.isEmpty())
        return;
    state.backupThread()->enqueue(path);
}

void TagMetaBackup::backupMetadataNow(const QString& path)
{
    const QVariantMap record = backupDictForPath(path);
    if (record.isEmpty())
        return;
    const QString target = backupPathForItem(path);
    const auto written = platform::PropertyList::writeFile(record, target, platform::PlistFormat::Xml);
    if (!written) {
        KPLogLogDomainMessage(QStringLiteral("TagMeta"), 1,
                              QStringLiteral("backup of %1 not written: %2").arg(path, written.error().toString()));
        return;
    }
    TagMetaBackupState::shared().filesWritten.fetch_add(1);
}

bool TagMetaBackup::attributeKeyMeansBackup(const QString& name)
{
    return name.startsWith(QLatin1String("org.tagmetainfo")) || name.startsWith(QLatin1String("kMDItemTM"))
        || name.startsWith(QLatin1String("com.apple.metadata:kMDItem"));
}

bool TagMetaBackup::attributeKeyMeansAutomaticBackup(const QString& name)
{
    return name.contains(QLatin1String("kMDItemTMUserTags"));
}

QVariantMap TagMetaBackup::tagMetaDictForPath(const QString& path)
{
    QVariantMap dict;
    if (path.isEmpty())
        return dict;
    const auto names = TagMetaAttributes::list(path);
    if (!names)
        return dict;
    for (const QString& name : *names) {
        if (!attributeKeyMeansBackup(name))
            continue;
        const QVariant value = TagMeta::getXAttr(name, path);
        if (value.isValid())
            dict.insert(name, value);
    }
    return dict;
}

QVariantMap TagMetaBackup::backupDictForPath(const QString& path)
{
    const QVariantMap omDict = tagMetaDictForPath(path);
    if (omDict.isEmpty())
        return {};
    QVariantMap record{{QStringLiteral("omDict"), omDict},
                       {QStringLiteral("bu_path"), path},
                       {QStringLiteral("bu_date"), TagMetaClock::now()}};
    const QByteArray alias = aliasDataForPath(path);
    if (!alias.isEmpty())
        record.insert(QStringLiteral("bu_alias"), alias);
    return record;
}

// ---- Folders and names -----------------------------------------------------------------

QString TagMetaBackup::backupFolder()
{
    auto& state = TagMetaBackupState::shared();
    {
        std::lock_guard guard(state.lock);
        if (!state.folderOverride.isEmpty())
            return state.folderOverride;
    }
    return platform::Paths::applicationSupportDirectory() + QStringLiteral("/TagMeta/backups.noindex");
}

QString TagMetaBackup::backupPathForMonthsBeforeNow(int monthsBack)
{
    const QString folder = backupFolder();
    if (TagMetaBackupState::shared().enabled.load() && !QFileInfo::exists(folder)) {
        // The earlier layout kept backups in "backups"; it is moved once and a link keeps
        // programs that still look there working.
        const QString oldFolder = QFileInfo(folder).path() + QStringLiteral("/backups");
        const QFileInfo oldInfo(oldFolder);
        if (oldInfo.isDir() && !oldInfo.isSymLink())
            QDir().rename(oldFolder, folder);
        else
            QDir().mkpath(folder);
        if (!QFileInfo(oldFolder).exists() && !QFileInfo(oldFolder).isSymLink())
            QFile::link(folder, oldFolder);
    }

    const QDate today = TagMetaClock::now().toLocalTime().date();
    qint64 year = today.year();
    qint64 month = today.month() - monthsBack;
    if (month < 1) {
        const qint64 d = qint64(monthsBack) - today.month();
        year = year - 1 - d / 12;
        month = 12 - (d % 12);
    }
    return QStringLiteral("%1/%2/%3").arg(folder).arg(year).arg(month);
}

QString TagMetaBackup::currentBackupPath()
{
    const QString path = backupPathForMonthsBeforeNow(0);
    if (TagMetaBackupState::shared().enabled.load() && !QFileInfo::exists(path))
        QDir().mkpath(path);
    return path;
}

QString TagMetaBackup::truncatedPathComponent(const QString& name)
{
    if (name.size() <= kMaxNameLength)
        return name;
    const int half = kMaxNameLength / 2;
    // Cut between code points: half a surrogate pair cannot be encoded as a file name, and the
    // backup would be lost.
    qsizetype headLength = half;
    if (name.at(headLength - 1).isHighSurrogate())
        --headLength;
    qsizetype tailStart = name.size() - half;
    if (name.at(tailStart).isLowSurrogate())
        ++tailStart;
    return name.left(headLength) + name.mid(tailStart);
}

QString TagMetaBackup::hashString(const QString& text)
{
    // The System V ELF hash over the decomposed UTF-8 bytes, each byte sign-extended: the
    // stored form, shared with backups written elsewhere.
    const QByteArray bytes = text.normalized(QString::NormalizationForm_D).toUtf8();
    quint32 h = 0;
    for (const char byte : bytes) {
        h = (h << 4) + quint32(qint32(qint8(byte)));
        const quint32 g = h & 0xF0000000u;
        if (g != 0)
            h ^= g >> 24;
        h &= ~g;
    }
    return QString::number(h);
}

QString TagMetaBackup::calculateBackupFileName(const QString& path)
{
    const QString name = lastPathComponent(path);
    return QStringLiteral("%1__%2__%3.tmback")
        .arg(truncatedPathComponent(name), hashString(name), hashString(deletingLastPathComponent(path)));
}

QString TagMetaBackup::backupPathForItem(const QString& path)
{
    return currentBackupPath() + QLatin1Char('/') + calculateBackupFileName(path);
}

QStringList TagMetaBackup::removeBackupsOfFiles(const QStringList& paths)
{
    QStringList stayed;
    if (paths.isEmpty())
        return stayed;
    const QString root = backupFolder();
    QStringList months;
    const auto folders = QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks;
    for (const QString& year : QDir(root).entryList(folders)) {
        for (const QString& month : QDir(root + QLatin1Char('/') + year).entryList(folders))
            months << QStringLiteral("%1/%2/%3").arg(root, year, month);
    }
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        const QString name = calculateBackupFileName(path);
        for (const QString& month : std::as_const(months)) {
            const QString backup = month + QLatin1Char('/') + name;
            const QFileInfo info(backup);
            if (!info.exists() && !info.isSymLink())
                continue;
            const auto record = platform::PropertyList::readFile(backup);
            if (record && record->typeId() == QMetaType::QVariantMap
                && record->toMap().value(QStringLiteral("bu_path")).toString() != path)
                continue;
            if (!QFile::remove(backup)) {
                KPLogLogDomainMessage(QStringLiteral("TagMeta"), 0,
                                      QStringLiteral("The tag backup %1 of a removed file stays").arg(backup));
                stayed << backup;
            }
        }
    }
    return stayed;
}

// ---- Shut-down, flags and test hooks ---------------------------------------------------

void TagMetaBackup::appIsTerminating(std::chrono::milliseconds bound)
{
    auto& state = TagMetaBackupState::shared();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    TagMetaBackupWorker* worker = nullptr;
    {
        std::lock_guard guard(state.lock);
        worker = state.worker.get();
        state.terminating.store(true);
        state.repairCancelled = true;
    }
    state.repairWake.notify_all();
    state.terminatingWake.notify_all();
    if (worker) {
        worker->hurry();
        if (!worker->waitUntilIdle(deadline))
            KPLogLogDomainMessage(QStringLiteral("TagMeta"), 1,
                                  QStringLiteral("quit with %1 TagMeta backups still queued").arg(worker->pendingCount()));
    }
    state.waitForRestoreThreads(deadline);
}

bool TagMetaBackup::isTerminating()
{
    return TagMetaBackupState::shared().terminating.load();
}

bool TagMetaBackup::backupThreadIsBusy()
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard guard(state.lock);
    return state.worker && state.worker->isBusy();
}

bool TagMetaBackup::restoreThreadIsBusy()
{
    return TagMetaBackupState::shared().restoreBusy.load();
}

bool TagMetaBackup::tagMetaThreadIsBusy()
{
    return restoreThreadIsBusy() || backupThreadIsBusy();
}

bool TagMetaBackup::backupsEnabled()
{
    return TagMetaBackupState::shared().enabled.load();
}

int TagMetaBackup::pendingBackupCount()
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard guard(state.lock);
    return state.worker ? state.worker->pendingCount() : 0;
}

quint64 TagMetaBackup::backupFilesWritten()
{
    return TagMetaBackupState::shared().filesWritten.load();
}

void TagMetaBackup::setBackupFolderForTesting(const QString& folder)
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard guard(state.lock);
    state.folderOverride = folder;
}

void TagMetaBackup::setDelaysForTesting(std::chrono::milliseconds first, std::chrono::milliseconds spacing)
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard guard(state.lock);
    state.firstDelay = first;
    state.spacing = spacing;
}

void TagMetaBackup::resetForTesting()
{
    auto& state = TagMetaBackupState::shared();
    std::unique_ptr<TagMetaBackupWorker> worker;
    {
        std::lock_guard guard(state.lock);
        worker = std::move(state.worker);
        state.firstDelay = kFirstBackupDelay;
        state.spacing = kBackupSpacing;
    }
    worker.reset();
    state.enabled.store(true);
    state.terminating.store(false);
    state.filesWritten.store(0);
    TagMetaListingCache::shared().clear();
}

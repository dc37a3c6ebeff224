// Copies of every tagged file's TagMeta attributes, kept outside the file, and the restore of
// those attributes onto a file that lost them (a program that rewrites files without their
// attributes, a copy through a file system without them).
//
// One small XML property list per file and month lies in
// "$XDG_DATA_HOME/TagMeta/backups.noindex/<year>/<month>", named after the file's name and
// two hashes of its name and folder; the formula is fixed because backups written by earlier
// runs and by other TagMeta programs must still be found. Backups are written on one worker
// thread that coalesces bursts (a file queued twice is backed up once) so that a tag edit costs
// one small write. Restores run on the caller's thread and only ever touch files that carry no
// TagMeta time stamps, so a file someone tagged is never overwritten from a backup.
//
// All state is process-wide: the enabled flag (the marker file "No Backups Please.txt" turns
// backups off for the run), the worker, the busy and terminating flags, the listing caches.
// Threads: any. The worker owns its queue (under its own lock); flags are atomics; each
// listing cache has its own lock.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <chrono>
#include <functional>

class TagMetaBackup {
public:
    // Tuning: the first backup of a burst waits so that the burst's writes coalesce; later
    // files of the queue follow at a gentle pace so backups never compete with the user.
    static constexpr std::chrono::milliseconds kFirstBackupDelay{200};
    static constexpr std::chrono::milliseconds kBackupSpacing{30};
    // How long shut-down waits for queued backups.
    static constexpr std::chrono::milliseconds kShutdownFlushBound{2000};
    // The window within which two time stamps count as the same change.
    static constexpr double kSameChangeSeconds = 2.0;
    // Backups older than this many months are not searched for a single file.
    static constexpr int kRestoreSearchMonths = 12;
    // The restore of all backups looks this far back.
    static constexpr int kRestoreAllMonths = 36;
    // Names longer than this are shortened to their first and last halves.
    static constexpr int kMaxNameLength = 40;

    static inline const QString kNoBackupsMarker = QStringLiteral("No Backups Please.txt");

    // Automatic backup.
    static void backupMetadata(const QString& path);
    static void backupMetadataNow(const QString& path);
    static QVariantMap backupDictForPath(const QString& path);  // empty: no record
    static QVariantMap tagMetaDictForPath(const QString& path); // attribute name → value
    static bool attributeKeyMeansBackup(const QString& name);
    static bool attributeKeyMeansAutomaticBackup(const QString& name);

    // Folders and names.
    static QString backupFolder();
    static QString backupPathForMonthsBeforeNow(int monthsBack);
    static QString currentBackupPath();
    static QString calculateBackupFileName(const QString& path);
    static QString truncatedPathComponent(const QString& name);
    static QString hashString(const QString& text);
    static QString backupPathForItem(const QString& path);

    // Removes every backup of these files, in every month's folder, so that a file that left
    // for good (into the SafeBox, out of the library) leaves no copy of its path, name and tags
    // behind. A backup under the same name whose record names another file (the name's hashes
    // collide) is kept. The backups that could not be removed (logged).
    static QStringList removeBackupsOfFiles(const QStringList& paths);

    // Restore of one file.
    static void restoreMetadata(const QString& path);
    static void restoreMetadata(const QString& path, double delaySeconds);
    static bool hasTagsOrRatingsSet(const QString& path);
    static void restoreMetadataSearchForFile(const QString& path, double delaySeconds);
    static bool restoreMetadataFromBackupFile(const QString& backupPath, const QString& filePath,
                                              double delaySeconds);
    static int restoreMetadataFromBackupFileIfNeeded(const QString& backupPath);
    static int restoreMetadataFromBackupDictIfNeeded(const QVariantMap& record);
    static int restoreMetadataDict(const QVariantMap& record, const QString& path);
    static int restoreOldMetadataKey(const QString& name, const QVariantMap& omDict, const QString& path);
    static bool backupDictsTheSame(const QVariantMap& one, const QVariantMap& two);
    static void copyTagsFromOldKeyTokMDItemTMIfNeeded(const QString& path);

    // File facts.
    static QDateTime modDateOfFile(const QString& path);
    static QDateTime creationDateOfFile(const QString& path);
    static bool modDateOfFile(const QString& path, const QString& isAfterCreationDateOf);
    static QStringList cachedContentsOfDirectoryAtPath(const QString& folder);
    static QByteArray cachedContentsOfDirectoryAtPathAsString(const QString& folder);
    static QByteArray aliasDataForPath(const QString& path);
    // osErr: 0, -50 for missing or damaged data, -43 when the file cannot be found.
    static QString resolveAliasDataToPathFileIDFirst(const QByteArray& data, int* osErr = nullptr);

    // Restore of all backups on a thread of its own, with a report to the user at the end.
    static void restoreAllMetadataOnBackgroundThread(bool report);
    static int restoreAllMetadata(bool report);
    static void tellUserRestoreFinished(int total);
    using ReportPresenter = std::function<void(const QString& title, const QString& message)>;
    // Replaces the modal alert (tests, or a program without widgets).
    static void setReportPresenter(ReportPresenter presenter);

    // The repair thread that restores recently opened files found by a metadata query.
    static void startLiveRepairThread();
    static void stopLiveRepairThread();
    static bool liveRepairThreadIsRunning();

    // Shut-down: stops further pacing and waits, at most bound, for queued backups.
    static void appIsTerminating(std::chrono::milliseconds bound = kShutdownFlushBound);
    static bool isTerminating();
    static bool tagMetaThreadIsBusy();
    static bool restoreThreadIsBusy();
    static bool backupThreadIsBusy();

    // Bulk operations over many files (a single backup file, the old-key upgrade).
    static void backupMetadataToSingleFile(const QStringList& keys, const QString& path);
    static void restoreMetadataFromSingleFile(const QString& path);
    static void singleFileQueueIsBusyError();
    static void upgradeTagMetaTokMDItemTM();
    // Folders the bulk operations' metadata queries walk (empty: the home folder).
    static void setSingleFileSearchScopesForTesting(const QStringList& folders);

    // Test hooks: another backup root, other coalescing delays, a fresh process state.
    static void setBackupFolderForTesting(const QString& folder);
    static void setDelaysForTesting(std::chrono::milliseconds first, std::chrono::milliseconds spacing);
    static void resetForTesting();
    static int pendingBackupCount();
    static quint64 backupFilesWritten();
    static bool backupsEnabled();

    TagMetaBackup() = delete;
};

// Lists the open SafeBox: one SafeBoxItemInfo per document of a supported kind, walked in the
// background.
//
// Folders are walked into, except document packages (listed as one item); dot-names (the box's
// ".Thumbnail" and the tool's own records) count as invisible and links as aliases, both skipped.
// Names are ordered by their bytes, not the locale, so the order is the same everywhere. The
// creation date is the one the disk-image tool restored (a file's own birth time is the attach).
//
// Threads: the walk runs on the default global queue; bCancel is the only field both threads
// touch. The completion runs on the main thread, and never after a stopSync.
#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>

class SafeBoxFolderSyncer : public std::enable_shared_from_this<SafeBoxFolderSyncer> {
public:
    using Completed = std::function<void(const QList<QVariantMap>& items)>;

    static std::shared_ptr<SafeBoxFolderSyncer> create(const QString& folderPath);

    void startSyncWithCompleted(Completed block);
    void stopSync() { bCancel.store(true); }
    // Walks one folder, appending to allFiles; the number is not used.
    void snapShotByPath(const QString& path, qint64 id);

    QString folderPath;
    QList<QVariantMap> allFiles;
    std::atomic<bool> bCancel{false};

private:
    explicit SafeBoxFolderSyncer(const QString& path) : folderPath(path) {}
};

// One walk of a folder on disk into a tree of KPFileNode: the supported documents with their
// file number, modification date and tags (files mode), or only the plain folders (folders
// mode, for the side bar's tree).
//
// The walk leaves out what a user does not see as a document of the folder: dot-names, names
// listed in the folder's ".hidden", items whose Finder flags say invisible or alias, links,
// excluded packages (applications and the like), unsupported kinds, and the library folder
// when it lies inside. It never fails as a whole: unreadable items and folders are logged,
// and the folder nodes record what could not be read so the diff can keep it out of the
// removals. A folder reached twice (a bind mount looping back) is walked once.
//
// The file number stored for a file mixes its inode with its birth time, so that a new file
// that happens to get the inode of a deleted one is not taken for that file renamed.
//
// The root node records the volume of the walked folder, read before and after the walk through
// a device reader (the real stat unless one is given): a volume mounted or unmounted during the
// walk leaves it unknown rather than describing a listing it did not produce.
//
// A re-sync of a large folder where nothing changed must cost little more than listing it, so
// an entry costs one statx (relative to its open folder) and a document's attributes (Finder
// flags, tags) are read only when its status-change time moved since the last pass recorded
// them: every write of a file, of its attributes included, moves that time, while a rename of
// the folder above it does not. Given what the last pass recorded per path (its file number,
// change time and tags), a document whose number and change time are the same keeps the
// recorded tags. A change time is only handed on (and so only recorded) when it lies
// kChangeTimeSettle before the walk began: file systems keep it in coarse ticks, so a write
// in the same tick as the attribute read would leave it unmoved, and the next pass would keep
// tags that were already stale.
//
// Threads: one walk per object, on the caller's thread; nothing shared is touched.
#pragma once

#include "IndexFolder/KPFileNode.h"

#include "Platform/Foundation/FileManager.h"

#include <QString>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <optional>

class KPFileFormatManager;

class KPFolderSnapshot {
public:
    // The library folder comes from "String_Library_Path".
    explicit KPFolderSnapshot(const QString& path);
    KPFolderSnapshot(const QString& path, const QString& libraryPath);

    // The device number (st_dev) of a path, links followed; nullopt when it cannot be read.
    using DeviceReader = std::function<std::optional<quint64>(const QString& path)>;
    // The current time in nanoseconds since 1970.
    using Clock = std::function<qint64()>;

    // What the last pass recorded of the document at a path.
    struct RememberedFile {
        quint32 number = 0;
        qint64 changeTime = 0;
        QString tags;
    };
    // Answers what was recorded for a path with a change time; nullopt for none.
    using RememberedFiles = std::function<std::optional<RememberedFile>(const QString& path)>;

    // Tuning: how far before the walk a change time must lie to be trusted (coarse time stamps
    // tick in milliseconds; FAT's in two seconds).
    static constexpr std::chrono::seconds kChangeTimeSettle{2};

    const QString& path() const { return m_path; }
    const QString& libraryPath() const { return m_libraryPath; }
    bool bSnapshotFile() const { return m_bSnapshotFile; }
    void setBSnapshotFile(bool files) { m_bSnapshotFile = files; }
    // An empty reader restores the real stat.
    void setDeviceReader(DeviceReader reader);
    // An empty clock restores the real one (tests move it on to trust fresh change times).
    void setClock(Clock clock);
    // Without it every document's attributes are read.
    void setRememberedFiles(RememberedFiles remembered) { m_remembered = std::move(remembered); }

    // The root node of a walk of the whole tree.
    KPFileNode::Ptr snapShotAndChildren();
    // The node of folder with its entries, and everything below when descending is on.
    KPFileNode::Ptr snapShotByPath(const QString& folder, quint32 nodeID);

    // The tags string of a file: its TagMeta tags, then its Finder tags (from
    // attributes["NSFileExtendedAttributes"] when given, else from the file), each cut at its
    // first newline, each once, joined with ",". "" when there are none.
    static QString tagWithFilePathAndAttributesInfo(const QString& path, const QVariantMap& attributes);

    // The stored file number: the low 32 bits of the inode where the file system keeps no
    // birth time, else a mix of inode and birth time (nanoseconds since 1970). The number is
    // stored, so the formula never changes.
    static quint32 fileNumber(quint64 inode, std::optional<qint64> birthNanoseconds);

    // What the walk reads of an item, without following a link.
    struct ItemFacts {
        platform::FileType type = platform::FileType::Other;
        quint64 inode = 0;
        quint64 device = 0;
        QDateTime modificationDate;
        qint64 changeNanoseconds = 0;
        std::optional<qint64> birthNanoseconds;
    };
    static platform::Result<ItemFacts> factsOfItem(const QString& path, bool followLinks = false);

    // The real stat of a path's device.
    static std::optional<quint64> deviceOfPath(const QString& path);
    // The volume of folder: its device, and whether that differs from its parent's ("/" is
    // always a mount point). nullopt when either device cannot be read.
    static std::optional<KPFileNode::Volume> volumeOfFolder(const QString& folder, const DeviceReader& deviceOf);

private:
    void fillFolder(const KPFileNode::Ptr& node, QList<KPFileNode::Ptr>& pending);
    // The document node of item, its attributes read or taken from the last pass; null when
    // its Finder flags hide it, or (noted in folder) when they cannot be read.
    KPFileNode::Ptr documentNode(KPFileNode& folder, const QString& item, const ItemFacts& facts);

    QString m_path;
    QString m_libraryPath;
    bool m_bSnapshotChildren = false;
    bool m_bSnapshotFile = true;
    const KPFileFormatManager& m_formats;
    DeviceReader m_deviceOf;
    Clock m_clock;
    RememberedFiles m_remembered;
    qint64 m_trustedBefore = 0; // change times before this are handed on
    QSet<QPair<quint64, quint64>> m_visitedFolders;
};

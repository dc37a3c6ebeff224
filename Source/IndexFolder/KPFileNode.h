// One file or folder of a folder snapshot. Folder nodes own their children; file nodes are
// shared with the diff chunks that hand them to the import.
//
// Beside what the walk saw, a folder node records how its listing went, because the diff must
// tell a folder that is gone (its files were removed) from one it could not read (nothing may
// be concluded about its files). The root of a walk also records the volume it was on, because
// an empty folder is only a folder emptied when it is still the folder on the same volume, not
// the mount point an unmounted volume leaves behind.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class KPFileNode {
public:
    using Ptr = std::shared_ptr<KPFileNode>;

    enum class Listing {
        NotListed,  // a file, or a folder the walk did not descend into
        Listed,
        Missing,    // the folder no longer exists (or is no folder any more)
        Unreadable, // it exists but could not be listed (permissions, I/O error)
    };

    // Where a folder lives: its device number (st_dev) and whether it is a mount point (on
    // another device than its parent folder, or "/" itself).
    struct Volume {
        quint64 device = 0;
        bool isMountPoint = false;
        friend bool operator==(const Volume&, const Volume&) = default;
    };

    KPFileNode(const QString& path, quint32 nodeID) : m_path(path), m_nodeID(nodeID) {}

    const QString& path() const { return m_path; }
    quint32 nodeID() const { return m_nodeID; }
    QString description() const { return m_path; }

    const QDateTime& date() const { return m_date; }
    void setDate(const QDateTime& date) { m_date = date; }
    // Set for file nodes ("" when the file has no tags); absent for folders.
    const std::optional<QString>& tags() const { return m_tags; }
    void setTags(const QString& tags) { m_tags = tags; }
    // The file's status-change time (nanoseconds since 1970) when it lay far enough before the
    // walk that any later change of the file, its tags included, must move it (see
    // KPFolderSnapshot); absent otherwise.
    const std::optional<qint64>& changeTime() const { return m_changeTime; }
    void setChangeTime(std::optional<qint64> nanoseconds) { m_changeTime = nanoseconds; }

    void addFolder(Ptr node);
    void addFile(Ptr node);
    const QList<Ptr>& folderNodes() const { return m_folderNodes; }
    const QList<Ptr>& fileNodes() const { return m_fileNodes; }

    Listing listing() const { return m_listing; }
    // The errno of a failed listing; 0 otherwise.
    int listingError() const { return m_listingError; }
    void setListing(Listing listing, int error);
    // Entries of this folder whose attributes could not be read although they exist.
    const QStringList& unreadableItems() const { return m_unreadableItems; }
    void addUnreadableItem(const QString& path) { m_unreadableItems.append(path); }

    // The root of a walk: the volume it was on, the same before and after the walk; absent when
    // it could not be read or changed meanwhile.
    const std::optional<Volume>& volume() const { return m_volume; }
    void setVolume(std::optional<Volume> volume) { m_volume = volume; }

private:
    QString m_path;
    quint32 m_nodeID = 0;
    QDateTime m_date;
    std::optional<QString> m_tags;
    std::optional<qint64> m_changeTime;
    QList<Ptr> m_folderNodes;
    QList<Ptr> m_fileNodes;
    Listing m_listing = Listing::NotListed;
    int m_listingError = 0;
    QStringList m_unreadableItems;
    std::optional<Volume> m_volume;
};

// One file or folder of a folder snapshot. Folder nodes own their children; file nodes are
// shared with the diff chunks that hand them to the import.
//
// Beside what the walk saw, a folder node records how its listing went, because the diff must
// tell a folder that is gone (its files were removed) from one it could not read (nothing may
// be concluded about its files).
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

    KPFileNode(const QString& path, quint32 nodeID) : m_path(path), m_nodeID(nodeID) {}

    const QString& path() const { return m_path; }
    quint32 nodeID() const { return m_nodeID; }
    QString description() const { return m_path; }

    const QDateTime& date() const { return m_date; }
    void setDate(const QDateTime& date) { m_date = date; }
    // Set for file nodes ("" when the file has no tags); absent for folders.
    const std::optional<QString>& tags() const { return m_tags; }
    void setTags(const QString& tags) { m_tags = tags; }

    void addFolder(Ptr node);
    void addFile(Ptr node);
    const QList<Ptr>& folderNodes() const { return m_folderNodes; }
    const QList<Ptr>& fileNodes() const { return m_fileNodes; }

    Listing listing() const { return m_listing; }
    // The errno of a failed listing; 0 otherwise.
    int listingError() const { return m_listingError; }
    // Every entry the listing gave, hidden and skipped ones included.
    qsizetype entryCount() const { return m_entryCount; }
    void setListing(Listing listing, int error, qsizetype entryCount);
    // Entries of this folder whose attributes could not be read although they exist.
    const QStringList& unreadableItems() const { return m_unreadableItems; }
    void addUnreadableItem(const QString& path) { m_unreadableItems.append(path); }

private:
    QString m_path;
    quint32 m_nodeID = 0;
    QDateTime m_date;
    std::optional<QString> m_tags;
    QList<Ptr> m_folderNodes;
    QList<Ptr> m_fileNodes;
    Listing m_listing = Listing::NotListed;
    int m_listingError = 0;
    qsizetype m_entryCount = 0;
    QStringList m_unreadableItems;
};

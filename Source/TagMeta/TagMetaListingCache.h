// Listings of backup month folders, kept until the folder changes.
//
// The search for a moved file's backup looks through up to twelve month folders for every file
// it restores; re-reading folders of thousands of backups each time would dominate an import.
// An entry is valid while the folder's modification time (to the nanosecond) is unchanged.
// Names are the folders' raw bytes: the concatenated form is searched for the encoded name
// before any name is decoded.
//
// Threads: any; each of the two caches has its own lock.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <mutex>

class TagMetaListingCache {
public:
    static TagMetaListingCache& shared();

    // The folder's names (those that are valid text); empty for an unreadable folder.
    QStringList names(const QString& folder);
    // The encoded names concatenated without separators and closed by one zero byte.
    QByteArray mashedNames(const QString& folder);

    void clear();

private:
    struct Stamp {
        qint64 seconds = 0;
        qint64 nanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct NamesEntry {
        QStringList files;
        Stamp modDate;
    };
    struct MashedEntry {
        QByteArray mashedFileNames;
        Stamp modDate;
    };

    static bool stampOf(const QString& folder, Stamp* stamp);
    static QList<QByteArray> rawNames(const QString& folder);

    std::mutex m_namesLock;
    QHash<QString, NamesEntry> m_names;
    std::mutex m_mashedLock;
    QHash<QString, MashedEntry> m_mashed;
};

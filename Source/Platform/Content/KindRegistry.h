// The readers of file kinds, keyed by extension and by MIME type: one table serves the text
// readers (TextExtractor) and the preview providers (ContentPreview), so both find a file's
// reader by the same rule. By extension first (lower case): it is what the user named the file,
// and costs no read; a folder only when the reader for its extension takes folders (document
// packages). Else the file is sniffed with QMimeDatabase (which also reads its first bytes, so
// text and mail files without a known extension are found) and matched by its type, an alias
// of it, or any type it inherits from.
//
// Threads: find() may run on any number of threads at once; add() takes the write lock and is
// meant for start-up.
#pragma once

#include <QFileInfo>
#include <QHash>
#include <QString>
#include <QStringList>
#include <mutex>
#include <shared_mutex>

namespace platform {

// The names a file's sniffed MIME type answers to: its own, its aliases, its ancestors.
QStringList mimeTypeCandidates(const QFileInfo& file);

template <class Reader>
class KindRegistry {
public:
    // A later registration for the same extension or type replaces the earlier one.
    void add(const QStringList& extensions, const QStringList& mimeTypes, const Reader& reader, bool acceptsFolders)
    {
        std::unique_lock lock(m_lock);
        for (const QString& ext : extensions)
            m_byExtension.insert(ext.toLower(), Entry{reader, acceptsFolders});
        for (const QString& type : mimeTypes)
            m_byMimeType.insert(type, Entry{reader, acceptsFolders});
    }

    // The reader for file (a folder when isFolder), or an empty one.
    Reader find(const QFileInfo& file, bool isFolder) const
    {
        std::shared_lock lock(m_lock);
        if (auto it = m_byExtension.constFind(file.suffix().toLower()); it != m_byExtension.constEnd())
            return (!isFolder || it->acceptsFolders) ? it->reader : Reader();
        if (isFolder)
            return Reader();
        for (const QString& name : mimeTypeCandidates(file)) {
            if (auto it = m_byMimeType.constFind(name); it != m_byMimeType.constEnd())
                return it->reader;
        }
        return Reader();
    }

private:
    struct Entry {
        Reader reader;
        bool acceptsFolders = false;
    };
    mutable std::shared_mutex m_lock;
    QHash<QString, Entry> m_byExtension;
    QHash<QString, Entry> m_byMimeType;
};

} // namespace platform

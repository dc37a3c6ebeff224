// Read-only access to the entries of a zip file, for office documents, EPUB and iWork packages.
//
// Packages come from anywhere, so nothing in the archive is trusted: the sizes in the headers
// may lie, entries may inflate a thousandfold, the file may be cut short. Entries are inflated
// in a loop that counts the bytes actually produced against the context's per-entry cap, its
// budget for the whole job and a compression-ratio limit, and stops at the first one crossed;
// a checksum mismatch or a short stream is an error, never silently partial data.
//
// Threads: an archive is used by one thread at a time (minizip keeps a cursor).
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class ZipArchive {
public:
    // Tuning: archives listing more entries than this are refused (no document needs them).
    static constexpr int kMaxEntries = 100000;

    struct Entry {
        QString name;
        quint64 compressedSize = 0;
        quint64 uncompressedSize = 0;
        quint64 posInDirectory = 0;
        quint64 fileNumber = 0;
    };

    // Fails (Unreadable) for a file that is not a readable zip.
    static Result<ZipArchive> open(const QString& path);

    ZipArchive(ZipArchive&&) noexcept = default;
    ZipArchive& operator=(ZipArchive&&) noexcept = default;
    ~ZipArchive();

    const std::vector<Entry>& entries() const { return m_entries; }
    QStringList entryNames() const;
    // The entry named exactly so, or (when no exact match) ignoring case; null when absent.
    const Entry* find(const QString& name) const;
    bool contains(const QString& name) const { return find(name) != nullptr; }

    // The inflated bytes of an entry, within the context's caps.
    Result<QByteArray> read(const QString& name, ExtractionContext& ctx) const;

    // Inflates gzip data in memory under the same caps (iWork's "index.xml.gz").
    static Result<QByteArray> gunzip(const QByteArray& data, ExtractionContext& ctx);

private:
    struct Closer {
        void operator()(void* handle) const;
    };
    ZipArchive() = default;
    Result<QByteArray> readEntry(const Entry& entry, ExtractionContext& ctx) const;

    std::unique_ptr<void, Closer> m_handle;
    std::vector<Entry> m_entries;
};

// Whether inflating `produced` bytes from `consumed` compressed ones breaks the context's caps;
// the error to report when it does.
std::optional<Error> inflationLimitError(qint64 produced, qint64 consumed, qint64 entryCap,
                                         const ExtractionContext& ctx);

} // namespace platform

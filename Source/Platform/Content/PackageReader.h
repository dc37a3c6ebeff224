// One way to read the parts of a document package, whether it is a folder (iWork and RTFD
// packages as saved by older programs) or a zip file (office documents, EPUB, newer iWork).
//
// Relative names use "/" in both forms. Names that climb out of the package ("..") are refused,
// and folder entries obey the same size caps as zip entries, so callers need not care which
// form they hold.
#pragma once

#include "Platform/Content/ZipArchive.h"

#include <optional>

namespace platform {

class PackageReader {
public:
    // Opens a folder or a zip file; fails (Unreadable) for anything else.
    static Result<PackageReader> open(const QString& path);

    bool isFolder() const { return !m_zip.has_value(); }
    const QString& path() const { return m_path; }

    // The stored name matching `name` (exactly, else ignoring case), or empty when absent.
    QString find(const QString& name) const;
    bool contains(const QString& name) const { return !find(name).isEmpty(); }
    // All file names, relative, "/"-separated (for folders: to a bounded depth).
    QStringList entryNames() const;

    Result<QByteArray> read(const QString& name, ExtractionContext& ctx) const;
    // The first of `names` that is present, read; NotFound when none is.
    Result<QByteArray> readFirst(const QStringList& names, ExtractionContext& ctx) const;

private:
    PackageReader() = default;

    QString m_path;
    std::optional<ZipArchive> m_zip;
};

} // namespace platform

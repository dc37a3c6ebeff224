#include "Platform/Content/PackageReader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

// Tuning: how deep and how many files a folder package is listed.
constexpr int kMaxFolderEntries = 10000;

bool climbsOut(const QString& name)
{
    if (name.startsWith(QLatin1Char('/')))
        return true;
    const QStringList parts = name.split(QLatin1Char('/'));
    return parts.contains(QStringLiteral(".."));
}

} // namespace

Result<PackageReader> PackageReader::open(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return contentError(ContentError::NotFound, QStringLiteral("no such file: %1").arg(path));
    PackageReader reader;
    reader.m_path = info.absoluteFilePath();
    if (info.isDir())
        return reader;
    if (!info.isFile())
        return contentError(ContentError::Unreadable, QStringLiteral("not a regular file: %1").arg(path));
    auto zip = ZipArchive::open(path);
    if (!zip)
        return std::unexpected(zip.error());
    reader.m_zip.emplace(std::move(*zip));
    return reader;
}

QString PackageReader::find(const QString& name) const
{
    if (name.isEmpty() || climbsOut(name))
        return {};
    if (m_zip) {
        const ZipArchive::Entry* e = m_zip->find(name);
        return e ? e->name : QString();
    }
    const QString full = m_path + QLatin1Char('/') + name;
    if (QFileInfo(full).isFile())
        return name;
    // Packages written on case-insensitive disks may differ in case from what we ask for.
    const QString folder = QFileInfo(full).path();
    const QString leaf = QFileInfo(full).fileName();
    const QStringList siblings = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& s : siblings) {
        if (s.compare(leaf, Qt::CaseInsensitive) == 0)
            return QDir(m_path).relativeFilePath(folder + QLatin1Char('/') + s);
    }
    return {};
}

QStringList PackageReader::entryNames() const
{
    if (m_zip)
        return m_zip->entryNames();
    QStringList names;
    QDirIterator it(m_path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    const QDir root(m_path);
    while (it.hasNext() && names.size() < kMaxFolderEntries)
        names.append(root.relativeFilePath(it.next()));
    return names;
}

Result<QByteArray> PackageReader::read(const QString& name, ExtractionContext& ctx) const
{
    const QString stored = find(name);
    if (stored.isEmpty())
        return contentError(ContentError::NotFound, QStringLiteral("no \"%1\" in the package").arg(name));
    if (m_zip)
        return m_zip->read(stored, ctx);

    // The same caps as an inflated entry, so a package folder cannot bring in a huge file either.
    QFile file(m_path + QLatin1Char('/') + stored);
    if (!file.open(QIODevice::ReadOnly))
        return contentError(ContentError::Unreadable, QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
    const qint64 cap = qMin(ctx.limits().maxEntryBytes, ctx.bytesLeft());
    if (file.size() > cap)
        return contentError(ContentError::TooLarge, QStringLiteral("%1 is larger than %2 bytes").arg(file.fileName()).arg(cap));
    QByteArray data = file.read(cap);
    ctx.chargeBytes(data.size());
    return data;
}

Result<QByteArray> PackageReader::readFirst(const QStringList& names, ExtractionContext& ctx) const
{
    for (const QString& name : names) {
        if (contains(name))
            return read(name, ctx);
    }
    return contentError(ContentError::NotFound, QStringLiteral("none of %1 in the package").arg(names.join(QStringLiteral(", "))));
}

} // namespace platform

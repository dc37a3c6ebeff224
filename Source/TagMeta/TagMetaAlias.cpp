#include "TagMeta/TagMetaAlias.h"

#include "Platform/Foundation/PropertyList.h"

#include <QFile>
#include <QStringDecoder>
#include <QVariantMap>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

std::optional<TagMetaAlias> statRecord(int dirFd, const QByteArray& encodedPath)
{
    struct statx stx {};
    if (::statx(dirFd, encodedPath.constData(), AT_SYMLINK_NOFOLLOW,
                STATX_INO | STATX_SIZE | STATX_BTIME, &stx) != 0)
        return std::nullopt;
    TagMetaAlias alias;
    alias.device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    alias.inode = stx.stx_ino;
    alias.size = qint64(stx.stx_size);
    if (stx.stx_mask & STATX_BTIME)
        alias.birthTimeNs = qint64(stx.stx_btime.tv_sec) * 1000000000 + stx.stx_btime.tv_nsec;
    return alias;
}

bool sameFile(const TagMetaAlias& a, const TagMetaAlias& b)
{
    if (a.device != b.device || a.inode != b.inode)
        return false;
    if (a.birthTimeNs != 0 && b.birthTimeNs != 0)
        return a.birthTimeNs == b.birthTimeNs;
    return a.size == b.size;
}

} // namespace

std::optional<TagMetaAlias> TagMetaAlias::forPath(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    auto alias = statRecord(AT_FDCWD, QFile::encodeName(path));
    if (alias)
        alias->path = path;
    return alias;
}

std::optional<TagMetaAlias> TagMetaAlias::fromData(const QByteArray& data)
{
    if (data.isEmpty())
        return std::nullopt;
    const auto value = platform::PropertyList::read(data);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value->toMap();
    bool okDevice = false, okInode = false;
    TagMetaAlias alias;
    alias.device = map.value(QStringLiteral("device")).toULongLong(&okDevice);
    alias.inode = map.value(QStringLiteral("inode")).toULongLong(&okInode);
    alias.birthTimeNs = map.value(QStringLiteral("birth")).toLongLong();
    alias.size = map.value(QStringLiteral("size")).toLongLong();
    alias.path = map.value(QStringLiteral("path")).toString();
    if (!okDevice || !okInode || alias.path.isEmpty())
        return std::nullopt;
    return alias;
}

QByteArray TagMetaAlias::toData() const
{
    // Signed 64-bit fields in the property list; the bit patterns of the unsigned ones survive.
    const QVariantMap map{{QStringLiteral("device"), qint64(device)},
                          {QStringLiteral("inode"), qint64(inode)},
                          {QStringLiteral("birth"), birthTimeNs},
                          {QStringLiteral("size"), size},
                          {QStringLiteral("path"), path}};
    return platform::PropertyList::write(map, platform::PlistFormat::Binary).value_or(QByteArray());
}

bool TagMetaAlias::matchesFile(const QString& candidate) const
{
    const auto other = forPath(candidate);
    if (!other)
        return false;
    return sameFile(*this, *other);
}

QString TagMetaAlias::resolve() const
{
    if (matchesFile(path))
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    const QString folder = slash == 0 ? QStringLiteral("/") : path.left(slash);
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return QString();
    QString found;
    while (struct dirent* ent = ::readdir(dir)) {
        if (quint64(ent->d_ino) != inode)
            continue;
        const QByteArray raw(ent->d_name);
        if (raw == "." || raw == "..")
            continue;
        auto candidate = statRecord(::dirfd(dir), raw);
        if (!candidate || !sameFile(*this, *candidate))
            continue;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString name = decoder.decode(raw);
        if (decoder.hasError())
            continue; // a name with no faithful text form cannot be handed back as a path
        found = folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
        break;
    }
    ::closedir(dir);
    return found;
}

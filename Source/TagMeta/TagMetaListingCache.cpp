#include "TagMeta/TagMetaListingCache.h"

#include <QFile>
#include <QStringDecoder>

#include <dirent.h>
#include <sys/stat.h>

TagMetaListingCache& TagMetaListingCache::shared()
{
    static TagMetaListingCache cache;
    return cache;
}

bool TagMetaListingCache::stampOf(const QString& folder, Stamp* stamp)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return false;
    *stamp = Stamp{qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec)};
    return true;
}

QList<QByteArray> TagMetaListingCache::rawNames(const QString& folder)
{
    QList<QByteArray> names;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (struct dirent* ent = ::readdir(dir)) {
        const QByteArray name(ent->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

QStringList TagMetaListingCache::names(const QString& folder)
{
    Stamp stamp;
    const bool exists = stampOf(folder, &stamp);
    std::lock_guard lock(m_namesLock);
    auto it = m_names.constFind(folder);
    if (exists && it != m_names.constEnd() && it->modDate == stamp)
        return it->files;
    QStringList files;
    for (const QByteArray& raw : rawNames(folder)) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString name = decoder.decode(raw);
        if (!decoder.hasError())
            files.append(name);
    }
    if (exists)
        m_names.insert(folder, NamesEntry{files, stamp});
    else
        m_names.remove(folder);
    return files;
}

QByteArray TagMetaListingCache::mashedNames(const QString& folder)
{
    Stamp stamp;
    const bool exists = stampOf(folder, &stamp);
    std::lock_guard lock(m_mashedLock);
    auto it = m_mashed.constFind(folder);
    if (exists && it != m_mashed.constEnd() && it->modDate == stamp)
        return it->mashedFileNames;
    QByteArray mashed;
    for (const QByteArray& raw : rawNames(folder))
        mashed += raw;
    mashed.append('\0');
    if (exists)
        m_mashed.insert(folder, MashedEntry{mashed, stamp});
    else
        m_mashed.remove(folder);
    return mashed;
}

void TagMetaListingCache::clear()
{
    {
        std::lock_guard lock(m_namesLock);
        m_names.clear();
    }
    std::lock_guard lock(m_mashedLock);
    m_mashed.clear();
}

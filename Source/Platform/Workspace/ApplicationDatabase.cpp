#include "Platform/Workspace/ApplicationDatabase.h"

#include "Platform/Workspace/MimeAppsList.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMimeDatabase>
#include <algorithm>

namespace platform {

ApplicationDatabase& ApplicationDatabase::shared()
{
    static ApplicationDatabase database;
    return database;
}

std::optional<DesktopEntry> ApplicationDatabase::cachedRead(const QString& path, const QString& id,
                                                            const QStringList& languages)
{
    const QFileInfo info(path);
    const qint64 mtime = info.lastModified().toMSecsSinceEpoch();
    std::lock_guard lock(m_mutex);
    if (languages != m_languages) {
        m_cache.clear();
        m_languages = languages;
    }
    auto it = m_cache.find(path);
    if (it != m_cache.end() && it->size == info.size() && it->mtime == mtime) {
        if (it->entry)
            it->entry->id = id; // the same file may be reached under another folder's ID
        return it->entry;
    }
    CachedEntry cached{info.size(), mtime, std::nullopt};
    if (auto entry = DesktopEntry::read(path, id, languages))
        cached.entry = *entry;
    m_cache.insert(path, cached);
    return cached.entry;
}

ApplicationDatabase::Snapshot ApplicationDatabase::snapshot()
{
    const QStringList languages = DesktopEntry::languagesFromEnvironment();
    Snapshot s;
    for (const QString& dataDir : xdgDataDirs()) {
        const QString base = dataDir + QStringLiteral("/applications");
        if (!QFileInfo(base).isDir())
            continue;
        QStringList relative;
        QDirIterator it(base, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            relative.append(QDir(base).relativeFilePath(it.next()));
        std::sort(relative.begin(), relative.end());
        for (const QString& rel : relative) {
            const QString id = QString(rel).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (s.byId.contains(id))
                continue; // a more important folder already has this ID (perhaps hidden)
            if (auto entry = cachedRead(base + QLatin1Char('/') + rel, id, languages)) {
                s.byId.insert(id, *entry);
                s.order.append(id);
            }
        }
    }
    for (const QString& path : MimeAppsList::filesFromEnvironment())
        if (QFileInfo(path).isFile())
            s.lists.append(MimeAppsList::read(path));
    return s;
}

bool ApplicationDatabase::usable(const Snapshot& s, const QString& id)
{
    auto it = s.byId.constFind(id);
    return it != s.byId.cend() && it->isUsable();
}

QStringList ApplicationDatabase::associations(const Snapshot& s, const QString& mimeType)
{
    QStringList result;
    QStringList removed;
    // A removal hides the application in its own file and every less important one, but an
    // addition in a more important file has already been taken.
    for (const MimeAppsList& list : s.lists) {
        const QStringList here = list.removed.value(mimeType);
        for (const QString& id : list.added.value(mimeType))
            if (!removed.contains(id) && !here.contains(id) && !result.contains(id) && usable(s, id))
                result.append(id);
        removed += here;
    }
    for (const QString& id : s.order) {
        if (result.contains(id) || removed.contains(id) || !usable(s, id))
            continue;
        if (s.byId.value(id).mimeTypes.contains(mimeType))
            result.append(id);
    }
    return result;
}

std::optional<QString> ApplicationDatabase::explicitDefault(const Snapshot& s, const QString& mimeType)
{
    QStringList removed;
    for (const MimeAppsList& list : s.lists) {
        for (const QString& id : list.defaults.value(mimeType))
            if (!removed.contains(id) && usable(s, id))
                return id;
        removed += list.removed.value(mimeType);
    }
    return std::nullopt;
}

QStringList ApplicationDatabase::mimeTypeChain(const QString& mimeType)
{
    const QString name = mimeType.trimmed().toLower();
    QStringList chain{name};
    const QMimeType type = QMimeDatabase().mimeTypeForName(name);
    if (type.isValid()) {
        if (!chain.contains(type.name().toLower()))
            chain.append(type.name().toLower()); // an alias resolves to its canonical name
        for (const QString& a : type.allAncestors())
            if (!chain.contains(a.toLower()))
                chain.append(a.toLower());
    }
    return chain;
}

QList<DesktopEntry> ApplicationDatabase::applicationsForMimeType(const QString& mimeType)
{
    const Snapshot s = snapshot();
    const QStringList chain = mimeTypeChain(mimeType);
    QStringList ids;
    for (const QString& t : chain) {
        if (auto d = explicitDefault(s, t)) {
            ids.append(*d);
            break;
        }
    }
    for (const QString& t : chain)
        for (const QString& id : associations(s, t))
            if (!ids.contains(id))
                ids.append(id);
    QList<DesktopEntry> result;
    for (const QString& id : ids)
        result.append(s.byId.value(id));
    return result;
}

std::optional<DesktopEntry> ApplicationDatabase::defaultApplicationForMimeType(const QString& mimeType)
{
    const QList<DesktopEntry> all = applicationsForMimeType(mimeType);
    if (all.isEmpty())
        return std::nullopt;
    return all.first();
}

std::optional<DesktopEntry> ApplicationDatabase::applicationForId(const QString& id)
{
    if (id.isEmpty())
        return std::nullopt;
    const QString full = id.endsWith(QLatin1String(".desktop")) ? id : id + QStringLiteral(".desktop");
    const Snapshot s = snapshot();
    if (!usable(s, full))
        return std::nullopt;
    return s.byId.value(full);
}

std::optional<DesktopEntry> ApplicationDatabase::applicationForPath(const QString& path)
{
    if (!path.endsWith(QLatin1String(".desktop")) || !QFileInfo(path).isFile())
        return std::nullopt;
    auto entry = cachedRead(path, QFileInfo(path).fileName(), DesktopEntry::languagesFromEnvironment());
    if (!entry || !entry->isUsable())
        return std::nullopt;
    // The entry's own ID when it lies in an applications folder, so associations still match.
    for (const QString& dataDir : xdgDataDirs()) {
        const QString base = dataDir + QStringLiteral("/applications/");
        if (path.startsWith(base)) {
            entry->id = path.mid(base.size()).replace(QLatin1Char('/'), QLatin1Char('-'));
            break;
        }
    }
    return entry;
}

QList<DesktopEntry> ApplicationDatabase::allApplications()
{
    const Snapshot s = snapshot();
    QList<DesktopEntry> result;
    for (const QString& id : s.order)
        if (usable(s, id))
            result.append(s.byId.value(id));
    return result;
}

} // namespace platform

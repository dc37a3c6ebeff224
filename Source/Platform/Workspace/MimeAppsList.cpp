#include "Platform/Workspace/MimeAppsList.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Workspace/KeyFile.h"

#include <QFile>

namespace platform {

namespace {

QStringList absoluteList(const char* variable, const QString& fallback)
{
    QStringList dirs;
    QString value = qEnvironmentVariable(variable);
    if (value.trimmed().isEmpty())
        value = fallback;
    for (const QString& d : value.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (d.startsWith(QLatin1Char('/')) && !dirs.contains(d))
            dirs.append(d);
    return dirs;
}

QHash<QString, QStringList> groupOf(const KeyFile& file, const QString& group)
{
    QHash<QString, QStringList> map;
    for (const KeyFile::Line& l : file.entries(group)) {
        QStringList& ids = map[l.key.toLower()];
        for (const QString& id : KeyFile::splitList(l.value))
            if (!ids.contains(id.trimmed()))
                ids.append(id.trimmed());
    }
    return map;
}

} // namespace

QStringList xdgDataDirs()
{
    QStringList dirs{Paths::dataHome()};
    for (const QString& d : absoluteList("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share")))
        if (!dirs.contains(d))
            dirs.append(d);
    return dirs;
}

QStringList xdgConfigDirs()
{
    QStringList dirs{Paths::configHome()};
    for (const QString& d : absoluteList("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")))
        if (!dirs.contains(d))
            dirs.append(d);
    return dirs;
}

MimeAppsList MimeAppsList::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return MimeAppsList{path, {}, {}, {}};
    return parse(file.readAll(), path);
}

MimeAppsList MimeAppsList::parse(const QByteArray& data, const QString& path)
{
    const KeyFile file = KeyFile::parse(data);
    MimeAppsList list;
    list.path = path;
    list.defaults = groupOf(file, QStringLiteral("Default Applications"));
    list.added = groupOf(file, QStringLiteral("Added Associations"));
    list.removed = groupOf(file, QStringLiteral("Removed Associations"));
    return list;
}

QStringList MimeAppsList::filesFromEnvironment()
{
    QStringList desktops;
    for (const QString& d : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops.append(d.toLower());
    auto namesIn = [&](const QString& dir, bool withLegacy) {
        QStringList files;
        for (const QString& d : desktops)
            files.append(QStringLiteral("%1/%2-mimeapps.list").arg(dir, d));
        files.append(dir + QStringLiteral("/mimeapps.list"));
        if (withLegacy)
            files.append(dir + QStringLiteral("/defaults.list"));
        return files;
    };
    QStringList files;
    for (const QString& dir : xdgConfigDirs())
        files += namesIn(dir, false);
    for (const QString& dir : xdgDataDirs())
        files += namesIn(dir + QStringLiteral("/applications"), true);
    return files;
}

} // namespace platform

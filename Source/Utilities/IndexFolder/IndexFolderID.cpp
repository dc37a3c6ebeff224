#include "Utilities/IndexFolder/IndexFolderID.h"

#include "Platform/Foundation/StringHash.h"

quint64 indexFolderIDForPath(const QString& folderPath)
{
    return platform::stringHash(folderPath.toLower());
}

QString folderOfPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString lastComponentOfPath(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

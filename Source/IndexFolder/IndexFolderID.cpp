#include "IndexFolder/IndexFolderID.h"

#include "Store/DBHelper.h"

quint64 indexFolderIDForPath(const QString& folderPath)
{
    // One formula for both stores, or documents and rows would name different folders.
    return DBHelper::folderIDForFolderPath(folderPath);
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

#include "Import/KPFileFormatManager.h"

#include "Import/KPFileWalker.h"
#include "Import/KPImportText.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/TextFolding.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <sys/stat.h>

namespace {

const QString kUnSupportKindIDsKey = QStringLiteral("String_UnSupportKindIDS");

QVariantList loadBundleSupportList()
{
    const QString path = platform::Bundle::mainBundle().pathForResource(
        QStringLiteral("SupportFileList"), QStringLiteral("plist"));
    if (path.isEmpty()) {
        KPLogLogMessage(QStringLiteral("SupportFileList.plist is missing from the bundle"));
        return {};
    }
    const auto plist = platform::PropertyList::readFile(path);
    if (!plist) {
        KPLogLogMessage(QStringLiteral("SupportFileList.plist: %1").arg(plist.error().toString()));
        return {};
    }
    return plist->toMap().value(QStringLiteral("SupportList")).toList();
}

QStringList splitExtensions(const QVariant& value)
{
    QStringList pieces;
    if (value.typeId() != QMetaType::QString)
        return pieces;
    for (const QString& piece : value.toString().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString ext = piece.trimmed();
        if (!ext.isEmpty())
            pieces.append(ext);
    }
    return pieces;
}

bool rowHasID(const QVariantMap& row, qint64 kindID)
{
    bool ok = false;
    const qint64 id = row.value(QStringLiteral("ID")).toLongLong(&ok);
    return ok && id == kindID;
}

} // namespace

KPFileFormatManager& KPFileFormatManager::fileFormatManager()
{
    static KPFileFormatManager shared(loadBundleSupportList());
    return shared;
}

KPFileFormatManager::KPFileFormatManager(const QVariantList& supportList)
{
    for (const QVariant& value : supportList) {
        if (value.typeId() != QMetaType::QVariantMap)
            continue; // a damaged row must not take the whole table with it
        const QVariantMap row = value.toMap();
        m_supportFormatList.append(row);
        m_rows.append(row);
        const QStringList extensions = splitExtensions(row.value(QStringLiteral("Extension")));
        m_extensionList += extensions;
        for (const QString& ext : extensions)
            m_extensionSet.insert(ext.toLower());
        m_kindList.append(row.value(QStringLiteral("Name")).toString());
        const QString group = row.value(QStringLiteral("Group")).toString();
        m_groupNameList.insert(group);
        m_groupList[group] += extensions;
    }
    reloadUnSupportKindIDS();
}

void KPFileFormatManager::reloadUnSupportKindIDS()
{
    const QString stored = platform::UserDefaults::standardUserDefaults().stringForKey(kUnSupportKindIDsKey);
    QStringList ids = stored.split(QLatin1Char(','), Qt::SkipEmptyParts);
    QStringList extensions;
    for (QString& id : ids) {
        id = id.trimmed();
        bool ok = false;
        const qint64 kindID = id.toLongLong(&ok);
        if (ok)
            extensions += extenstionsByKindID(kindID);
    }
    QSet<QString> extensionSet;
    for (const QString& ext : extensions)
        extensionSet.insert(ext.toLower());

    std::lock_guard lock(m_unSupportLock);
    m_unSupportKindIDS = ids;
    m_unSupportExtensionList = extensions;
    m_unSupportExtensionSet = extensionSet;
}

QStringList KPFileFormatManager::unSupportKindIDS() const
{
    std::lock_guard lock(m_unSupportLock);
    return m_unSupportKindIDS;
}

QStringList KPFileFormatManager::unSupportExtensionList() const
{
    std::lock_guard lock(m_unSupportLock);
    return m_unSupportExtensionList;
}

bool KPFileFormatManager::isSwitchedOff(const QString& lowerExt) const
{
    std::lock_guard lock(m_unSupportLock);
    return m_unSupportExtensionSet.contains(lowerExt);
}

QString KPFileFormatManager::lowerExtension(const QString& path)
{
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QString();
    return name.mid(dot + 1).toLower();
}

const QSet<QString>& KPFileFormatManager::excludedPackageExtensions()
{
    // "crdownlad" is how the table has always spelt it; kept so behaviour does not change.
    static const QSet<QString> excluded{
        QStringLiteral("crdownlad"), QStringLiteral("download"),    QStringLiteral("app"),
        QStringLiteral("plugin"),    QStringLiteral("qlgenerator"), QStringLiteral("component"),
        QStringLiteral("xcodeproj"), QStringLiteral("bundle"),      QStringLiteral("ibplugin")};
    return excluded;
}

bool KPFileFormatManager::checkFileIsSupportImport(const QString& path) const
{
    const QString ext = lowerExtension(path);
    if (ext.isEmpty() || isSwitchedOff(ext))
        return false;
    return m_extensionSet.contains(ext);
}

bool KPFileFormatManager::checkFileIsSupportByFilePath(const QString& path) const
{
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.startsWith(QLatin1Char('.')))
        return false;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode))
        return false;
    return checkFileIsSupportImport(path);
}

bool KPFileFormatManager::checkFolderIsSupport(const QString& path) const
{
    return !excludedPackageExtensions().contains(lowerExtension(path));
}

bool KPFileFormatManager::checkFileIsSupportByFiles(const QStringList& paths) const
{
    for (const QString& path : paths) {
        if (checkFileIsSupportImport(path))
            return true;
    }
    return false;
}

bool KPFileFormatManager::isExistFolder(const QStringList& paths) const
{
    for (const QString& path : paths) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        if (!checkFolderIsSupport(path))
            continue;
        return !checkFileIsSupportByFilePath(path);
    }
    return false;
}

const QVariantMap* KPFileFormatManager::rowForExtension(const QString& extension) const
{
    if (extension.isEmpty())
        return nullptr;
    // An extension is a file's text, never a pattern: "*" or "?" in a name must not match
    // another kind.
    for (const QVariantMap& row : m_rows) {
        for (const QString& ext : splitExtensions(row.value(QStringLiteral("Extension")))) {
            if (platform::equalsFolded(extension, ext, platform::FoldOptions::CaseAndDiacriticInsensitive))
                return &row;
        }
    }
    return nullptr;
}

QString KPFileFormatManager::kindNameByExtenstion(const QString& extension) const
{
    const QVariantMap* row = rowForExtension(extension);
    if (!row || !row->contains(QStringLiteral("Name")))
        return KPImportText::unknownKind();
    return row->value(QStringLiteral("Name")).toString();
}

QString KPFileFormatManager::kindNameByKindID(qint64 kindID) const
{
    for (const QVariantMap& row : m_rows) {
        if (rowHasID(row, kindID) && row.contains(QStringLiteral("Name")))
            return row.value(QStringLiteral("Name")).toString();
    }
    return KPImportText::unknownKind();
}

qint64 KPFileFormatManager::kindIDByExtenstion(const QString& extension) const
{
    const QVariantMap* row = rowForExtension(extension);
    if (!row)
        return -1;
    bool ok = false;
    const qint64 id = row->value(QStringLiteral("ID")).toLongLong(&ok);
    return ok ? id : -1;
}

qint64 KPFileFormatManager::kindIDByKindName(const QString& name) const
{
    for (const QVariantMap& row : m_rows) {
        if (row.value(QStringLiteral("Name")).toString() == name && row.contains(QStringLiteral("Name")))
            return row.value(QStringLiteral("ID")).toLongLong();
    }
    return 0;
}

QStringList KPFileFormatManager::extenstionsByKindID(qint64 kindID) const
{
    for (const QVariantMap& row : m_rows) {
        if (rowHasID(row, kindID))
            return splitExtensions(row.value(QStringLiteral("Extension")));
    }
    return {};
}

// The manager's own walk copies keep one lost list for every call, as the filter does per import.

QStringList KPFileFormatManager::fileListByFolders(const QStringList& paths)
{
    KPFileWalker walker(*this, m_isStop, {}, KPFileWalker::defaultLibraryPath());
    const QStringList files = walker.fileListByFolders(paths);
    std::lock_guard lock(m_walkLock);
    m_lostFiles += walker.takeLost();
    return files;
}

QStringList KPFileFormatManager::folderChildren(const QString& path)
{
    KPFileWalker walker(*this, m_isStop, {}, KPFileWalker::defaultLibraryPath());
    const QStringList files = walker.folderChildren(path);
    std::lock_guard lock(m_walkLock);
    m_lostFiles += walker.takeLost();
    return files;
}

QStringList KPFileFormatManager::deleteNoSupportFormatFiles(const QStringList& paths)
{
    KPFileWalker walker(*this, m_isStop, {}, KPFileWalker::defaultLibraryPath());
    const QStringList files = walker.deleteNoSupportFormatFiles(paths);
    std::lock_guard lock(m_walkLock);
    m_lostFiles += walker.takeLost();
    return files;
}

std::shared_ptr<KPFileSysytemItem> KPFileFormatManager::fileSystemItemByPaths(const QStringList& paths)
{
    KPFileWalker walker(*this, m_isStop, {false, false}, KPFileWalker::defaultLibraryPath());
    auto root = walker.fileSystemItemByPaths(paths, KPImportText::untitledFolder());
    std::lock_guard lock(m_walkLock);
    m_lostFiles += walker.takeLost();
    return root;
}

std::shared_ptr<KPFileSysytemItem> KPFileFormatManager::folderChildrenByPath(const QString& path)
{
    KPFileWalker walker(*this, m_isStop, {false, false}, KPFileWalker::defaultLibraryPath());
    auto item = walker.folderChildrenByPath(path);
    std::lock_guard lock(m_walkLock);
    m_lostFiles += walker.takeLost();
    return item;
}

QStringList KPFileFormatManager::lostFiles() const
{
    std::lock_guard lock(m_walkLock);
    return m_lostFiles;
}

void KPFileFormatManager::clearLostFiles()
{
    std::lock_guard lock(m_walkLock);
    m_lostFiles.clear();
}

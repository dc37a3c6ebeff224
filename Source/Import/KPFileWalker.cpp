#include "Import/KPFileWalker.h"

#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Deeper trees than this are not documents a person dropped; the cap keeps a pathological
// tree (or a bind mount looping back) from exhausting the stack.
constexpr int kMaxFolderDepth = 256;

bool isInvisibleName(const QString& name)
{
    return name.startsWith(QLatin1Char('.'));
}

// Folders and documents given directly are judged by their own last component.
QString lastComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

// A document given by the user is stored under its usable name (".hidden report.pdf" as
// "hidden report.pdf", "..pdf" as "pdf"), so its kind is that name's.
bool isSupportedUnderItsUsableName(const KPFileFormatManager& formats, const QString& name)
{
    return formats.checkFileIsSupportImport(platform::FileManager::usableFileName(name));
}

QString cleanAbsolute(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(QDir(path).absolutePath());
}

} // namespace

KPFileWalker::KPFileWalker(const KPFileFormatManager& formats, const std::atomic<bool>& cancel,
                           Options options, const QString& libraryPath)
    : m_formats(formats)
    , m_cancel(cancel)
    , m_options(options)
    , m_libraryPath(cleanAbsolute(libraryPath))
{
}

QString KPFileWalker::defaultLibraryPath()
{
    return platform::Paths::expandTilde(
        platform::UserDefaults::standardUserDefaults().stringForKey(QStringLiteral("String_Library_Path")));
}

QStringList KPFileWalker::takeLost()
{
    QStringList lost;
    lost.swap(m_lost);
    return lost;
}

KPFileWalker::Kind KPFileWalker::kindOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return Kind::Missing;
    if (S_ISLNK(st.st_mode))
        return Kind::Link;
    if (S_ISDIR(st.st_mode))
        return Kind::Directory;
    if (S_ISREG(st.st_mode))
        return Kind::Regular;
    return Kind::Other;
}

QList<KPFileWalker::Entry> KPFileWalker::listDirectory(const QString& path)
{
    QList<Entry> entries;
    DIR* dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return entries;
    const int dirFd = ::dirfd(dir);
    while (struct dirent* ent = ::readdir(dir)) {
        const QByteArray raw(ent->d_name);
        if (raw == "." || raw == "..")
            continue;
        Entry entry;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        entry.name = decoder.decode(raw);
        entry.nameIsValid = !decoder.hasError();
        entry.path = QStringLiteral("%1/%2").arg(path, entry.name);
        struct stat st {};
        if (::fstatat(dirFd, raw.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            entry.kind = Kind::Missing; // vanished since the listing
        else if (S_ISLNK(st.st_mode))
            entry.kind = Kind::Link;
        else if (S_ISDIR(st.st_mode))
            entry.kind = Kind::Directory;
        else if (S_ISREG(st.st_mode))
            entry.kind = Kind::Regular;
        else
            entry.kind = Kind::Other;
        entries.append(entry);
    }
    ::closedir(dir);
    return entries;
}

bool KPFileWalker::isLibraryFolder(const QString& path) const
{
    return !m_libraryPath.isEmpty() && cleanAbsolute(path) == m_libraryPath;
}

QStringList KPFileWalker::fileListByFolders(const QStringList& paths)
{
    QStringList files;
    for (const QString& path : paths) {
        if (m_cancel.load())
            break;
        files += folderChildren(path);
    }
    return files;
}

QStringList KPFileWalker::folderChildren(const QString& path)
{
    QStringList files;
    if (kindOf(path) != Kind::Directory) {
        if (isSupportedUnderItsUsableName(m_formats, lastComponent(path)))
            files.append(path);
        else
            m_lost.append(path);
        return files;
    }
    if (!isLibraryFolder(path))
        walkFlat(path, files, 0);
    return files;
}

void KPFileWalker::walkFlat(const QString& folder, QStringList& out, int depth)
{
    if (depth >= kMaxFolderDepth)
        return;
    const QList<Entry> entries = listDirectory(folder);
    for (const Entry& entry : entries) {
        if (m_cancel.load())
            return;
        if (isInvisibleName(entry.name) || entry.kind == Kind::Link || entry.kind == Kind::Missing)
            continue;
        if (!entry.nameIsValid) {
            m_lost.append(entry.path);
            continue;
        }
        if (entry.kind == Kind::Directory) {
            if (isLibraryFolder(entry.path))
                continue;
            if (!KPFileFormatManager::lowerExtension(entry.name).isEmpty()) {
                if (!m_formats.checkFolderIsSupport(entry.path))
                    continue;
                if (m_formats.checkFileIsSupportImport(entry.path)) {
                    out.append(entry.path);
                    continue;
                }
            }
            walkFlat(entry.path, out, depth + 1);
        } else if (entry.kind == Kind::Regular && m_formats.checkFileIsSupportImport(entry.path)) {
            out.append(entry.path);
        } else {
            // Devices, sockets and pipes are never documents; copying a pipe would block.
            m_lost.append(entry.path);
        }
    }
}

QStringList KPFileWalker::deleteNoSupportFormatFiles(const QStringList& paths)
{
    QStringList kept;
    for (const QString& path : paths) {
        // A hidden item the user handed over is taken under its usable name; a link is not.
        if (kindOf(path) != Kind::Link && isSupportedUnderItsUsableName(m_formats, lastComponent(path)))
            kept.append(path);
        else
            m_lost.append(path);
    }
    return kept;
}

std::shared_ptr<KPFileSysytemItem> KPFileWalker::fileSystemItemByPaths(const QStringList& paths,
                                                                       const QString& rootTitle)
{
    auto root = std::make_shared<KPFileSysytemItem>(rootTitle);
    for (const QString& path : paths) {
        Entry entry;
        entry.path = path;
        entry.name = lastComponent(path);
        entry.kind = kindOf(path);
        treeEntry(entry, *root, 0, true);
    }
    return root;
}

std::shared_ptr<KPFileSysytemItem> KPFileWalker::folderChildrenByPath(const QString& path)
{
    return treeFolder(path, 0);
}

std::shared_ptr<KPFileSysytemItem> KPFileWalker::treeFolder(const QString& path, int depth)
{
    auto item = std::make_shared<KPFileSysytemItem>(path);
    if (depth >= kMaxFolderDepth || isLibraryFolder(path))
        return item;
    const QList<Entry> entries = listDirectory(path);
    for (const Entry& entry : entries)
        treeEntry(entry, *item, depth + 1);
    return item;
}

void KPFileWalker::treeEntry(const Entry& entry, KPFileSysytemItem& into, int depth, bool given)
{
    // Hidden items inside a folder are skipped unseen; one the user named is taken under its
    // usable name, and a hidden folder named so is walked like any other.
    if ((!given && isInvisibleName(entry.name)) || entry.kind == Kind::Link || entry.kind == Kind::Missing)
        return;
    if (!entry.nameIsValid) {
        m_lost.append(entry.path);
        return;
    }
    if (entry.kind == Kind::Directory) {
        if (isLibraryFolder(entry.path))
            return;
        if (!KPFileFormatManager::lowerExtension(entry.name).isEmpty()) {
            if (!m_formats.checkFolderIsSupport(entry.path))
                return;
            if (m_formats.checkFileIsSupportImport(entry.path)) {
                into.addItemByObj(entry.path);
                return;
            }
            if (m_options.listUnknownFoldersInTree)
                m_lost.append(entry.path);
        }
        into.addChildren(treeFolder(entry.path, depth));
        return;
    }
    if (entry.kind == Kind::Regular && isSupportedUnderItsUsableName(m_formats, entry.name))
        into.addItemByObj(entry.path);
    else if (m_options.listUnsupportedFilesInTree)
        m_lost.append(entry.path);
}

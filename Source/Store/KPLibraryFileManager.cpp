#include "Store/KPLibraryFileManager.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Utilities/DateText.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/MD5Generator.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::FileManager;
using platform::Paths;
using platform::Result;

namespace {

const QString kLogDomain = QStringLiteral("DataBase");

std::unexpected<platform::Error> posixFailure(int err, const QString& what)
{
    return std::unexpected(platform::Error::posix(err, what));
}

// The same error with a sentence in front that says what the user was doing.
std::unexpected<platform::Error> explained(const platform::Error& error, const QString& what)
{
    return std::unexpected(platform::Error{error.domain, error.code, QStringLiteral("%1: %2").arg(what, error.message)});
}

bool isCollision(const platform::Error& error)
{
    return error.domain == QLatin1String("POSIX") && (error.code == EEXIST || error.code == ENOTEMPTY);
}

bool isPlainName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".")
        && name != QLatin1String("..") && !name.contains(QChar(0));
}

// "a.pdf" → ("a", "pdf"); "report" → ("report", ""); ".profile" → (".profile", ""), as a
// leading full stop marks a hidden name, not an extension.
std::pair<QString, QString> splitExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return {name, QString()};
    return {name.left(dot), name.mid(dot + 1)};
}

// The longest a name may be on the file systems a library lives on, in bytes of UTF-8.
constexpr qsizetype kMaxNameBytes = 255;

// The longest start of text, ended between whole characters as a reader sees them, whose
// UTF-8 takes at most room bytes.
QString leadingCharacters(const QString& text, qsizetype room)
{
    if (text.toUtf8().size() <= room)
        return text;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype cut = 0;
    for (qsizetype next = characters.toNextBoundary(); next > 0; next = characters.toNextBoundary()) {
        if (QStringView(text).left(next).toUtf8().size() > room)
            break;
        cut = next;
    }
    return text.left(cut);
}

// stem, tag and tail in a row, cut so that the name fits kMaxNameBytes: the stem first, and
// once it is gone the tail (an extension with its full stop), each at its end; the tag (the
// collision number, a few bytes) stays whole. So a name that fits on its own still finds a
// free name once a number is added, even when its extension alone nearly fills the limit.
QString fittedName(const QString& stem, const QString& tag, const QString& tail = {})
{
    const qsizetype tagBytes = tag.toUtf8().size();
    const qsizetype tailBytes = tail.toUtf8().size();
    if (tagBytes + tailBytes <= kMaxNameBytes)
        return leadingCharacters(stem, kMaxNameBytes - tagBytes - tailBytes) + tag + tail;
    return tag + leadingCharacters(tail, kMaxNameBytes - tagBytes);
}

// Candidate n for name: n = 0 is the name itself, then "base_n.ext"; the full stop is always
// written, so "report" continues as "report_1.".
QString candidateName(const QString& name, int n)
{
    if (n == 0)
        return name;
    const auto [base, ext] = splitExtension(name);
    return fittedName(base, QStringLiteral("_%1").arg(n), QLatin1Char('.') + ext);
}

QString lastComponent(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString withSlash(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

const QString kStagingPrefix = QStringLiteral(".folivo-");
const QString kStagingSuffix = QStringLiteral(".part");
// The peer exchange stages each upload in "<library>/.folivo-receive-<UUID>".
const QString kReceiveStagingPrefix = QStringLiteral(".folivo-receive-");
const QString kDocumentsName = QStringLiteral("Documents");
const QString kThumbnailName = QStringLiteral("Thumbnail");

// A hidden, short name in folder for an item that is not complete yet. Short, because the
// document's own name may already be close to the file-name limit.
QString stagingPath(const QString& folder)
{
    return QStringLiteral("%1%2%3%4")
        .arg(withSlash(folder), kStagingPrefix)
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
        .arg(kStagingSuffix);
}

Result<void> createFolderIfMissing(const QString& path)
{
    bool isDirectory = false;
    if (FileManager::fileExists(path, &isDirectory)) {
        if (isDirectory)
            return {};
        return posixFailure(ENOTDIR, QStringLiteral("create the folder %1").arg(path));
    }
    return FileManager::createDirectory(path, false);
}

// Whether any pixel is even partly transparent; an alpha channel alone does not say so.
bool hasTransparentPixels(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return false;
    // Both 32-bit forms keep alpha in the top byte, premultiplied or not.
    const bool argb = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_ARGB32_Premultiplied;
    const QImage pixels = argb ? image : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        QRgb all = 0xffffffffu;
        for (int x = 0; x < pixels.width(); ++x)
            all &= line[x];
        if (qAlpha(all) != 0xff)
            return true;
    }
    return false;
}

// Replaces path with data through a temporary file beside it and a rename, like
// FileManager::writeAtomically but without flushing: for callers that flush the whole file
// system before anything refers to the file.
Result<void> replaceUnflushed(const QString& path, const QByteArray& data)
{
    // A staging name, so that what a killed process leaves is cleared like its staged copies.
    const QByteArray tempName = QFile::encodeName(stagingPath(QFileInfo(path).absolutePath()));
    // 0666 lets the umask decide, as for any new file.
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int err = errno;
        return posixFailure(err, QStringLiteral("write %1").arg(path));
    }
    int err = 0;
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t w = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0) {
            err = errno;
            break;
        }
        done += w;
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        ::unlink(tempName.constData());
        return posixFailure(err, QStringLiteral("write %1").arg(path));
    }
    if (::rename(tempName.constData(), QFile::encodeName(path).constData()) != 0) {
        err = errno;
        ::unlink(tempName.constData());
        return posixFailure(err, QStringLiteral("replace %1").arg(path));
    }
    return {};
}

struct SharedManager {
    std::mutex mutex;
    std::unique_ptr<KPLibraryFileManager> current;
    // Replaced instances are kept, so that a reference taken before a reset stays valid.
    std::vector<std::unique_ptr<KPLibraryFileManager>> retired;
};

SharedManager& shared()
{
    static SharedManager* s = new SharedManager;
    return *s;
}

} // namespace

KPLibraryFileManager& KPLibraryFileManager::defaultManager()
{
    SharedManager& s = shared();
    std::lock_guard lock(s.mutex);
    if (!s.current) {
        const QString folder =
            platform::UserDefaults::standardUserDefaults().stringForKey(QStringLiteral("String_Library_Path"));
        s.current = std::make_unique<KPLibraryFileManager>(Paths::expandTilde(folder));
    }
    return *s.current;
}

void KPLibraryFileManager::resetDefaultManager()
{
    SharedManager& s = shared();
    std::lock_guard lock(s.mutex);
    if (s.current)
        s.retired.push_back(std::move(s.current));
}

KPLibraryFileManager::KPLibraryFileManager(const QString& libraryFolder, const QDateTime& creationDate)
{
    // A trailing "/" would make every relative path lose its leading one.
    m_workFolder = libraryFolder.isEmpty() ? QString() : QDir::cleanPath(libraryFolder);
    m_documentsFolder = m_workFolder + QLatin1Char('/') + kDocumentsName;
    m_dayFolder = QStringLiteral("%1/%2/").arg(m_documentsFolder, dayFolderName(creationDate));
    m_thumbFolder = m_workFolder + QLatin1Char('/') + kThumbnailName;
    m_safeBoxFile = m_workFolder + QStringLiteral("/safebox.db");
    if (auto ok = prepareFolders(); !ok) {
        m_folderError = ok.error().message;
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Library folder: %1").arg(m_folderError));
    }
}

QString KPLibraryFileManager::libraryStoreFile() const { return m_workFolder + QStringLiteral("/library.db"); }
QString KPLibraryFileManager::versionFile() const { return m_workFolder + QStringLiteral("/version.plist"); }
QString KPLibraryFileManager::indexFolder() const { return m_workFolder + QStringLiteral("/Index"); }
QString KPLibraryFileManager::indexFolderStoreFile() const { return indexFolder() + QStringLiteral("/indexFolder.db"); }
QString KPLibraryFileManager::contentIndexFile() const { return indexFolder() + QStringLiteral("/contentIndex.index"); }

QString KPLibraryFileManager::dayFolderName(const QDateTime& date)
{
    return calendarDayText(date);
}

Result<void> KPLibraryFileManager::prepareFolders() const
{
    if (m_workFolder.isEmpty())
        return posixFailure(ENOENT, QStringLiteral("No library folder is set"));
    bool isDirectory = false;
    if (!FileManager::fileExists(m_workFolder, &isDirectory))
        return posixFailure(ENOENT, QStringLiteral("The library folder %1 is missing").arg(m_workFolder));
    if (!isDirectory)
        return posixFailure(ENOTDIR, QStringLiteral("The library folder %1 is not a folder").arg(m_workFolder));
    Result<void> first;
    for (const QString& folder : {m_documentsFolder, m_dayFolder.chopped(1), m_thumbFolder, indexFolder()}) {
        if (auto ok = createFolderIfMissing(folder); !ok && first)
            first = ok;
    }
    return first;
}

Result<QString> KPLibraryFileManager::addFile(const QString& sourcePath, bool) const
{
    return placeIntoFolder(sourcePath, m_dayFolder, false, nullptr);
}

Result<QString> KPLibraryFileManager::addFile(const QString& sourcePath, const QString& relativeFolder, bool) const
{
    const QString folder = CombinFileAbsolutePath(relativeFolder);
    if (folder.isEmpty())
        return posixFailure(EINVAL, QStringLiteral("\"%1\" is not a folder of the library").arg(relativeFolder));
    return placeIntoFolder(sourcePath, withSlash(folder), false, nullptr);
}

Result<QString> KPLibraryFileManager::addFile(const QString& sourcePath, const BeforeClaim& beforeClaim) const
{
    return placeIntoFolder(sourcePath, m_dayFolder, false, nullptr, beforeClaim);
}

Result<QString> KPLibraryFileManager::moveFile(const QString& sourcePath, QString* absFilePath) const
{
    return placeIntoFolder(sourcePath, m_dayFolder, true, absFilePath);
}

Result<QString> KPLibraryFileManager::moveFile(const QString& sourcePath, const BeforeClaim& beforeClaim,
                                               QString* absFilePath) const
{
    return placeIntoFolder(sourcePath, m_dayFolder, true, absFilePath, beforeClaim);
}

Result<QString> KPLibraryFileManager::placeIntoFolder(const QString& sourcePath, const QString& folder, bool move,
                                                      QString* absFilePath, const BeforeClaim& beforeClaim) const
{
    const QString verb = move ? QStringLiteral("move") : QStringLiteral("copy");
    const QString what = QStringLiteral("Could not %1 \"%2\" into the library").arg(verb, sourcePath);
    if (sourcePath.isEmpty() || !isPlainName(lastComponent(sourcePath)))
        return posixFailure(EINVAL, what);
    // An item keeps its name in the library only as a visible one that no working file of the
    // program could have: a hidden name drops out of folder walks, and a staged one is removed
    // at the next opening.
    const QString name = FileManager::usableFileName(lastComponent(sourcePath));
    if (!FileManager::itemExists(sourcePath))
        return posixFailure(ENOENT, what);
    if (folder == m_dayFolder) {
        // The user may have removed today's folder (or the whole Documents folder) meanwhile.
        if (auto ok = prepareFolders(); !ok && !FileManager::fileExists(folder))
            return explained(ok.error(), what);
    } else if (bool isDirectory = false; !FileManager::fileExists(folder, &isDirectory) || !isDirectory) {
        return posixFailure(ENOENT, QStringLiteral("%1: the folder %2 is missing").arg(what, folder));
    }

    // Stage the complete item inside the target folder first, so that the name is claimed
    // only by something whole, and the claim itself is one rename on one file system.
    const QString staged = stagingPath(folder);
    if (auto ok = move ? FileManager::moveItem(sourcePath, staged) : FileManager::copyItem(sourcePath, staged); !ok)
        return explained(ok.error(), what);
    // Nothing may be lost: a copy is dropped, a moved item goes back where it came from.
    const auto giveUp = [&](const platform::Error& error) -> Result<QString> {
        if (!move) {
            (void)FileManager::removeItem(staged);
        } else if (auto back = FileManager::moveItem(staged, sourcePath); !back) {
            return std::unexpected(platform::Error{error.domain, error.code,
                                                   QStringLiteral("%1: %2; the file was left at %3")
                                                       .arg(what, error.message, staged)});
        }
        return explained(error, what);
    };

    StagedItem item;
    if (beforeClaim) {
        struct stat st {};
        if (::lstat(QFile::encodeName(staged).constData(), &st) != 0)
            return giveUp(platform::Error::posix(errno, QStringLiteral("look at %1").arg(staged)));
        item.device = quint64(st.st_dev);
        item.inode = quint64(st.st_ino);
    }
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        const QString candidate = folder + candidateName(name, n);
        if (beforeClaim) {
            item.relativePath = removeAbsolutePath(candidate);
            if (auto noted = beforeClaim(item); !noted)
                return giveUp(noted.error());
        }
        auto claimed = FileManager::moveItem(staged, candidate);
        if (claimed) {
            if (absFilePath)
                *absFilePath = candidate;
            return removeAbsolutePath(candidate);
        }
        if (!isCollision(claimed.error()))
            return giveUp(claimed.error());
    }
    return giveUp(platform::Error::posix(EEXIST, QStringLiteral("no free name")));
}

namespace {

// The one encoding of thumbnails: PNG when a pixel is transparent, else JPEG.
Result<QByteArray> encodedThumbnail(const QImage& image, const QString& what)
{
    const bool transparent = hasTransparentPixels(image);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, transparent ? QByteArrayLiteral("png") : QByteArrayLiteral("jpg"));
    if (transparent)
        writer.setCompression(KPLibraryFileManager::kThumbPngCompression);
    // An unused alpha channel is dropped, so that the JPEG encoder sees plain colour.
    const QImage encoded = transparent || !image.hasAlphaChannel() ? image : image.convertToFormat(QImage::Format_RGB32);
    if (!writer.write(encoded))
        return platform::fail(QStringLiteral("KPLibraryFileManager"), 1,
                              QStringLiteral("%1: %2").arg(what, writer.errorString()));
    return data;
}

} // namespace

Result<QString> KPLibraryFileManager::addThumbByFile(const QString& filePath, const QImage& image,
                                                     ThumbFlush flush) const
{
    const QString what = QStringLiteral("Could not write the thumbnail of \"%1\"").arg(filePath);
    if (filePath.isEmpty() || image.isNull())
        return posixFailure(EINVAL, what);
    auto data = encodedThumbnail(image, what);
    if (!data)
        return std::unexpected(data.error());
    return addThumbData(filePath, *data, flush);
}

Result<QByteArray> KPLibraryFileManager::encodeThumbnail(const QImage& image)
{
    if (image.isNull())
        return posixFailure(EINVAL, QStringLiteral("Could not encode an empty thumbnail"));
    return encodedThumbnail(image, QStringLiteral("Could not encode a thumbnail"));
}

Result<QString> KPLibraryFileManager::addThumbData(const QString& filePath, const QByteArray& encoded,
                                                   ThumbFlush flush) const
{
    const QString what = QStringLiteral("Could not write the thumbnail of \"%1\"").arg(filePath);
    if (filePath.isEmpty() || encoded.isEmpty())
        return posixFailure(EINVAL, what);
    if (auto ok = createFolderIfMissing(m_thumbFolder); !ok)
        return explained(ok.error(), what);
    const QString path = m_workFolder + thumbRelativePath(filePath);
    auto written = flush == ThumbFlush::Now ? FileManager::writeAtomically(path, encoded) : replaceUnflushed(path, encoded);
    if (!written)
        return explained(written.error(), what);
    return removeAbsolutePath(path);
}

Result<void> KPLibraryFileManager::writeThumbnailFile(const QString& absolutePath, const QImage& image)
{
    const QString what = QStringLiteral("Could not write the thumbnail %1").arg(absolutePath);
    if (absolutePath.isEmpty() || image.isNull())
        return posixFailure(EINVAL, what);
    auto data = encodedThumbnail(image, what);
    if (!data)
        return std::unexpected(data.error());
    if (auto written = FileManager::writeAtomically(absolutePath, *data); !written)
        return explained(written.error(), what);
    return {};
}

namespace {

std::mutex& syncSeamMutex()
{
    static std::mutex m;
    return m;
}

KPLibraryFileManager::SyncFunction& syncSeam()
{
    static KPLibraryFileManager::SyncFunction seam;
    return seam;
}

// Opens the file or folder at path without following a link and makes it durable. A link is
// left alone (its target is not ours), an item that is gone needs nothing, and a folder on a
// file system that refuses fsync on folders is as durable as it gets.
Result<void> syncOne(const QString& path, const KPLibraryFileManager::SyncFunction& seam)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ELOOP)
            return {};
        return posixFailure(err, QStringLiteral("open %1").arg(path));
    }
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    const int rc = seam ? seam(fd, path) : ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0 && !(folder && (err == EINVAL || err == EROFS)))
        return posixFailure(err, QStringLiteral("flush %1").arg(path));
    return {};
}

// Starts the write-back of the file at path without waiting for it; a hint, so nothing fails.
void startWriteBack(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(fd);
}

// Flushes that run side by side let the file system commit many of them in one journal
// transaction; one after another, each waits for a commit of its own (2,000 small files on
// ext4: about 0.3 s against 6 s). Below kItemsPerFlushThread items per thread the calling
// thread does it alone.
constexpr int kFlushThreads = 8;
constexpr qsizetype kItemsPerFlushThread = 32;

// Makes every item durable: the write-back of all of them is started first, then each is
// synced. The first failure, if any.
Result<void> syncItems(const QStringList& items, const KPLibraryFileManager::SyncFunction& seam)
{
    for (const QString& item : items)
        startWriteBack(item);
    std::atomic<qsizetype> next{0};
    std::mutex failureMutex;
    Result<void> failure;
    const auto work = [&] {
        for (qsizetype i = next++; i < items.size(); i = next++) {
            if (auto synced = syncOne(items[i], seam); !synced) {
                std::lock_guard lock(failureMutex);
                if (failure)
                    failure = synced;
            }
        }
    };
    const int helpers = int(std::min<qsizetype>(kFlushThreads, items.size() / kItemsPerFlushThread)) - 1;
    std::vector<std::thread> threads;
    for (int t = 0; t < helpers; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads now: the others and this one do the rest
        }
    }
    work();
    for (std::thread& thread : threads)
        thread.join();
    return failure;
}

} // namespace

void KPLibraryFileManager::setSyncFunctionForTesting(SyncFunction sync)
{
    std::lock_guard lock(syncSeamMutex());
    syncSeam() = std::move(sync);
}

Result<void> KPLibraryFileManager::flushItems(const QStringList& absolutePaths) const
{
    SyncFunction seam;
    {
        std::lock_guard lock(syncSeamMutex());
        seam = syncSeam();
    }
    const QString what = QStringLiteral("Could not write to disk in the library %1").arg(m_workFolder);
    // The folders whose entries changed: those holding the items and, inside the library, the
    // ones above them (a day folder made today sits in Documents, which may be new as well).
    QStringList items;
    QStringList folders;
    const auto addFolder = [&](const QString& folder) {
        if (!folder.isEmpty() && !folders.contains(folder))
            folders.append(folder);
    };
    for (const QString& path : absolutePaths) {
        if (path.isEmpty())
            continue;
        items.append(path);
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            // A package: every file and folder in it.
            auto inside = FileManager::subpathsOfDirectory(path);
            if (!inside)
                return explained(inside.error(), what);
            for (const QString& relative : std::as_const(*inside))
                items.append(path + QLatin1Char('/') + relative);
        }
        QString folder = QFileInfo(path).absolutePath();
        addFolder(folder);
        while (checkIsInLibraryFile(folder) && folder != m_workFolder) {
            folder = QFileInfo(folder).absolutePath();
            addFolder(folder);
        }
    }
    if (auto synced = syncItems(items, seam); !synced)
        return explained(synced.error(), what);
    for (const QString& folder : std::as_const(folders)) {
        if (auto synced = syncOne(folder, seam); !synced)
            return explained(synced.error(), what);
    }
    return {};
}

QString KPLibraryFileManager::thumbRelativePath(const QString& filePath)
{
    return QStringLiteral("/%1/%2").arg(kThumbnailName, MD5Generator::createMD5ByString(filePath));
}

QStringList KPLibraryFileManager::removeStagedItems(const QString& libraryFolder)
{
    if (libraryFolder.isEmpty())
        return {};
    const QString library = QDir::cleanPath(libraryFolder);
    const QString documents = library + QLatin1Char('/') + kDocumentsName;
    // Items are staged in the folder they go to: the day folders, now and then another folder
    // of Documents, and the thumbnail folder. Hidden folders (a SafeBox's mount point) are no
    // day folders.
    QStringList folders{documents, library + QLatin1Char('/') + kThumbnailName};
    for (const QString& day : QDir(documents).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
        folders << documents + QLatin1Char('/') + day;
    const QStringList pattern{kStagingPrefix + QLatin1Char('*') + kStagingSuffix};
    QStringList removed;
    for (const QString& folder : std::as_const(folders)) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList(pattern, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            const QString path = dir.filePath(name);
            if (auto gone = FileManager::removeItem(path); !gone) {
                KPLogLogDomainMessage(kLogDomain, 0, gone.error().toString());
                continue;
            }
            removed << path.mid(library.size());
        }
    }
    return removed;
}

QStringList KPLibraryFileManager::receiveStagings(const QString& libraryFolder)
{
    if (libraryFolder.isEmpty())
        return {};
    // What a receive from a peer was writing when the program ended: the received file and
    // the folder unpacked from it, in a folder of their own at the library's top.
    const QDir top(QDir::cleanPath(libraryFolder));
    QStringList stagings;
    for (const QString& name : top.entryList({kReceiveStagingPrefix + QLatin1Char('*')},
                                             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        stagings << top.filePath(name);
    return stagings;
}

QStringList KPLibraryFileManager::removeReceiveStagings(const QStringList& stagings,
                                                        const std::function<bool()>& keepGoing)
{
    QStringList removed;
    for (const QString& path : stagings) {
        if (auto gone = FileManager::removeItem(path, keepGoing); !gone) {
            if (gone.error().code == ECANCELED && !keepGoing())
                break;
            KPLogLogDomainMessage(kLogDomain, 0, gone.error().toString());
            continue;
        }
        removed << path;
    }
    return removed;
}

Result<QString> KPLibraryFileManager::addFolderByName(const QString& name) const
{
    const QString what = QStringLiteral("Could not create the folder \"%1\" in the library").arg(name);
    if (!FileManager::isUsableFileName(name))
        return posixFailure(EINVAL, what);
    if (auto ok = prepareFolders(); !ok && !FileManager::fileExists(m_dayFolder))
        return explained(ok.error(), what);
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        const QString candidate = m_dayFolder + (n == 0 ? name : fittedName(name, QStringLiteral("_%1").arg(n)));
        auto made = FileManager::createDirectory(candidate, false);
        if (made)
            return removeAbsolutePath(candidate) + QLatin1Char('/');
        if (!isCollision(made.error()))
            return explained(made.error(), what);
    }
    return posixFailure(EEXIST, what);
}

QString KPLibraryFileManager::unusableNameReason(const QString& name)
{
    const int problems = FileManager::fileNameProblems(name);
    QStringList reasons;
    if (problems & FileManager::EmptyName)
        reasons << platform::localizedString(QStringLiteral("A file name cannot be empty."));
    // Folder walks skip hidden names, so the document would drop out of its folder's listing.
    if (problems & FileManager::LeadingDot)
        reasons << platform::localizedString(QStringLiteral("A name that starts with a dot would hide the file."));
    if (problems & FileManager::Separator)
        reasons << platform::localizedString(QStringLiteral("A file name cannot contain \"/\"."));
    if (problems & FileManager::NulCharacter)
        reasons << platform::localizedString(QStringLiteral("A file name cannot contain a NUL character."));
    if (problems & FileManager::TooLong)
        reasons << platform::localizedString(
            QStringLiteral("A file name can take at most 255 bytes, its extension included."));
    return reasons.join(QLatin1Char(' '));
}

QString KPLibraryFileManager::newFilePathByName(const QString& fileName) const
{
    if (!FileManager::isUsableFileName(fileName))
        return {};
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        const QString candidate = m_dayFolder + candidateName(fileName, n);
        if (!FileManager::itemExists(candidate))
            return candidate;
    }
    return {};
}

bool KPLibraryFileManager::renameNameByFile(const QString& path, const QString& newName) const
{
    if (path.isEmpty() || !FileManager::isUsableFileName(newName) || !FileManager::itemExists(path))
        return false;
    QString parent = path;
    while (parent.size() > 1 && parent.endsWith(QLatin1Char('/')))
        parent.chop(1);
    parent = parent.left(parent.lastIndexOf(QLatin1Char('/')));
    const QString target = QStringLiteral("%1/%2").arg(parent, newName);
    if (FileManager::itemExists(target))
        return false;
    auto moved = FileManager::moveItem(path, target);
    if (!moved)
        KPLogLogDomainMessage(kLogDomain, 0, moved.error().toString());
    return bool(moved);
}

bool KPLibraryFileManager::checkFileExistInFolder(const QString& path, const QString& folder) const
{
    const QString name = lastComponent(path);
    if (folder.isEmpty() || !isPlainName(name))
        return false;
    return FileManager::itemExists(withSlash(folder) + name);
}

bool KPLibraryFileManager::checkIsInLibraryFile(const QString& path) const
{
    return !path.isEmpty() && !m_workFolder.isEmpty() && Paths::isPathInside(path, m_workFolder);
}

QString KPLibraryFileManager::removeAbsolutePath(const QString& absolutePath) const
{
    if (!checkIsInLibraryFile(absolutePath))
        return {};
    const QString clean = QDir::cleanPath(absolutePath);
    if (clean == m_workFolder)
        return {};
    // Keep a trailing "/" a folder path was given with: the callers build on it.
    QString relative = clean.mid(m_workFolder.size());
    if (absolutePath.endsWith(QLatin1Char('/')) && !relative.endsWith(QLatin1Char('/')))
        relative += QLatin1Char('/');
    return relative;
}

QString KPLibraryFileManager::CombinFileAbsolutePath(const QString& relativePath) const
{
    if (relativePath.isEmpty() || m_workFolder.isEmpty() || !relativePath.startsWith(QLatin1Char('/')))
        return {};
    const QString absolute = m_workFolder + relativePath;
    if (!Paths::isPathInside(absolute, m_workFolder) || QDir::cleanPath(absolute) == m_workFolder)
        return {};
    return absolute;
}

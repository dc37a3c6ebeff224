#include "Utilities/MD5Generator.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/RegularFile.h"
#include "Platform/Foundation/StringHash.h"
#include "Utilities/FileHelpers.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtEndian>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using PieceObserver = std::function<void(const QString&, qint64)>;

std::mutex g_observerMutex;
PieceObserver g_observer;

void notifyPiece(const QString& file, qint64 done)
{
    PieceObserver observer;
    {
        std::lock_guard lock(g_observerMutex);
        observer = g_observer;
    }
    if (observer)
        observer(file, done);
}

QString withoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

// The extension as the program has always read it: after the last dot of the last component,
// where a leading dot ("/x/.profile") does not start one and "name." has none.
QString pathExtension(const QString& path)
{
    const QString clean = withoutTrailingSlashes(path);
    const QString last = clean.mid(clean.lastIndexOf(u'/') + 1);
    const qsizetype dot = last.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    return last.mid(dot + 1);
}

QString firstExisting(const QString& package, const QStringList& names)
{
    for (const QString& name : names) {
        const QString candidate = package + u'/' + name;
        if (platform::FileManager::fileExists(candidate))
            return candidate;
    }
    return package;
}

// Feeds a regular file to the hash; false unless the whole file was read and the path still
// names that same file afterwards (nothing truncated, grew, vanished or was replaced).
bool addFile(QCryptographicHash& hash, const QString& path, bool prefixSize)
{
    // Opened non-blocking and checked before the first read: a FIFO would block the open itself.
    // Read in pieces, so no size is too large.
    auto regular = platform::RegularFile::open(path, -1);
    if (!regular)
        return false;
    QFile& file = **regular;
    struct stat opened {};
    if (::fstat(file.handle(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return false;
    const qint64 expected = opened.st_size;
    if (prefixSize) {
        const quint64 size = qToLittleEndian(quint64(expected));
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(&size), sizeof size));
    }
    QByteArray piece(MD5Generator::kPieceSize, Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        const qint64 got = file.read(piece.data(), piece.size());
        if (got < 0)
            return false;
        if (got == 0)
            break;
        hash.addData(QByteArrayView(piece.constData(), got));
        done += got;
        notifyPiece(path, done);
    }
    if (done != expected)
        return false;
    struct stat now {};
    const QByteArray native = QFile::encodeName(path);
    return ::stat(native.constData(), &now) == 0 && now.st_ino == opened.st_ino
        && now.st_dev == opened.st_dev;
}

QByteArray linkTarget(const QString& path)
{
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target.data(), target.size());
    return length < 0 ? QByteArray() : target.left(length);
}

// Every item below the folder in sorted order: its relative name and kind, and for files their
// size and bytes, for links their target (never followed). Null when any file cannot be read
// or there is none.
QString hashFolder(const QString& root)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    bool ok = true;
    int files = 0;
    const auto walked = platform::FileManager::enumerate(
        root,
        [&](const platform::EnumeratedItem& item) {
            const QByteArray name = item.relativePath.toUtf8() + '\0';
            switch (item.type) {
            case platform::FileType::Regular:
                hash.addData("f");
                hash.addData(name);
                if (!addFile(hash, item.path, true)) {
                    ok = false;
                    return platform::EnumerationControl::Stop;
                }
                ++files;
                break;
            case platform::FileType::Directory:
                hash.addData("d");
                hash.addData(name);
                break;
            case platform::FileType::SymbolicLink:
                hash.addData("l");
                hash.addData(name);
                hash.addData(linkTarget(item.path) + '\0');
                break;
            case platform::FileType::Other:
                // Pipes and sockets have no content to compare, and opening a pipe would block.
                hash.addData("o");
                hash.addData(name);
                break;
            }
            return platform::EnumerationControl::Continue;
        },
        [&](const QString&, const platform::Error&) {
            ok = false;
            return false;
        });
    if (!walked || !ok || files == 0)
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QString hashItem(const QString& path)
{
    const auto attributes = platform::FileManager::attributesOfItem(path, true);
    if (!attributes)
        return {};
    if (attributes->type == platform::FileType::Directory)
        return hashFolder(path);
    if (attributes->type != platform::FileType::Regular)
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!addFile(hash, path, false))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

QString MD5Generator::contentPathForFile(const QString& path)
{
    const QString package = withoutTrailingSlashes(path);
    const QString extension = pathExtension(package);
    if (extension == QLatin1String("key"))
        return firstExisting(package, {QStringLiteral("index.apxl.gz"), QStringLiteral("Index.zip")});
    if (extension == QLatin1String("pages") || extension == QLatin1String("numbers"))
        return firstExisting(package, {QStringLiteral("index.xml.gz"), QStringLiteral("Index.zip")});
    if (extension == QLatin1String("key-tef"))
        return firstExisting(package, {QStringLiteral("index.key/index.apxl.gz"), QStringLiteral("index.key")});
    if (extension == QLatin1String("numbers-tef"))
        return firstExisting(package, {QStringLiteral("index.numbers/index.xml.gz"), QStringLiteral("index.numbers")});
    if (extension == QLatin1String("pages-tef"))
        return firstExisting(package, {QStringLiteral("index.pages/index.xml.gz"), QStringLiteral("index.pages")});
    if (extension == QLatin1String("rtfd"))
        return isRTFDPackage(package) ? firstExisting(package, {QStringLiteral("TXT.rtf")}) : package;
    return package;
}

QString MD5Generator::createMD5ByFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    const auto attributes = platform::FileManager::attributesOfItem(path, true);
    if (!attributes)
        return {};
    // A folder's own size says nothing about its content on Linux, so only files use this rule.
    if (attributes->type == platform::FileType::Regular && attributes->size == 0)
        return createMD5ByString(path);
    if (pathExtension(path).isEmpty())
        return {};
    return hashItem(contentPathForFile(path));
}

QString MD5Generator::createMD5ByString(const QString& text)
{
    return platform::md5Hex(text.toUtf8());
}

QString MD5Generator::createMD5ByFile(const QString& path, const QString& title, qint64 time)
{
    if (path.isEmpty())
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!addFile(hash, path, false))
        return {};
    if (!title.isNull())
        hash.addData(title.toUtf8());
    if (time != 0) {
        const qint64 little = qToLittleEndian(time);
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(&little), sizeof little));
    }
    return QString::fromLatin1(hash.result().toHex());
}

void MD5Generator::setPieceObserverForTesting(std::function<void(const QString&, qint64)> observer)
{
    std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

QString MD5String(const QString& text)
{
    return MD5Generator::createMD5ByString(text);
}

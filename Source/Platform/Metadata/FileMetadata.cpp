#include "Platform/Metadata/FileMetadata.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Metadata/DocumentAuthors.h"
#include "Platform/Metadata/RecentlyUsed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

namespace platform {

namespace {

// Tuning: a comment longer than this is not one a person typed; it is not read.
constexpr qsizetype kMaxCommentBytes = 64 * 1024;
// The Finder-flags word sits at bytes 8-9 of the Finder information, big-endian.
constexpr int kFinderFlagsOffset = 8;

bool startsLikeZip(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head == QByteArrayLiteral("PK\x03\x04") || head == QByteArrayLiteral("PK\x05\x06");
}

// The package content type of an item by its lower-cased extension. iWork documents are
// packages (folders) or their single-file zip form; a ".key" file that is no zip is a key,
// not a presentation.
QString packageType(const QString& extension, const QFileInfo& info)
{
    if (extension == QLatin1String("rtfd"))
        return FileMetadata::kRTFDType;
    if (extension == QLatin1String("app"))
        return info.isDir() ? FileMetadata::kApplicationBundleType : QString();
    QString type;
    if (extension == QLatin1String("pages"))
        type = FileMetadata::kPagesType;
    else if (extension == QLatin1String("numbers"))
        type = FileMetadata::kNumbersType;
    else if (extension == QLatin1String("key"))
        type = FileMetadata::kKeynoteType;
    if (type.isEmpty() || info.isDir() || startsLikeZip(info.filePath()))
        return type;
    return {};
}

// The item a path names, trailing separators and "." components removed; nothing when there
// is none (a dangling link still is an item).
std::optional<QFileInfo> itemAt(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    QFileInfo info(QDir::cleanPath(path));
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    return info;
}

bool isDigitsOnly(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

bool isKnownExtension(const QString& extension)
{
    return !QMimeDatabase().mimeTypesForFileName(QStringLiteral("x.") + extension).isEmpty();
}

quint16 finderFlags(const QByteArray& finderInfo)
{
    if (finderInfo.size() < kFinderFlagsOffset + 2)
        return 0;
    return quint16((quint8(finderInfo[kFinderFlagsOffset]) << 8) | quint8(finderInfo[kFinderFlagsOffset + 1]));
}

int firstTagColour(const QByteArray& tagsValue)
{
    const auto decoded = PropertyList::read(tagsValue);
    if (!decoded)
        return 0;
    for (const QVariant& entry : decoded->toList()) {
        if (entry.typeId() != QMetaType::QString)
            continue;
        const QString text = entry.toString();
        const qsizetype newline = text.indexOf(u'\n');
        if (newline < 0)
            continue;
        bool ok = false;
        const int colour = text.mid(newline + 1).trimmed().toInt(&ok);
        if (ok && colour >= 1 && colour <= 7)
            return colour;
    }
    return 0;
}

} // namespace

QStringList FileMetadata::authors(const QString& path)
{
    const auto info = itemAt(path);
    return info ? DocumentAuthors::read(info->filePath()) : QStringList();
}

QString FileMetadata::displayName(const QString& path)
{
    const auto info = itemAt(path);
    if (!info)
        return {};
    const QString name = info->fileName();
    if (name.isEmpty())
        return info->filePath(); // the root folder
    // A leading dot hides a file; it does not start an extension.
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return name;
    const QString extension = name.mid(dot + 1).toLower();
    const bool isPackage = !packageType(extension, *info).isEmpty();
    if (info->isDir())
        return isPackage ? name.left(dot) : name;
    if (isDigitsOnly(extension))
        return name;
    return isPackage || isKnownExtension(extension) ? name.left(dot) : name;
}

QString FileMetadata::contentType(const QString& path)
{
    const auto info = itemAt(path);
    if (!info)
        return {};
    const QString package = packageType(info->suffix().toLower(), *info);
    if (!package.isEmpty())
        return package;
    return QMimeDatabase().mimeTypeForFile(*info).name();
}

std::optional<QDateTime> FileMetadata::lastUsedDate(const QString& path)
{
    const auto info = itemAt(path);
    if (!info)
        return std::nullopt;
    return RecentlyUsed::lastUsedDate(info->filePath());
}

QString FileMetadata::finderComment(const QString& path)
{
    const auto info = itemAt(path);
    if (!info)
        return {};
    const auto value = XAttr::get(info->filePath(), kFinderCommentAttribute);
    if (!value || value->isEmpty() || value->size() > kMaxCommentBytes)
        return {};
    const auto decoded = PropertyList::read(*value);
    if (!decoded || decoded->typeId() != QMetaType::QString)
        return {};
    return decoded->toString();
}

int FileMetadata::finderLabel(const QString& path)
{
    const auto info = itemAt(path);
    if (!info)
        return 0;
    const QString item = info->filePath();
    const auto finderInfo = XAttr::get(item, kFinderInfoAttribute);
    if (finderInfo) {
        if (const int label = (finderFlags(*finderInfo) >> 1) & 7)
            return label;
    } else if (!XAttr::isMissing(finderInfo.error()) && !XAttr::isNotSupported(finderInfo.error())) {
        return 0; // the item's attributes cannot be read
    }
    const auto tags = XAttr::get(item, kFinderTagsAttribute);
    return tags && !tags->isEmpty() ? firstTagColour(*tags) : 0;
}

} // namespace platform

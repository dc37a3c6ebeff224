#include "Utilities/FileHelpers.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XAttr.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/FinderInfo.h"
#include "Utilities/GlobalFun.h"
#include "Utilities/HelperServices.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTimeZone>
#include <QUrl>

namespace {

const QString kApplicationBundleType = QStringLiteral("com.apple.application-bundle");
const QString kRTFDType = QStringLiteral("com.apple.rtfd");

// Line breaks of the newline character set; a Finder tag keeps its colour after one.
bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x0085) || c == QChar(0x2028) || c == QChar(0x2029);
}

QString cutBeforeLineBreak(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLineBreak(text[i]))
            return text.left(i);
    }
    return text;
}

// Appends the texts of entries (cut before their first line break) that are not there yet.
void appendTags(QStringList& result, const QVariantList& entries)
{
    for (const QVariant& entry : entries) {
        if (entry.typeId() != QMetaType::QString)
            continue;
        const QString name = cutBeforeLineBreak(entry.toString());
        if (!result.contains(name))
            result.append(name);
    }
}

QString contentTypeOf(const QString& path)
{
    const auto& services = HelperServices::current();
    return services.contentType ? services.contentType(path) : QString();
}

QString lowerExtension(const QString& path)
{
    return QFileInfo(QDir::cleanPath(path)).suffix().toLower();
}

} // namespace

bool isInvisibleFile(const QString& path)
{
    const auto& services = HelperServices::current();
    return !path.isEmpty() && services.isInvisible && services.isInvisible(path);
}

bool isAliasFile(const QString& path)
{
    const auto info = FinderInfo::read(path);
    return info && info->hasFlag(FinderInfo::kIsAlias);
}

bool hasBundleFlag(const QString& path)
{
    const auto info = FinderInfo::read(path);
    return info && info->hasFlag(FinderInfo::kHasBundle);
}

int finderLabelOfFile(const QString& path)
{
    const auto& services = HelperServices::current();
    if (path.isEmpty() || !services.finderLabel)
        return 0;
    return std::clamp(services.finderLabel(path), 0, 7);
}

QStringList finderTagNames(const QVariant& tags)
{
    QStringList names;
    appendTags(names, tags.toList());
    return names;
}

QStringList userTagsOfFile(const QString& path)
{
    QStringList result;
    if (path.isEmpty())
        return result;
    if (const auto tagMetaTags = TagMeta::getUserTags(path)) {
        QVariantList entries;
        for (const QString& tag : *tagMetaTags)
            entries.append(tag);
        appendTags(result, entries);
    }
    const auto finderTags = platform::XAttr::get(path, kFinderTagsAttribute);
    if (finderTags && !finderTags->isEmpty()) {
        // A value that is no property list adds nothing; it is not an error.
        if (const auto decoded = platform::PropertyList::read(*finderTags))
            appendTags(result, decoded->toList());
    }
    return result;
}

std::optional<QStringList> finderTagsOfFile(const QString& path)
{
    const auto value = platform::XAttr::get(path, kFinderTagsAttribute);
    if (!value) {
        if (!platform::XAttr::isMissing(value.error()))
            KPLogLogMessage(QStringLiteral("tags109 error: %1").arg(value.error().toString()));
        return std::nullopt;
    }
    if (value->isEmpty())
        return std::nullopt;
    const auto decoded = platform::PropertyList::read(*value);
    if (!decoded)
        return std::nullopt;
    return finderTagNames(*decoded);
}

QStringList authorsOfFile(const QString& path)
{
    const auto& services = HelperServices::current();
    if (path.isEmpty() || !services.authors || !platform::FileManager::itemExists(path))
        return {};
    return services.authors(path);
}

QString displayNameOfFile(const QString& path)
{
    if (path.isEmpty() || !platform::FileManager::itemExists(path))
        return {};
    const auto& services = HelperServices::current();
    const QString name = services.displayName ? services.displayName(path) : QString();
    if (!name.isEmpty())
        return name;
    // The last component less its extension; a leading dot does not start an extension.
    const QString last = QFileInfo(QDir::cleanPath(path)).fileName();
    const qsizetype dot = last.lastIndexOf(u'.');
    return dot > 0 ? last.left(dot) : last;
}

std::optional<QDateTime> lastUsedDateOfFile(const QString& path)
{
    const auto& services = HelperServices::current();
    if (path.isEmpty() || !services.lastUsedDate || !platform::FileManager::itemExists(path))
        return std::nullopt;
    return services.lastUsedDate(path);
}

QVariant fileAttributeForKey(const QString& path, const QString& key)
{
    if (path.isEmpty())
        return {};
    const auto attributes = platform::FileManager::attributesOfItem(path);
    if (!attributes)
        return {};
    namespace K = FileAttributeKey;
    if (key == K::Size)
        return QVariant::fromValue<qint64>(attributes->size);
    if (key == K::ModificationDate)
        return attributes->modificationDate;
    if (key == K::CreationDate)
        return attributes->creationDate.isValid() ? QVariant(attributes->creationDate) : QVariant();
    if (key == K::PosixPermissions)
        return QVariant::fromValue<qint64>(attributes->permissions);
    if (key == K::SystemFileNumber)
        return QVariant::fromValue<quint64>(attributes->inode);
    if (key == K::SystemNumber)
        return QVariant::fromValue<quint64>(attributes->device);
    if (key == K::OwnerAccountID)
        return QVariant::fromValue<qint64>(attributes->ownerID);
    if (key == K::ReferenceCount)
        return QVariant::fromValue<quint64>(attributes->linkCount);
    if (key == K::Type) {
        switch (attributes->type) {
        case platform::FileType::Regular: return K::TypeRegular;
        case platform::FileType::Directory: return K::TypeDirectory;
        case platform::FileType::SymbolicLink: return K::TypeSymbolicLink;
        case platform::FileType::Other: return K::TypeUnknown;
        }
    }
    return {};
}

std::optional<QDateTime> dateFromUTCDateTime(UTCDateTime value)
{
    if (value.highSeconds == 0 && value.lowSeconds == 0 && value.fraction == 0)
        return std::nullopt;
    static const QDateTime epoch1904(QDate(1904, 1, 1), QTime(0, 0), Qt::UTC);
    const qint64 seconds = (qint64(value.highSeconds) << 32) | value.lowSeconds;
    const qint64 milliseconds = seconds * 1000 + (qint64(value.fraction) * 1000) / 65536;
    const QDateTime date = epoch1904.addMSecs(milliseconds);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

bool setFileDateByKind(const QString& kind, const QDateTime& date, const QString& path)
{
    if (kind == QLatin1String("create"))
        return setFileCreationDate(date, path);
    if (kind == QLatin1String("modification"))
        return setFileModificationDate(date, path);
    return false;
}

bool isApplicationBundle(const QString& path)
{
    if (path.isEmpty() || !platform::FileManager::itemExists(path))
        return false;
    return contentTypeOf(path) == kApplicationBundleType;
}

bool isIWorkDocument(const QString& path)
{
    if (path.isEmpty() || !platform::FileManager::itemExists(path))
        return false;
    static const QStringList iWorkTypes = {
        QStringLiteral("com.apple.iwork.keynote.key"),
        QStringLiteral("com.apple.iwork.numbers.numbers"),
        QStringLiteral("com.apple.iwork.pages.pages"),
    };
    const QString type = contentTypeOf(path);
    if (!type.isEmpty())
        return iWorkTypes.contains(type);
    const QString extension = lowerExtension(path);
    return extension == QLatin1String("key") || extension == QLatin1String("numbers")
        || extension == QLatin1String("pages");
}

bool isRTFDPackage(const QString& path)
{
    if (path.isEmpty() || !platform::FileManager::itemExists(path))
        return false;
    const QString type = contentTypeOf(path);
    if (!type.isEmpty())
        return type == kRTFDType;
    return lowerExtension(path) == QLatin1String("rtfd");
}

QStringList applicationsForFile(const QString& path, QString* defaultApplication)
{
    const auto& services = HelperServices::current();
    if (path.isEmpty() || !services.applications)
        return {};
    QStringList applications = services.applications(path);
    if (applications.isEmpty())
        return {};
    const QString first = applications.takeFirst();
    if (defaultApplication)
        *defaultApplication = first;
    applications.removeAll(first);
    return applications;
}

QString volumeNameForURLString(const QString& urlString)
{
    const QUrl url(urlString);
    const QString path = url.isLocalFile() ? url.toLocalFile() : urlString;
    if (path.isEmpty() || !QFileInfo::exists(path))
        return {};
    const QStorageInfo storage(path);
    if (!storage.isValid())
        return {};
    if (!storage.name().isEmpty())
        return storage.name();
    const QString mountName = QFileInfo(storage.rootPath()).fileName();
    return mountName.isEmpty() ? storage.displayName() : mountName;
}

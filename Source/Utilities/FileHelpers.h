// Small facts about files, as the whole program asks for them: invisibility, alias and bundle
// flags, labels and tags, descriptive metadata (authors, display name, last use), file
// attributes and dates, applications.
//
// Each function stands alone and answers a neutral result (false, 0, an empty list, a null
// text or no date) when the fact cannot be had; nothing here reports an error to the caller.
// Platform facts come through HelperServices; Finder flags from FinderInfo. Any thread.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// The Finder-tags attribute, a property list of "Name" or "Name\n<colour>" texts.
inline const QString kFinderTagsAttribute = QStringLiteral("com.apple.metadata:_kMDItemUserTags");

// Keys of fileAttributeForKey and the values of Type.
namespace FileAttributeKey {
inline const QString Size = QStringLiteral("NSFileSize");
inline const QString ModificationDate = QStringLiteral("NSFileModificationDate");
inline const QString CreationDate = QStringLiteral("NSFileCreationDate");
inline const QString Type = QStringLiteral("NSFileType");
inline const QString PosixPermissions = QStringLiteral("NSFilePosixPermissions");
inline const QString SystemFileNumber = QStringLiteral("NSFileSystemFileNumber");
inline const QString SystemNumber = QStringLiteral("NSFileSystemNumber");
inline const QString OwnerAccountID = QStringLiteral("NSFileOwnerAccountID");
inline const QString ReferenceCount = QStringLiteral("NSFileReferenceCount");

inline const QString TypeRegular = QStringLiteral("NSFileTypeRegular");
inline const QString TypeDirectory = QStringLiteral("NSFileTypeDirectory");
inline const QString TypeSymbolicLink = QStringLiteral("NSFileTypeSymbolicLink");
inline const QString TypeUnknown = QStringLiteral("NSFileTypeUnknown");
} // namespace FileAttributeKey

// A date as file systems of the Mac store it: seconds since 1904-01-01 00:00 UTC in 48 bits
// plus a fraction in 1/65536 s.
struct UTCDateTime {
    quint16 highSeconds = 0;
    quint32 lowSeconds = 0;
    quint16 fraction = 0;
};

bool isInvisibleFile(const QString& path);
bool isAliasFile(const QString& path);
bool hasBundleFlag(const QString& path);
// 0-7; 0 for an item that cannot be read.
int finderLabelOfFile(const QString& path);

// The TagMeta tags, then the Finder tags, each cut before its first line break, each once.
QStringList userTagsOfFile(const QString& path);
// The Finder tags alone; nothing when there are none or the attributes cannot be read.
std::optional<QStringList> finderTagsOfFile(const QString& path);
// The names of a decoded Finder-tags value (texts only, cut before their first line break).
QStringList finderTagNames(const QVariant& tags);

QStringList authorsOfFile(const QString& path);
// The display name, else the last path component without its extension; null for no item.
QString displayNameOfFile(const QString& path);
std::optional<QDateTime> lastUsedDateOfFile(const QString& path);

// One attribute of the item itself (a link is not followed), keyed as above; invalid when the
// item cannot be read or the key is unknown.
QVariant fileAttributeForKey(const QString& path, const QString& key);
std::optional<QDateTime> dateFromUTCDateTime(UTCDateTime value);
// kind "create" or "modification".
bool setFileDateByKind(const QString& kind, const QDateTime& date, const QString& path);

bool isApplicationBundle(const QString& path);
bool isIWorkDocument(const QString& path);
bool isRTFDPackage(const QString& path);

// The applications that open the file other than its default one, whose path goes to
// defaultApplication. Empty when the file has no default application.
QStringList applicationsForFile(const QString& path, QString* defaultApplication = nullptr);

// The name of the volume holding the item of a file URL text (or a plain path); null when
// there is no such item.
QString volumeNameForURLString(const QString& urlString);

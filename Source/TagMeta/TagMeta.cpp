#include "TagMeta/TagMeta.h"

#include "Platform/Foundation/PropertyList.h"
#include "TagMeta/TagMetaAttributes.h"
#include "TagMeta/TagMetaBackup.h"
#include "TagMeta/TagMetaClock.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

const QString kParameterInfo = QStringLiteral("Open Meta parameter error");
const QString kTooBigInfo = QStringLiteral(
    "Meta data is too big - size as binary plist must be less than (perhaps 4k?) some number of bytes");

// Paths that cannot be turned into file-system bytes and back (unpaired surrogates) would
// name some other file, so they are refused like an empty path.
bool hasFileSystemForm(const QString& path)
{
    if (path.isEmpty())
        return false;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= path.size() || !path.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate() || c.unicode() == 0) {
            return false;
        }
    }
    return true;
}

// Keeps the first failure of a sequence of writes while the later writes still run.
void keepFirst(TagMeta::WriteResult& first, const TagMeta::WriteResult& next)
{
    if (first && !next)
        first = next;
}

QString lowered(const QString& tag)
{
    return tag.toLower();
}

QVariant variantList(const QStringList& strings)
{
    return QVariantList(strings.begin(), strings.end());
}

std::optional<QStringList> stringsOf(const std::optional<QVariantList>& list)
{
    if (!list)
        return std::nullopt;
    QStringList strings;
    for (const QVariant& value : *list) {
        // Another program may have stored non-text entries; they are no tags.
        if (value.typeId() == QMetaType::QString)
            strings.append(value.toString());
    }
    return strings;
}

} // namespace

QString TagMeta::tagmetaKey(const QString& key)
{
    return QStringLiteral("org.tagmetainfo:") + key;
}

QString TagMeta::tagmetaTimeKey(const QString& key)
{
    return QStringLiteral("org.tagmetainfo.time:") + key;
}

QString TagMeta::spotlightKey(const QString& key)
{
    return QStringLiteral("com.apple.metadata:") + key;
}

QString TagMeta::errnoString(int err)
{
    char buffer[1024] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = ::strerror_r(err, buffer, sizeof buffer);
    return QStringLiteral("errno error: %1, %2").arg(err).arg(QString::fromLocal8Bit(text));
}

platform::Error TagMeta::tagmetaError(int code, const QString& info)
{
    return platform::Error{kErrorDomain, code, info};
}

platform::Error TagMeta::posixError(int err)
{
    return platform::Error{platform::Error::posix(err, QString()).domain, err, errnoString(err)};
}

bool TagMeta::isPosixError(const platform::Error& error, int err)
{
    return error.domain == posixError(err).domain && error.code == err;
}

TagMeta::WriteResult TagMeta::setXAttr(const QVariant& value, const QString& name, const QString& path)
{
    if (!hasFileSystemForm(path))
        return std::unexpected(tagmetaError(kErrorParameter, kParameterInfo));

    int err = 0;
    if (value.isValid()) {
        const auto encoded = platform::PropertyList::write(value, platform::PlistFormat::Binary);
        if (!encoded)
            return std::unexpected(tagmetaError(kErrorSerialize, encoded.error().message));
        if (encoded->size() > kMaxValueSize)
            return std::unexpected(tagmetaError(kErrorTooBig, kTooBigInfo));
        err = encoded->isEmpty() ? TagMetaAttributes::remove(path, name)
                                 : TagMetaAttributes::set(path, name, *encoded);
    } else {
        err = TagMetaAttributes::remove(path, name);
    }

    if (err == EACCES) {
        // No privileged path exists here, so the refusal stands; nothing was written, nothing
        // is backed up.
        const auto elevated = authenticatedSetXAttr(value, name, path);
        if (!elevated)
            return elevated;
        err = 0;
    }
    if (err == ENOTSUP || err == EOPNOTSUPP) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            KPLogLogDomainMessage(QStringLiteral("TagMeta"), 1,
                                  QStringLiteral("the file system of %1 refuses user extended attributes; tags and "
                                                 "ratings cannot be stored in such files")
                                      .arg(path));
    }
    if (err != 0)
        return std::unexpected(posixError(err));

    if (name.contains(QLatin1String("kMDItemTMUserTags")))
        TagMetaBackup::backupMetadata(path);
    return {};
}

QVariant TagMeta::getXAttr(const QString& name, const QString& path, ErrorSlot* error)
{
    if (!hasFileSystemForm(path)) {
        if (error)
            *error = tagmetaError(kErrorParameter, kParameterInfo);
        return {};
    }
    const auto bytes = TagMetaAttributes::get(path, name, kMaxValueSize);
    if (!bytes) {
        const int err = bytes.error();
        if (err != TagMetaAttributes::kNoAttribute && err != EINVAL && error)
            *error = posixError(err);
        return {};
    }
    if (bytes->isEmpty())
        return {}; // nothing was read, so there is nothing to decode and nothing failed
    auto value = platform::PropertyList::read(*bytes);
    if (!value) {
        if (error)
            *error = tagmetaError(kErrorSerialize, value.error().message);
        return {};
    }
    if (error)
        error->reset();
    return *value;
}

TagMeta::WriteResult TagMeta::setXAttrNoSpotlightMirror(const QVariant& value, const QString& key,
                                                        const QString& path)
{
    WriteResult result = setXAttr(value, tagmetaKey(key), path);
    keepFirst(result, setXAttr(TagMetaClock::now(), tagmetaTimeKey(key), path));
    return result;
}

TagMeta::WriteResult TagMeta::setXAttrMetaData(const QVariant& value, const QString& key, const QString& path)
{
    WriteResult result = setXAttrNoSpotlightMirror(value, key, path);
    keepFirst(result, setXAttr(value, spotlightKey(key), path));
    return result;
}

QVariant TagMeta::getXAttrMetaData(const QString& key, const QString& path, ErrorSlot* error)
{
    return getXAttr(spotlightKey(key), path, error);
}

QVariant TagMeta::getXAttrMetaDataNoSpotlightMirror(const QString& key, const QString& path, ErrorSlot* error)
{
    return getXAttr(tagmetaKey(key), path, error);
}

TagMeta::WriteResult TagMeta::setNSArrayMetaData(const QVariant& array, const QString& key, const QString& path)
{
    const int type = array.typeId();
    if (type != QMetaType::QVariantList && type != QMetaType::QStringList)
        return std::unexpected(tagmetaError(kErrorParameter, kParameterInfo));
    return setXAttrMetaData(array.toList(), key, path);
}

std::optional<QVariantList> TagMeta::getNSArrayMetaData(const QString& key, const QString& path, ErrorSlot* error)
{
    const QVariant value = getXAttrMetaData(key, path, error);
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return value.toList();
}

TagMeta::WriteResult TagMeta::addToNSArrayMetaData(const QVariantList& values, const QString& key,
                                                   const QString& path)
{
    ErrorSlot error;
    QVariantList stored = getNSArrayMetaData(key, path, &error).value_or(QVariantList());
    if (error)
        return std::unexpected(*error);
    bool appended = false;
    for (const QVariant& value : values) {
        if (!stored.contains(value)) {
            stored.append(value);
            appended = true;
        }
    }
    if (!appended)
        return {};
    return setXAttrMetaData(stored, key, path);
}

TagMeta::WriteResult TagMeta::setString(const QString& string, const QString& key, const QString& path)
{
    return setXAttrMetaData(string.isNull() ? QVariant() : QVariant(string), key, path);
}

QString TagMeta::getString(const QString& key, const QString& path, ErrorSlot* error)
{
    const QVariant value = getXAttrMetaData(key, path, error);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool TagMeta::validateAsArrayOfStrings(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return true;
    if (value.typeId() != QMetaType::QVariantList)
        return false;
    const QVariantList list = value.toList();
    return std::all_of(list.begin(), list.end(),
                       [](const QVariant& v) { return v.typeId() == QMetaType::QString; });
}

QStringList TagMeta::decomposeArrayOfStrings(const QStringList& tags)
{
    QStringList decomposed;
    decomposed.reserve(tags.size());
    for (const QString& tag : tags)
        decomposed.append(tag.normalized(QString::NormalizationForm_D));
    return decomposed;
}

QStringList TagMeta::removeDuplicateTags(const QStringList& tags)
{
    const QStringList decomposed = decomposeArrayOfStrings(tags);
    QMap<QString, QString> dict;
    for (const QString& tag : decomposed)
        dict.insert(lowered(tag), tag);
    return orderedArrayWithDict(dict, decomposed);
}

QStringList TagMeta::orderedArrayWithDict(const QMap<QString, QString>& dict, const QStringList& sortHint)
{
    if (sortHint.isEmpty())
        return dict.values();
    QMap<QString, QString> left = dict;
    QStringList ordered;
    for (const QString& hint : sortHint) {
        if (left.remove(lowered(hint)) > 0)
            ordered.append(hint);
    }
    ordered += left.values();
    return ordered;
}

TagMeta::WriteResult TagMeta::setUserTags(const QVariant& tags, const QString& path)
{
    if (!validateAsArrayOfStrings(tags))
        return std::unexpected(tagmetaError(kErrorParameter, kParameterInfo));
    if (!hasFileSystemForm(path))
        return std::unexpected(tagmetaError(kErrorParameter, kParameterInfo));
    const QStringList clean = removeDuplicateTags(tags.toStringList());

    WriteResult result = setXAttrMetaData(TagMetaClock::now(), kMDItemTMUserTagTime, path);
    keepFirst(result, setXAttr(variantList(clean), spotlightKey(kTMUserTags), path));
    keepFirst(result, setXAttr(variantList(clean), tagmetaKey(kTMUserTags), path));
    keepFirst(result, setNSArrayMetaData(variantList(clean), kMDItemTMUserTags, path));
    return result;
}

std::optional<QStringList> TagMeta::getUserTags(const QString& path, ErrorSlot* error)
{
    TagMetaBackup::copyTagsFromOldKeyTokMDItemTMIfNeeded(path);
    return getUserTagsNoRestore(path, error);
}

std::optional<QStringList> TagMeta::getUserTagsNoRestore(const QString& path, ErrorSlot* error)
{
    return stringsOf(getNSArrayMetaData(kMDItemTMUserTags, path, error));
}

TagMeta::WriteResult TagMeta::addUserTags(const QVariant& tags, const QString& path)
{
    if (!validateAsArrayOfStrings(tags))
        return std::unexpected(tagmetaError(kErrorParameter, kParameterInfo));
    ErrorSlot error;
    const QStringList stored = getUserTagsNoRestore(path, &error).value_or(QStringList());
    if (error)
        return std::unexpected(*error);
    const QStringList clean = removeDuplicateTags(stored + tags.toStringList());
    if (clean == stored)
        return {};
    return setUserTags(clean, path);
}

TagMeta::WriteResult TagMeta::clearUserTags(const QVariant& tags, const QString& path)
{
    if (!validateAsArrayOfStrings(tags))
        return std::unexpected(tagmetaError(kErrorParameter, kParameterInfo));
    ErrorSlot error;
    const QStringList stored = getUserTagsNoRestore(path, &error).value_or(QStringList());
    if (error)
        return std::unexpected(*error);
    QSet<QString> drop;
    for (const QString& tag : tags.toStringList())
        drop.insert(lowered(tag));
    QStringList kept;
    for (const QString& tag : stored) {
        if (!drop.contains(lowered(tag)))
            kept.append(tag);
    }
    if (kept.size() == stored.size())
        return {};
    return setUserTags(kept, path);
}

QStringList TagMeta::getCommonUserTags(const QStringList& paths, ErrorSlot* error)
{
    if (paths.size() == 1)
        return getUserTags(paths.first(), error).value_or(QStringList());
    for (const QString& path : paths)
        TagMetaBackup::copyTagsFromOldKeyTokMDItemTMIfNeeded(path);
    for (const QString& path : paths)
        TagMetaBackup::restoreMetadata(path);

    QMap<QString, QString> common;
    QStringList hint;
    bool first = true;
    for (const QString& path : paths) {
        ErrorSlot readError;
        const auto tags = getUserTagsNoRestore(path, &readError);
        if (!tags || tags->isEmpty() || readError) {
            if (readError && error)
                *error = readError;
            return {};
        }
        if (first) {
            for (const QString& tag : *tags)
                common.insert(lowered(tag), tag);
            hint = *tags;
            first = false;
            continue;
        }
        QSet<QString> own;
        for (const QString& tag : *tags)
            own.insert(lowered(tag));
        for (auto it = common.begin(); it != common.end();) {
            if (own.contains(it.key()))
                ++it;
            else
                it = common.erase(it);
        }
        if (common.isEmpty())
            return {};
    }
    return common.isEmpty() ? QStringList() : orderedArrayWithDict(common, hint);
}

TagMeta::WriteResult TagMeta::setCommonUserTags(const QStringList& paths, const QStringList& originalCommonTags,
                                                const QStringList& replaceWith)
{
    if (originalCommonTags.isEmpty() && replaceWith.isEmpty())
        return {};
    QSet<QString> old;
    for (const QString& tag : originalCommonTags)
        old.insert(lowered(tag));

    WriteResult result;
    for (const QString& path : paths) {
        const QStringList tags = getUserTagsNoRestore(path).value_or(QStringList());
        if (tags == replaceWith)
            continue;
        QStringList kept;
        for (const QString& tag : tags) {
            if (!old.contains(lowered(tag)))
                kept.append(tag);
        }
        keepFirst(result, setUserTags(kept + replaceWith, path));
    }
    return result;
}

TagMeta::WriteResult TagMeta::setRating(double rating, const QString& path)
{
    if (std::isnan(rating))
        return std::unexpected(tagmetaError(kErrorParameter, kParameterInfo));
    if (rating <= 0.0)
        return setXAttrMetaData(QVariant(), kMDItemStarRating, path);
    return setXAttrMetaData(std::min(rating, 5.0), kMDItemStarRating, path);
}

double TagMeta::getRating(const QString& path, ErrorSlot* error)
{
    TagMetaBackup::restoreMetadata(path);
    const QVariant value = getXAttrMetaData(kMDItemStarRating, path, error);
    bool ok = false;
    const double rating = value.toDouble(&ok);
    // A rating written by another program may be text, NaN or out of range; callers index
    // star images by it, so it is brought into 0…5.
    if (!ok || std::isnan(rating) || value.typeId() == QMetaType::QString)
        return 0.0;
    return std::clamp(rating, 0.0, 5.0);
}

std::optional<quintptr> TagMeta::getAuthenticationPossiblyUsingUI(const QString&)
{
    return std::nullopt;
}

TagMeta::WriteResult TagMeta::authenticatedSetXAttr(const QVariant&, const QString&, const QString&)
{
    return std::unexpected(posixError(EACCES));
}

// Tags, a star rating and other values of any file, kept in the file's own extended attributes
// in the shared TagMeta layout that other programs read and write too.
//
// Every value is stored three times: as a binary property list under "org.tagmetainfo:" + key,
// the time of the change under "org.tagmetainfo.time:" + key, and a copy under
// "com.apple.metadata:" + key (on Linux each name gets the "user." prefix from XAttr). The
// layout is shared with other programs, so names, encodings and the 4096-byte value limit are
// fixed. There is no state here: the class only groups the operations.
//
// Writes answer an Error or success; a write made of several attribute writes attempts all of
// them and answers the first failure, so a refused copy (ENOSPC on a full ext4 block) is never
// passed off as success. Reads answer the value or a null QVariant and report failures through
// an optional out-parameter that is left untouched when the attribute is simply absent.
//
// Threads: any. Nothing orders concurrent writes to the same file against each other.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

class TagMeta {
public:
    using ErrorSlot = std::optional<platform::Error>;
    using WriteResult = platform::Result<void>;

    // Error domain and codes of the "tagmeta" errors; the fourth kind is the POSIX domain.
    static inline const QString kErrorDomain = QStringLiteral("tagmeta");
    static constexpr int kErrorParameter = -1;
    static constexpr int kErrorSerialize = -2;
    static constexpr int kErrorTooBig = -5;

    // The largest encoded value written or read, fixed by the shared layout.
    static constexpr qsizetype kMaxValueSize = 4096;

    // Keys of the shared layout.
    static inline const QString kMDItemTMUserTags = QStringLiteral("kMDItemTMUserTags");
    static inline const QString kMDItemTMUserTagTime = QStringLiteral("kMDItemTMUserTagTime");
    static inline const QString kTMUserTags = QStringLiteral("kTMUserTags");
    static inline const QString kMDItemStarRating = QStringLiteral("kMDItemStarRating");
    static inline const QString kMDItemFinderComment = QStringLiteral("kMDItemFinderComment");
    static inline const QString kMDItemTMDocumentDate = QStringLiteral("kMDItemTMDocumentDate");
    static inline const QString kMDItemTMManaged = QStringLiteral("kMDItemTMManaged");
    static inline const QString kMDItemTMBookmarks = QStringLiteral("kMDItemTMBookmarks");

    // Attribute names formed from a key.
    static QString tagmetaKey(const QString& key);     // "org.tagmetainfo:" + key
    static QString tagmetaTimeKey(const QString& key); // "org.tagmetainfo.time:" + key
    static QString spotlightKey(const QString& key);   // "com.apple.metadata:" + key

    // "errno error: %d, %s"
    static QString errnoString(int err);

    // One attribute. A null value removes it. A successful write of a tag attribute asks the
    // backup store to back the file up.
    static WriteResult setXAttr(const QVariant& value, const QString& name, const QString& path);
    static QVariant getXAttr(const QString& name, const QString& path, ErrorSlot* error = nullptr);

    // The value, then the current date as its time stamp.
    static WriteResult setXAttrNoSpotlightMirror(const QVariant& value, const QString& key,
                                                 const QString& path);
    // The value, its time stamp and its copy under spotlightKey, which metadata queries read.
    static WriteResult setXAttrMetaData(const QVariant& value, const QString& key, const QString& path);
    static QVariant getXAttrMetaData(const QString& key, const QString& path, ErrorSlot* error = nullptr);
    static QVariant getXAttrMetaDataNoSpotlightMirror(const QString& key, const QString& path,
                                                      ErrorSlot* error = nullptr);

    static WriteResult setNSArrayMetaData(const QVariant& array, const QString& key, const QString& path);
    // The stored value when it is an array.
    static std::optional<QVariantList> getNSArrayMetaData(const QString& key, const QString& path,
                                                          ErrorSlot* error = nullptr);
    // Appends the values the stored array lacks; writes only when something was appended.
    static WriteResult addToNSArrayMetaData(const QVariantList& values, const QString& key,
                                            const QString& path);

    static WriteResult setString(const QString& string, const QString& key, const QString& path);
    // A stored value that is not text reads as a null string.
    static QString getString(const QString& key, const QString& path, ErrorSlot* error = nullptr);

    // User tags. The tag list must be an array of strings (a QStringList or a QVariantList of
    // strings); it is stored in NFD without case-insensitive duplicates.
    static WriteResult setUserTags(const QVariant& tags, const QString& path);
    // After carrying tags over from the old key when those are newer. Nothing when untagged.
    static std::optional<QStringList> getUserTags(const QString& path, ErrorSlot* error = nullptr);
    static std::optional<QStringList> getUserTagsNoRestore(const QString& path, ErrorSlot* error = nullptr);
    static WriteResult addUserTags(const QVariant& tags, const QString& path);
    static WriteResult clearUserTags(const QVariant& tags, const QString& path);
    // The tags every file has, in the first file's spelling and order.
    static QStringList getCommonUserTags(const QStringList& paths, ErrorSlot* error = nullptr);
    // Replaces the shown common tags by the replacement in every file; the first failure.
    static WriteResult setCommonUserTags(const QStringList& paths, const QStringList& originalCommonTags,
                                         const QStringList& replaceWith);

    // A rating of 0 or less removes it; above 5 is stored as 5.
    static WriteResult setRating(double rating, const QString& path);
    // 0.0 when the file has none (after restoring a lost rating from a backup).
    static double getRating(const QString& path, ErrorSlot* error = nullptr);

    // Tag list helpers.
    static bool validateAsArrayOfStrings(const QVariant& value);
    static QStringList decomposeArrayOfStrings(const QStringList& tags);
    static QStringList removeDuplicateTags(const QStringList& tags);
    // lowered tag → tag; hint entries first (in the hint's spelling), then what is left.
    static QStringList orderedArrayWithDict(const QMap<QString, QString>& dict, const QStringList& sortHint);

    // The schema registration file other TagMeta programs read.
    static void registerUsualOMAttributes();
    static void registerOMAttributes(const QVariantMap& attributes, const QString& appName);
    static void removeSchemaFile(const QString& path);
    static QString schemaRegisterFolder();

    // Administrator rights do not exist here: there is never an authorization, and a write the
    // system refused stays refused (EACCES), never a reported success.
    static std::optional<quintptr> getAuthenticationPossiblyUsingUI(const QString& prompt);
    static WriteResult authenticatedSetXAttr(const QVariant& value, const QString& name, const QString& path);

    // Error values in the shapes callers and tests compare against.
    static platform::Error tagmetaError(int code, const QString& info);
    static platform::Error posixError(int err);
    static bool isPosixError(const platform::Error& error, int err);

    TagMeta() = delete;
};

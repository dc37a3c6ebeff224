// The metadata attributes the program asks of a single file: authors, display name, content
// type, last-used date, Finder comment and colour label.
//
// There is no metadata importer running in the background here, so each attribute is read from
// where a Linux desktop keeps that fact, at the moment it is asked for: authors from the
// document itself (DocumentAuthors), the last use from the desktop's recently-used list
// (RecentlyUsed), comment and label from the file's extended attributes (the same names the
// Mac uses, which TagMeta and file servers write), the content type from the MIME database.
// Every function answers a neutral value (empty, null, no date, 0) when the fact cannot be
// had, and a damaged file never does more than that. Any thread.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

class FileMetadata {
public:
    // Content types of the document packages the program tells apart; everything else is
    // answered with its MIME type name ("application/pdf", "inode/directory").
    static inline const QString kRTFDType = QStringLiteral("com.apple.rtfd");
    static inline const QString kPagesType = QStringLiteral("com.apple.iwork.pages.pages");
    static inline const QString kNumbersType = QStringLiteral("com.apple.iwork.numbers.numbers");
    static inline const QString kKeynoteType = QStringLiteral("com.apple.iwork.keynote.key");
    static inline const QString kApplicationBundleType = QStringLiteral("com.apple.application-bundle");

    // Attribute names, stored with the "user." prefix by XAttr.
    static inline const QString kFinderCommentAttribute = QStringLiteral("com.apple.metadata:kMDItemFinderComment");
    static inline const QString kFinderInfoAttribute = QStringLiteral("com.apple.FinderInfo");
    static inline const QString kFinderTagsAttribute = QStringLiteral("com.apple.metadata:_kMDItemUserTags");

    // The document's authors, in the order it names them; empty when it names none or cannot
    // be read.
    static QStringList authors(const QString& path);

    // The name the user knows the item by: the file name less an extension that names a known
    // type (as file managers that hide extensions do). Folders show their whole name, except
    // the packages above; an extension of digits only ("Minutes 10.30") is part of the name.
    // Null when there is no such item.
    static QString displayName(const QString& path);

    // A package content type above, else the MIME type name; empty when there is no such item.
    static QString contentType(const QString& path);

    // When the desktop last recorded a use of the file; nothing when it never did.
    static std::optional<QDateTime> lastUsedDate(const QString& path);

    // The comment a file manager or TagMeta stored (a property-list string); null when none.
    static QString finderComment(const QString& path);

    // The colour label 1-7 of the Finder flags, else the colour of the first Finder tag that
    // carries one ("Red\n6"); 0 when nothing records one or the item cannot be read.
    static int finderLabel(const QString& path);

    FileMetadata() = delete;
};

} // namespace platform

// One document of the library. path is library-relative ("/Documents/…") for a stored copy
// and absolute for a document of an index folder or document source (isIndex); DBHelper turns
// either into the file's absolute path. isTrash puts it in the trash; isNeedDelete (only with
// isTrash) has the purge at the next opening delete the record.
#pragma once

#include "Store/DBRecord.h"

class DBNode;
class DBRecent;
class DBFileInfoMetadata;
class DBTag;
class DBAuthor;
class DBDocumentIndex;
class DBIndexFolderMetadata;

#define DB_FILE_INFO_ATTRIBUTES(X)                                                                 \
    X(QString, title, setTitle, "title")                                                           \
    X(QString, path, setPath, "path")                                                              \
    X(QString, pathExtension, setPathExtension, "pathExtension")                                   \
    X(QString, thumbPath, setThumbPath, "thumbPath")                                               \
    X(QString, original, setOriginal, "original")                                                  \
    X(QString, extendField, setExtendField, "extendField")                                         \
    X(bool, isShare, setIsShare, "isShare")                                                        \
    X(bool, isEncrypt, setIsEncrypt, "isEncrypt")                                                  \
    X(bool, isRecord, setIsRecord, "isRecord")                                                     \
    X(bool, isLost, setIsLost, "isLost")                                                           \
    X(bool, isTrash, setIsTrash, "isTrash")                                                        \
    X(bool, isIndex, setIsIndex, "isIndex")                                                        \
    X(bool, isNeedDelete, setIsNeedDelete, "isNeedDelete")

class DBFileInfo : public DBRecord {
    DB_DECLARE_RECORD(DBFileInfo, DBRecord, "DBFileInfo")

    // Values of extendField.
    static inline const QString kExtendFromScanner = QStringLiteral("FromScanner");
    static inline const QString kExtendReceiveFromDevice = QStringLiteral("ReceiveFromDevice");

    DB_FILE_INFO_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    DBNode node() const;
    bool setNode(const DBNode& node);
    DBRecent recent() const;
    bool setRecent(const DBRecent& recent);
    DBFileInfoMetadata metadata() const;
    bool setMetadata(const DBFileInfoMetadata& metadata);
    DBDocumentIndex documentIndex() const;
    bool setDocumentIndex(const DBDocumentIndex& documentIndex);
    DBIndexFolderMetadata indexFolderMetadata() const;
    bool setIndexFolderMetadata(const DBIndexFolderMetadata& metadata);

    QList<DBTag> tags() const;
    // An empty list clears the tags.
    bool setTags(const QList<DBTag>& tags);
    bool addTagsObject(const DBTag& tag);
    bool removeTagsObject(const DBTag& tag);
    QList<DBAuthor> authors() const;
    bool setAuthors(const QList<DBAuthor>& authors);
    bool addAuthorsObject(const DBAuthor& author);
    bool removeAuthorsObject(const DBAuthor& author);
};

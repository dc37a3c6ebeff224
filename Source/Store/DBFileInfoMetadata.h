// The metadata of one document: where it came from, its dates, size, rating and flag. Owned by
// its DBFileInfo (deleted with it).
#pragma once

#include "Store/DBRecord.h"

class DBFileInfo;

#define DB_FILE_INFO_METADATA_ATTRIBUTES(X)                                                        \
    X(QString, comment, setComment, "comment")                                                     \
    X(QString, from, setFrom, "from")                                                              \
    X(QString, md5, setMd5, "md5")                                                                 \
    X(QDateTime, dateCreated, setDateCreated, "dateCreated")                                       \
    X(QDateTime, dateModified, setDateModified, "dateModified")                                    \
    X(QDateTime, dateImported, setDateImported, "dateImported")                                    \
    X(QDateTime, dateLastOpen, setDateLastOpen, "dateLastOpen")                                    \
    X(qint64, fileSize, setFileSize, "fileSize")                                                   \
    X(int, rate, setRate, "rate")                                                                  \
    X(int, label, setLabel, "label")

class DBFileInfoMetadata : public DBRecord {
    DB_DECLARE_RECORD(DBFileInfoMetadata, DBRecord, "DBFileInfoMetadata")

    DB_FILE_INFO_METADATA_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    DBFileInfo fileInfo() const;
    bool setFileInfo(const DBFileInfo& fileInfo);
};

// Typed access to the rows of the index-folder store: the attribute names of the two entities,
// a value copy of an IFFileItem row, read once so the diff does not go through key-value
// coding for every comparison, and the volume an index folder's root was on at its last
// successful pass, kept on the root's IFFolderItem row.
//
// `fileID` is an unsigned 32-bit number and `uuid`/`folderID` unsigned 64-bit ones; the store
// keeps their bit patterns, and reading goes through these helpers so that 4000000000 and
// values of 2^63 and above come back exactly as written.
#pragma once

#include "IndexFolder/KPFileNode.h"

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObject.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/ObjectID.h"

#include <QDateTime>
#include <QString>
#include <optional>

class KPIndexFolderDBEngine;

struct IFFileItem {
    static inline const QString kEntityName = QStringLiteral("IFFileItem");
    static inline const QString kFolder = QStringLiteral("folder");
    static inline const QString kFolderID = QStringLiteral("folderID");
    static inline const QString kFileName = QStringLiteral("fileName");
    static inline const QString kFileID = QStringLiteral("fileID");
    static inline const QString kUUID = QStringLiteral("uuid");
    static inline const QString kDate = QStringLiteral("date");
    static inline const QString kIsRemove = QStringLiteral("isRemove");
    static inline const QString kTags = QStringLiteral("tags");
    static inline const QString kChangeTime = QStringLiteral("changeTime");

    platform::ObjectID objectID;
    QString folder;
    quint64 folderID = 0;
    QString fileName;
    std::optional<quint32> fileID;
    quint64 uuid = 0;
    QDateTime date;               // invalid when the row has none
    bool isRemove = false;
    std::optional<QString> tags;  // absent is not the same as ""
    // The file's status-change time (ns since 1970) when its tags were read; absent when none
    // was trusted then (see KPFolderSnapshot) or the row is older than the attribute.
    std::optional<qint64> changeTime;

    // folder + "/" + fileName.
    QString fullPath() const;

    static IFFileItem read(const platform::ManagedObject& row);
    // Only what a comparison with the disk looks at: the path, file number, date, tags and
    // change time (a folder's worth of rows is read on every pass).
    static IFFileItem readCompared(const platform::ManagedObject& row);
    // Writes every value but objectID (and an absent change time: rows are written whole only
    // when new); false when the row refused one.
    bool writeTo(platform::ManagedObject& row) const;
};

struct IFFolderItem {
    static inline const QString kEntityName = QStringLiteral("IFFolderItem");
    static inline const QString kPath = QStringLiteral("path");
    static inline const QString kIsRemove = QStringLiteral("isRemove");
    static inline const QString kFolderID = QStringLiteral("folderID");
    static inline const QString kDevice = QStringLiteral("device");             // absent: never recorded
    static inline const QString kIsMountPoint = QStringLiteral("isMountPoint");

    // The volume recorded for folder; nullopt when none was (a store from before volumes were
    // recorded, or no successful pass yet). A failed fetch is an error.
    static platform::Result<std::optional<KPFileNode::Volume>> rememberedVolume(KPIndexFolderDBEngine& store,
                                                                               const QString& folder,
                                                                               const platform::ContextPtr& context);
    // Records volume on folder's row, made when there is none; saves only what changed.
    static platform::Result<void> rememberVolume(KPIndexFolderDBEngine& store, const QString& folder,
                                                 const KPFileNode::Volume& volume);
};

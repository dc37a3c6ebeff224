// Writing the TagMeta attributes of every file a metadata query finds into one property-list
// file, or restoring all files from such a file.
//
// The operation runs once on the single-file queue (TagMetaBackup::backupMetadataToSingleFile,
// restoreMetadataFromSingleFile) and announces its result on the main thread with the
// notification "TagMetaBackupSingleFileDoneNote", whose object is `returnDict`.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

class TagMetaBackupOperation {
public:
    static inline const QString kDoneNotification = QStringLiteral("TagMetaBackupSingleFileDoneNote");
    // The query's result cap.
    static constexpr qint64 kMaxQueryResults = 500000;

    QString singleFile;
    QStringList keysToSearch; // empty: kMDItemTMManaged, kMDItemTMUserTags, kMDItemStarRating
    QVariantMap returnDict;
    bool writeFile = false;
    QStringList searchScopes; // folders the query walks; empty: the home folder

    // writeSingleFile or readSingleFile, then doneTheJob on the main thread.
    void main();
    void writeSingleFile();
    void readSingleFile();
    // Posts the done notification (on the calling thread).
    void doneTheJob() const;
};

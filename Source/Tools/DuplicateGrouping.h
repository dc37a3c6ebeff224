// The rules of the duplicate finder that need no window: how documents with equal content
// hashes form groups, which rows of a group start checked for removal and how a click may
// change them, and the texts and sizes the groups are shown with.
#pragma once

#include "Platform/ObjectStore/ObjectID.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// One document as the finder shows it.
struct DuplicateRecordInfo {
    platform::ObjectID id;
    QString filePath;               // absolute
    QDateTime date;                 // metadata.dateCreated; invalid when not set
    std::optional<qint64> fileSize; // metadata.fileSize, when set
    QString thumbPath;              // absolute
    QString md5;
};

namespace DuplicateGrouping {

// The groups among records given in store order: sorted by hash, descending (equal hashes keep
// their order), each run of two or more equal hashes (compared exactly) is one group, the
// others are left out. A group's rows are the run's records after its first, in order, then its
// first; the group's picture is that last row's thumbnail.
QList<QList<DuplicateRecordInfo>> groups(QList<DuplicateRecordInfo> records);

// Every row but the first starts checked: by default the first file is kept.
QList<bool> initialChecks(qsizetype rows);
// After a click toggled row: a row that became checked while every other row is checked is
// unchecked again, so every group keeps at least one file. Unchecking is always allowed.
void settleCheck(QList<bool>& checks, qsizetype row);

// A group view's height for its number of rows: max(120, 28 × rows + 40).
int groupHeight(qsizetype rows);
// "%.2f GB" from 2^30 bytes up, "%.2f MB" from 2^20, "%.2f KB" from 1024, else "%.0f bytes".
QString fileSizeText(qint64 bytes);
// "%ld item" for fewer than two groups, else "%ld items", localised.
QString groupCountText(qsizetype groups);

} // namespace DuplicateGrouping

// How documents are ordered: the comparison primitives every place that sorts documents, tags or
// authors shares, the flag rank table, and the sort of one section's documents by a file sort
// type.
//
// The name order is the program's one collation (platform::naturalCompare): the user's locale,
// numbers by value in every script ("report 9" before "Report 10"), case ignored. Texts that
// differ only in case, or in leading zeros of a number, are equal.
//
// A document that lacks the compared date or size goes after every document that has it, in
// both directions, so the newest or largest documents always lead a descending list.
//
// Sorting computes each document's key once (reading the record is far dearer than comparing)
// and sorts the keys; documents with equal keys keep no guaranteed order. The title and the
// modification date of a loaded item are the ones it shows; the other keys come from its record.
#pragma once

#include "Browser/KPItemData.h"

#include <QCollatorSortKey>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>
#include <vector>

// KPFileSortType: the key by which documents are sorted inside a section.
enum KPFileSortType : int {
    KPFileSortTypeTitle = 1,
    KPFileSortTypeSize = 2,
    KPFileSortTypeExtension = 3,
    KPFileSortTypeDateCreated = 4,
    KPFileSortTypeDateImported = 5,
    KPFileSortTypeDateModified = 6,
    KPFileSortTypeDateLastOpened = 7,
};

namespace sortfunctions {

// A record's value at a key path already split at its dots (invalid for nil): sorts and
// groupings read many records through the same few paths.
QVariant recordValue(const DBRecord& record, const QStringList& keyPath);

// ---- primitives (<0, 0, >0); descending compares the second value with the first ----
// Natural, case-insensitive.
int compareNames(const QString& a, const QString& b, bool ascending = true);
// The same comparison where a string key is not a name (extensions, group keys).
int compareStrings(const QString& a, const QString& b, bool ascending = true);
// Plain case-insensitive comparison, digits as characters.
int compareStringsCaseInsensitive(const QString& a, const QString& b, bool ascending = true);
// Dates; a missing date after every present one in both directions.
int compareValues(const std::optional<QDateTime>& a, const std::optional<QDateTime>& b, bool ascending = true);
// Numbers; a missing number after every present one in both directions.
int compareNumbers(const std::optional<qint64>& a, const std::optional<qint64>& b, bool ascending = true);

// ---- flags ----
// The rank of a flag number 0-7 (0: 0, 1: 7, 2: 4, 3: 6, 4: 5, 5: 3, 6: 1, 7: 2); numbers
// outside the table rank after every flag.
int finderLabelRank(qint64 label);
// Whether label a goes before label b. Never reports two flags as equal: equal ranks keep a
// first. Ascending by rank runs 0, 6, 7, 5, 2, 4, 3, 1.
bool finderLabelGoesFirst(qint64 a, qint64 b, bool ascending);

// ---- documents ----
// One document's key for a file sort type, read from its record.
struct SortKey {
    std::optional<QCollatorSortKey> text; // title or extension; none reads as ""
    std::optional<qint64> number; // size
    std::optional<QDateTime> date;
};
SortKey sortKeyForItem(const KPItemData& item, int fileSortType);
// Compares two keys of the same file sort type.
int compareSortKeys(const SortKey& a, const SortKey& b, int fileSortType, bool ascending);

// A document with its key, for sorts that compute the keys ahead.
struct KeyedItem {
    SortKey key;
    KPItemDataPtr item;
};
// Sorts keyed documents by a file sort type 1-7 (stable); any other type leaves the order.
void sortKeyedItems(std::vector<KeyedItem>& items, int fileSortType, bool ascending);
// Whether fileSortType is one of the seven sort keys.
bool isFileSortType(int fileSortType);

// The item sort functions: two documents by one key of their records.
int compareItemTitle(const KPItemData& a, const KPItemData& b, bool ascending);
int compareItemFileSize(const KPItemData& a, const KPItemData& b, bool ascending);
int compareItemExtension(const KPItemData& a, const KPItemData& b, bool ascending);
int compareItemDateCreated(const KPItemData& a, const KPItemData& b, bool ascending);
int compareItemDateImported(const KPItemData& a, const KPItemData& b, bool ascending);
int compareItemDateModified(const KPItemData& a, const KPItemData& b, bool ascending);
int compareItemDateLastOpened(const KPItemData& a, const KPItemData& b, bool ascending);

// Sorts documents by a file sort type 1-7; any other type leaves the order as it is.
void sortItems(QList<KPItemDataPtr>& items, int fileSortType, bool ascending);

// Sorts names (tags, authors) ascending by the name order.
void sortNames(QStringList& names);

} // namespace sortfunctions

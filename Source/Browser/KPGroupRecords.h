// The records the special views put into their sections instead of documents: one month of the
// Document Date view, one flag of the Flagged view, one kind of the File Type view. The tiles
// draw them and the tile clicks send them on, as dictionaries with the keys below.
#pragma once

#include "Browser/KPItemData.h"

#include <QList>
#include <QString>
#include <QVariantMap>

struct MonthGroupRecord {
    QString year;  // "2012"
    QString month; // "01" to "12"
    QList<KPItemDataPtr> items;

    // {"Year", "Month", "Items": list of KPItemDataPtr}
    QVariantMap toVariantMap() const;
    friend bool operator==(const MonthGroupRecord& a, const MonthGroupRecord& b)
    {
        return a.year == b.year && a.month == b.month;
    }
};

struct FlagGroupRecord {
    qint64 label = 0;
    QList<KPItemDataPtr> items;

    // {"Label", "Items": list of KPItemDataPtr}
    QVariantMap toVariantMap() const;
    friend bool operator==(const FlagGroupRecord& a, const FlagGroupRecord& b) { return a.label == b.label; }
};

struct FileTypeGroupRecord {
    qint64 kindID = 0;    // a kind of the supported-format table
    qint64 itemCount = 0; // documents of that kind not in the trash

    // {"ID", "ItemCount"}
    QVariantMap toVariantMap() const;
    friend bool operator==(const FileTypeGroupRecord& a, const FileTypeGroupRecord& b) { return a.kindID == b.kindID; }
};

// One section of the grid's model: a header title, its items in display order and whether it is
// expanded (a collapsed section shows its header only). Document sections hold display models;
// the special views hold their group records or author records (KPSectionItem).
//
// Sections are shared (the grid's data source and a header's double-click hold the same one),
// so they are held by KPSectionDataPtr. Threads: main thread only.
#pragma once

#include "Browser/KPGroupRecords.h"
#include "Browser/KPItemData.h"
#include "Browser/KPSectionIndexSet.h"
#include "Store/DBAuthor.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <memory>
#include <variant>

// One item of a section: a document, a group record or an author. A listing holds one per
// document, so the larger records (months and flags, a few dozen per view) live behind a
// pointer and an item costs what a document's pointer costs.
class KPSectionItem {
public:
    KPSectionItem(KPItemDataPtr item) : m_value(std::move(item)) {}
    KPSectionItem(MonthGroupRecord record) : m_value(std::make_shared<const MonthGroupRecord>(std::move(record))) {}
    KPSectionItem(FlagGroupRecord record) : m_value(std::make_shared<const FlagGroupRecord>(std::move(record))) {}
    KPSectionItem(FileTypeGroupRecord record) : m_value(std::move(record)) {}
    KPSectionItem(DBAuthor author) : m_value(std::move(author)) {}

    // Null when the item is not a document.
    KPItemDataPtr itemData() const;
    // The document's model without taking a share of it (null when the item is not a document).
    const KPItemData* itemDataPointer() const
    {
        const KPItemDataPtr* item = std::get_if<KPItemDataPtr>(&m_value);
        return item ? item->get() : nullptr;
    }
    const MonthGroupRecord* monthGroup() const { return held<MonthGroupRecord>(); }
    const FlagGroupRecord* flagGroup() const { return held<FlagGroupRecord>(); }
    const FileTypeGroupRecord* fileTypeGroup() const { return std::get_if<FileTypeGroupRecord>(&m_value); }
    const DBAuthor* author() const { return std::get_if<DBAuthor>(&m_value); }

    // Documents by display-model identity, records by what they group, authors by record.
    friend bool operator==(const KPSectionItem& a, const KPSectionItem& b);

private:
    template <class Record>
    const Record* held() const
    {
        const auto* record = std::get_if<std::shared_ptr<const Record>>(&m_value);
        return record ? record->get() : nullptr;
    }

    std::variant<KPItemDataPtr, std::shared_ptr<const MonthGroupRecord>, std::shared_ptr<const FlagGroupRecord>,
                 FileTypeGroupRecord, DBAuthor>
        m_value;
};

class KPSectionData;
using KPSectionDataPtr = std::shared_ptr<KPSectionData>;

class KPSectionData {
public:
    // What itemIndexWithData answers for an item that is not in the section.
    static constexpr qint64 kNotFound = KPSectionIndexSet::kNotFound;

    // initWithTitle:Data:; expanded.
    explicit KPSectionData(const QString& title, QList<KPSectionItem> datas = {});
    static KPSectionDataPtr create(const QString& title, QList<KPSectionItem> datas = {})
    {
        return std::make_shared<KPSectionData>(title, std::move(datas));
    }
    // A section of documents.
    static KPSectionDataPtr create(const QString& title, const QList<KPItemDataPtr>& items);

    const QString& title() const { return m_title; }
    QList<KPSectionItem>& datas() { return m_datas; }
    const QList<KPSectionItem>& datas() const { return m_datas; }
    qsizetype itemCount() const { return m_datas.size(); }
    bool isExpand() const { return m_isExpand; }
    void setIsExpand(bool expand) { m_isExpand = expand; }

    // The item at index; null when index is negative or not below the count.
    const KPSectionItem* itemDataWithIndex(qint64 index) const;
    // The document at index; null out of range and for items that are no documents.
    KPItemDataPtr itemAt(qint64 index) const;
    // The index of the first item equal to item, else kNotFound.
    qint64 itemIndexWithData(const KPSectionItem& item) const;
    // The section's documents in order (its other items left out).
    QList<KPItemDataPtr> itemDatas() const;

private:
    QString m_title;
    QList<KPSectionItem> m_datas;
    bool m_isExpand = true;
};

Q_DECLARE_METATYPE(KPSectionDataPtr)

// A two-level list model of the grid's sections: one group row per section (its title) with
// its documents below (their titles). Rows come from a provider asked afresh on reload();
// non-document items of a section (group records, authors) are left out. Nothing shows it yet.
#pragma once

#include "Browser/KPSectionData.h"

#include <QAbstractItemModel>
#include <functional>

class ListViewDataSource : public QAbstractItemModel {
public:
    // Role of the display model of a document row (a KPItemDataPtr).
    static constexpr int kItemDataRole = Qt::UserRole + 1;

    using Provider = std::function<QList<KPSectionDataPtr>()>;

    explicit ListViewDataSource(QObject* parent = nullptr);

    void setDelegate(Provider provider);
    // Asks the provider again and resets the model.
    void reload();
    const QList<KPSectionDataPtr>& dataSource() const { return m_sections; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    Provider m_provider;
    QList<KPSectionDataPtr> m_sections;
    QList<QList<KPItemDataPtr>> m_items; // the documents of each section
};

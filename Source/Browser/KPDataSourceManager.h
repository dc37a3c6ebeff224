// The set of display models the grid lists for the current side-bar selection or search; the
// grouping engine turns it into sections. Membership follows the display model's identity, so
// two models of one document are one member.
//
// Threads: main thread only (no lock).
#pragma once

#include "Browser/KPItemData.h"

#include <QList>
#include <QString>

class KPDataSourceManager {
public:
    // The shared instance, made on first use (main thread).
    static KPDataSourceManager& shareDataSourceManager();

    KPDataSourceManager() = default;
    KPDataSourceManager(const KPDataSourceManager&) = delete;
    KPDataSourceManager& operator=(const KPDataSourceManager&) = delete;

    // The live set; callers may also clear or fill it directly.
    KPItemDataSet& dataSource() { return m_dataSource; }
    const KPItemDataSet& dataSource() const { return m_dataSource; }
    void removeAllObjects() { m_dataSource.clear(); }

    // Replaces the set's contents by items; of equal items the first one stays.
    void addSource(const QList<KPItemDataPtr>& items);
    // Adds items; where an equal item is listed already, the new object takes its place.
    void appendSource(const QList<KPItemDataPtr>& items);
    // Removes every listed item equal to one of items.
    void removeSource(const QList<KPItemDataPtr>& items);
    // The listed items whose title contains text (the title shown, or the record's for a model
    // not drawn yet), ignoring case and diacritics; for an empty text, the whole set.
    KPItemDataSet filterDataWithTitle(const QString& text);

private:
    KPItemDataSet m_dataSource;
};

#include "Browser/KPDataSourceManager.h"

#include "Platform/Foundation/TextFolding.h"

KPDataSourceManager& KPDataSourceManager::shareDataSourceManager()
{
    static KPDataSourceManager manager;
    return manager;
}

void KPDataSourceManager::addSource(const QList<KPItemDataPtr>& items)
{
    m_dataSource.clear();
    m_dataSource.reserve(size_t(items.size()));
    for (const KPItemDataPtr& item : items) {
        if (item)
            m_dataSource.insert(item);
    }
}

void KPDataSourceManager::appendSource(const QList<KPItemDataPtr>& items)
{
    for (const KPItemDataPtr& item : items) {
        if (!item)
            continue;
        m_dataSource.erase(item);
        m_dataSource.insert(item);
    }
}

void KPDataSourceManager::removeSource(const QList<KPItemDataPtr>& items)
{
    for (const KPItemDataPtr& item : items)
        m_dataSource.erase(item);
}

KPItemDataSet KPDataSourceManager::filterDataWithTitle(const QString& text)
{
    if (text.isEmpty())
        return m_dataSource;
    const QString folded = platform::fold(text, platform::FoldOptions::CaseAndDiacriticInsensitive);
    KPItemDataSet found;
    found.reserve(m_dataSource.size());
    for (const KPItemDataPtr& item : m_dataSource) {
        // The title shown, read from the record while the model is not drawn: loading every
        // model's values for one key cost more than the search and kept them all in memory.
        const QString title = item->bLoadedDataContent() || !item->data() ? item->title() : item->data().title();
        if (platform::fold(title, platform::FoldOptions::CaseAndDiacriticInsensitive).contains(folded))
            found.insert(item);
    }
    return found;
}

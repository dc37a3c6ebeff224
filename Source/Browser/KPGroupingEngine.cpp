// The general grouping: group keys and sort keys computed once per document from its record,
// documents gathered per key, each section sorted on its precomputed keys, sections ordered.
#include "Browser/KPGroupingEngine.h"

#include "Browser/BrowserText.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPSortFunctions.h"
#include "Browser/KPViewSizeManager.h"
#include "Import/KPFileFormatManager.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DBNode.h"
#include "Store/DataBaseEngine.h"

#include <QHash>
#include <algorithm>
#include <vector>

using sortfunctions::KeyedItem;

namespace {

// One section in the making.
struct Bucket {
    QString title;
    QString orderText; // what sections of text keys are ordered by
    int rank = 0;      // what sections of ranged keys are ordered by
    std::vector<KeyedItem> entries;
};

class SectionBuilder {
public:
    SectionBuilder(int fileSortType, bool fileAscending) : m_fileSortType(fileSortType), m_fileAscending(fileAscending) {}

    // The bucket of key (made with title and order values the first time).
    Bucket& bucket(const QString& key, const QString& title, int rank = 0)
    {
        auto it = m_index.constFind(key);
        if (it != m_index.cend())
            return m_buckets[size_t(*it)];
        m_index.insert(key, int(m_buckets.size()));
        m_buckets.push_back(Bucket{title, key, rank, {}});
        return m_buckets.back();
    }
    void add(Bucket& bucket, const KPItemDataPtr& item) { bucket.entries.push_back(keyed(item)); }
    void add(const QString& key, const QString& title, const KPItemDataPtr& item, int rank = 0)
    {
        add(bucket(key, title, rank), item);
    }
    void addOther(const KPItemDataPtr& item) { m_other.entries.push_back(keyed(item)); }

    // The sections ordered by less, each file-sorted, with the documents of no section in a
    // section of their own (localised otherTitle), last or first, when there are any.
    template <class Less>
    QList<KPSectionDataPtr> finish(Less less, const QString& otherTitle = QStringLiteral("Other"), bool otherFirst = false)
    {
        std::stable_sort(m_buckets.begin(), m_buckets.end(), less);
        QList<KPSectionDataPtr> sections;
        sections.reserve(qsizetype(m_buckets.size()) + 1);
        for (Bucket& bucket : m_buckets)
            sections.append(section(bucket.title, bucket.entries));
        if (!m_other.entries.empty()) {
            KPSectionDataPtr other = section(browsertext::text(otherTitle), m_other.entries);
            if (otherFirst)
                sections.prepend(std::move(other));
            else
                sections.append(std::move(other));
        }
        return sections;
    }

    KPSectionDataPtr section(const QString& title, std::vector<KeyedItem>& entries) const
    {
        sortfunctions::sortKeyedItems(entries, m_fileSortType, m_fileAscending);
        QList<KPSectionItem> datas;
        datas.reserve(qsizetype(entries.size()));
        for (KeyedItem& entry : entries)
            datas.append(std::move(entry.item));
        return KPSectionData::create(title, std::move(datas));
    }

private:
    KeyedItem keyed(const KPItemDataPtr& item) const
    {
        return {sortfunctions::isFileSortType(m_fileSortType) ? sortfunctions::sortKeyForItem(*item, m_fileSortType)
                                                              : sortfunctions::SortKey(),
                item};
    }

    int m_fileSortType;
    bool m_fileAscending;
    std::vector<Bucket> m_buckets;
    QHash<QString, int> m_index;
    Bucket m_other;
};

// Orders sections by their text with the name order.
auto byNames(bool ascending)
{
    return [ascending](const Bucket& a, const Bucket& b) {
        return sortfunctions::compareNames(a.orderText, b.orderText, ascending) < 0;
    };
}

// Orders sections by their text as plain strings.
auto byText(bool ascending)
{
    return [ascending](const Bucket& a, const Bucket& b) {
        const int order = QString::compare(a.orderText, b.orderText);
        return ascending ? order < 0 : order > 0;
    };
}

auto byRank(bool ascending)
{
    return [ascending](const Bucket& a, const Bucket& b) { return ascending ? a.rank < b.rank : a.rank > b.rank; };
}

QString parentFolder(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

std::optional<QDateTime> metadataDate(const DBFileInfo& record, const QString& key)
{
    const QDateTime date = record.valueForKeyPath(key).toDateTime();
    return date.isValid() ? std::optional<QDateTime>(date) : std::nullopt;
}

QString dateKeyPath(int groupType)
{
    switch (groupType) {
    case KPGroupSortTypeDateCreated:
        return QStringLiteral("metadata.dateCreated");
    case KPGroupSortTypeDateImported:
        return QStringLiteral("metadata.dateImported");
    case KPGroupSortTypeDateModified:
        return QStringLiteral("metadata.dateModified");
    default:
        return QStringLiteral("metadata.dateLastOpen");
    }
}

} // namespace

KPGroupingEngine::KPGroupingEngine(QList<KPSectionDataPtr>& sections, Services services)
    : m_sections(sections)
    , m_services(std::move(services))
{
}

KPGroupingEngine::KPGroupingEngine(QList<KPSectionDataPtr>& sections)
    : KPGroupingEngine(sections, Services())
{
}

DataBaseEngine& KPGroupingEngine::engine() const
{
    return m_services.engine ? *m_services.engine : *DataBaseEngine::dataBaseEngine();
}

const KPFileFormatManager& KPGroupingEngine::formats() const
{
    return m_services.formats ? *m_services.formats : KPFileFormatManager::fileFormatManager();
}

KPDataSourceManager& KPGroupingEngine::listed() const
{
    return m_services.listed ? *m_services.listed : KPDataSourceManager::shareDataSourceManager();
}

KPDataSourceSortManager& KPGroupingEngine::sort() const
{
    return m_services.sort ? *m_services.sort : KPDataSourceSortManager::shareDataSourceSortManager();
}

void KPGroupingEngine::reloadData() const
{
    if (m_services.reloadData)
        m_services.reloadData();
}

void KPGroupingEngine::createDataAndFileDataByGroupSortSetting(const KPItemDataSet& items,
                                                               const std::optional<QVariantMap>& setting)
{
    KPDataSourceSortManager& settings = sort();
    int groupType = settings.groupSortType();
    bool groupAscending = settings.groupAscending();
    int fileType = settings.fileSortType();
    bool fileAscending = settings.fileAscending();
    if (setting) {
        groupType = setting->value(kGroupTypeKey).toInt();
        groupAscending = setting->value(kGroupAscendingKey).toBool();
        fileType = setting->value(kFileTypeKey).toInt();
        fileAscending = setting->value(kFileAscendingKey).toBool();
        settings.setGroupSortType(groupType);
        settings.setGroupAscending(groupAscending);
        settings.setFileSortType(fileType);
        settings.setFileAscending(fileAscending);
    }
    m_sections.clear();
    if (items.empty())
        return;
    // The views draw what the grouping read, so both start from the records as they are now.
    for (const KPItemDataPtr& item : items)
        item->loadDataContent();

    SectionBuilder builder(fileType, fileAscending);
    const bool plainList = KPViewSizeManager::instance().itemViewType() == KPItemViewTypeDocuments;
    const bool known = groupType >= KPGroupSortTypeTitle && groupType <= KPGroupSortTypeSource;
    if (plainList || !known) {
        Bucket& only = builder.bucket(QString(), QString());
        for (const KPItemDataPtr& item : items)
            builder.add(only, item);
        m_sections = builder.finish(byRank(true));
        return;
    }

    switch (groupType) {
    case KPGroupSortTypeTitle:
        for (const KPItemDataPtr& item : items) {
            const QString letter = firstLetterKey(item->data().title());
            if (letter.isEmpty())
                builder.addOther(item);
            else
                builder.add(letter, letter, item);
        }
        m_sections = builder.finish(byNames(groupAscending));
        break;
    case KPGroupSortTypeTag: {
        const QString untagged = QStringLiteral("untag");
        for (const KPItemDataPtr& item : items) {
            item->reloadTagFromDBFileInfo();
            const QString name = item->tagString().isEmpty() ? untagged : item->tagString();
            builder.add(name, browsertext::format(QStringLiteral("Tag name is %@"), {name}), item);
        }
        m_sections = builder.finish(byNames(groupAscending));
        break;
    }
    case KPGroupSortTypeFolder:
        // Documents in no folder are "Uncategorized", first in ascending order, else last.
        for (const KPItemDataPtr& item : items) {
            const DBNode node = item->data().node();
            if (node)
                builder.add(node.title(), node.title(), item);
            else
                builder.addOther(item);
        }
        m_sections = builder.finish(byNames(groupAscending), QStringLiteral("Uncategorized"), groupAscending);
        break;
    case KPGroupSortTypeSize: {
        const QList<SizeRange>& ranges = fileSizeGroups();
        for (const KPItemDataPtr& item : items) {
            const QVariant size = item->data().valueForKeyPath(QStringLiteral("metadata.fileSize"));
            const qint64 bytes = size.toLongLong();
            auto range = std::find_if(ranges.begin(), ranges.end(),
                                      [&](const SizeRange& r) { return bytes >= r.from && bytes < r.below; });
            if (!size.isValid() || range == ranges.end())
                builder.addOther(item);
            else
                builder.add(range->label, range->label, item, int(range - ranges.begin()));
        }
        m_sections = builder.finish(byRank(groupAscending));
        break;
    }
    case KPGroupSortTypeKind: {
        QHash<QString, QString> kindNames; // extension → kind name, asked once per extension
        for (const KPItemDataPtr& item : items) {
            const QString extension = item->data().pathExtension();
            if (extension.isEmpty()) {
                builder.addOther(item);
                continue;
            }
            auto kind = kindNames.constFind(extension);
            if (kind == kindNames.cend())
                kind = kindNames.insert(extension, formats().kindNameByExtenstion(extension));
            builder.add(*kind, *kind, item);
        }
        m_sections = builder.finish(byText(groupAscending));
        break;
    }
    case KPGroupSortTypeDateCreated:
    case KPGroupSortTypeDateImported:
    case KPGroupSortTypeDateModified:
    case KPGroupSortTypeDateLastOpened: {
        const QDateTime now = platform::kit::Scheduler::current().now();
        const QString keyPath = dateKeyPath(groupType);
        for (const KPItemDataPtr& item : items) {
            const int bucket = dateBucket(metadataDate(item->data(), keyPath), now);
            const QString title = dateBucketTitle(bucket);
            builder.add(title, title, item, bucket);
        }
        m_sections = builder.finish(byRank(groupAscending));
        break;
    }
    case KPGroupSortTypeSource:
        for (const KPItemDataPtr& item : items) {
            const DBFileInfo& record = item->data();
            const QString source = record.isIndex() ? record.path()
                                                    : record.valueForKeyPath(QStringLiteral("metadata.from")).toString();
            const QString folder = parentFolder(source);
            if (folder.isEmpty())
                builder.addOther(item);
            else
                builder.add(folder, folder, item);
        }
        m_sections = builder.finish(byText(groupAscending));
        break;
    default:
        break;
    }
}

const QList<KPGroupingEngine::SizeRange>& KPGroupingEngine::fileSizeGroups()
{
    static const QList<SizeRange> ranges{
        {QStringLiteral("From 1 bytes to 10KB"), 1, 10240},
        {QStringLiteral("From 10KB to 1 MB"), 10240, 1048576},
        {QStringLiteral("From 1 MB to 10 MB"), 1048576, 10485760},
        {QStringLiteral("From 10 MB to 50 MB"), 10485760, 52428800},
        {QStringLiteral("From 50 MB to 100 MB"), 52428800, 104857600},
        {QStringLiteral("From 100 MB to 1 GB"), 104857600, 1073741824},
        {QStringLiteral("From 1 GB to 100 GB"), 1073741824, 107374182400},
    };
    return ranges;
}

int KPGroupingEngine::dateBucket(const std::optional<QDateTime>& date, const QDateTime& now)
{
    if (!date)
        return 5;
    // Calendar days: a day around a summer-time change is 23 or 25 hours long.
    const QDate today = now.toLocalTime().date();
    static constexpr int kDaysBack[] = {0, 1, 7, 30, 365};
    for (int bucket = 0; bucket < 5; ++bucket) {
        if (*date > today.addDays(-kDaysBack[bucket]).startOfDay())
            return bucket;
    }
    return 5;
}

QString KPGroupingEngine::dateBucketTitle(int bucket)
{
    static const char* const kTitles[] = {"Today", "Yesterday", "Previous 7 Days", "Previous 30 Days",
                                          "Previous 365 Days", "Earlier"};
    return browsertext::text(QString::fromLatin1(kTitles[std::clamp(bucket, 0, 5)]));
}

QString KPGroupingEngine::firstLetterKey(const QString& title)
{
    if (title.isEmpty())
        return {};
    const qsizetype length = title.size() > 1 && title[0].isHighSurrogate() && title[1].isLowSurrogate() ? 2 : 1;
    return title.left(length).toUpper();
}

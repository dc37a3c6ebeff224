// The general grouping: group keys and sort keys computed once per document from its record,
// documents gathered per key, each section sorted on its precomputed keys, sections ordered.
#include "Browser/KPGroupingEngine.h"

#include "Browser/BrowserText.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPSortFunctions.h"
#include "Browser/KPViewSizeManager.h"
#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/NaturalCompare.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DataBaseEngine.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <limits>
#include <numeric>
#include <vector>

namespace {

// One section in the making.
struct Bucket {
    QString orderText; // its key: what sections of text keys are ordered by
    int rank = 0;      // what sections of ranged keys are ordered by
};

// One document on its way into a section, compact so that the one sort of a large listing moves
// little: the place of its section in the section order, its file sort key (a text key lives
// in the keys kept beside; numbers and dates are plain integers) and its place in the input,
// which breaks ties so that an unstable sort gives a stable result.
struct Entry {
    const QCollatorSortKey* text = nullptr;
    qint64 value = 0;
    quint32 section = 0;
    quint32 order = 0;
    bool has = false;
};

class SectionBuilder {
public:
    SectionBuilder(int fileSortType, bool fileAscending, size_t expected)
        : m_fileSortType(sortfunctions::isFileSortType(fileSortType) ? fileSortType : 0)
        , m_fileAscending(fileAscending)
    {
        m_entries.reserve(expected);
        m_items.reserve(expected);
        const bool texts = m_fileSortType == KPFileSortTypeTitle || m_fileSortType == KPFileSortTypeExtension;
        m_keys.reserve(texts ? expected : 0);
    }

    // The bucket of key (with its rank, the first time), by its index.
    int bucket(const QString& key, int rank = 0)
    {
        auto it = m_index.constFind(key);
        if (it != m_index.cend())
            return *it;
        const int index = int(m_buckets.size());
        m_index.insert(key, index);
        m_buckets.push_back(Bucket{key, rank});
        return index;
    }
    void add(int bucket, const KPItemDataPtr& item)
    {
        Entry entry;
        entry.section = quint32(bucket);
        entry.order = quint32(m_items.size());
        // Copied while the model is at hand, and moved into its section at the end: taking it
        // from the listing then cost one cache miss per document on the set's nodes.
        m_items.push_back(item);
        if (m_fileSortType)
            fillKey(entry, *item);
        m_entries.push_back(entry);
    }
    void add(const QString& key, const KPItemDataPtr& item, int rank = 0) { add(bucket(key, rank), item); }
    // The bucket of a ranked key (rank 0 to kRanks - 1), kept by rank: a grouping by size or date
    // looks one up per document, and hashing the label each time cost more than the rest.
    static constexpr int kRanks = 16;
    void addRanked(const QString& key, int rank, const KPItemDataPtr& item)
    {
        if (rank < 0 || rank >= kRanks) {
            add(key, item, rank);
            return;
        }
        int& index = m_byRank[size_t(rank)];
        if (index < 0) {
            index = int(m_buckets.size());
            m_buckets.push_back(Bucket{key, rank});
        }
        add(index, item);
    }
    void addOther(const KPItemDataPtr& item) { add(kOther, item); }
    // To key's section, or to Other for an empty key.
    void addToKeyOrOther(const QString& key, const KPItemDataPtr& item)
    {
        if (key.isEmpty())
            addOther(item);
        else
            add(key, item);
    }

    // The sections ordered by less and titled by titleOf(key), each file-sorted, with the
    // documents of no section in a section of their own (localised otherTitle), last or first,
    // when there are any. The sections are ordered first, then every document is sorted once
    // by (its section's place, its file sort key, its place in the input).
    template <class Less, class TitleOf>
    QList<KPSectionDataPtr> finish(Less less, TitleOf titleOf, const QString& otherTitle = QStringLiteral("Other"),
                                   bool otherFirst = false)
    {
        std::vector<int> order(m_buckets.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return less(m_buckets[size_t(a)], m_buckets[size_t(b)]); });
        // place[bucket]: where its section stands; Other goes before or after every other.
        std::vector<quint32> place(m_buckets.size() + 1);
        const quint32 shift = otherFirst ? 1 : 0;
        for (size_t i = 0; i < order.size(); ++i)
            place[size_t(order[i])] = quint32(i) + shift;
        place[m_buckets.size()] = otherFirst ? 0 : quint32(order.size());
        for (Entry& entry : m_entries)
            entry.section = place[entry.section == kOther ? m_buckets.size() : entry.section];
        sortEntries();

        std::vector<QString> titles(m_buckets.size() + 1);
        for (size_t i = 0; i < order.size(); ++i)
            titles[i + shift] = titleOf(m_buckets[size_t(order[i])]);
        titles[otherFirst ? 0 : order.size()] = browsertext::text(otherTitle);

        QList<KPSectionDataPtr> sections;
        sections.reserve(qsizetype(m_buckets.size()) + 1);
        for (size_t first = 0; first < m_entries.size();) {
            size_t last = first;
            while (last < m_entries.size() && m_entries[last].section == m_entries[first].section)
                ++last;
            QList<KPSectionItem> datas;
            datas.reserve(qsizetype(last - first));
            for (size_t i = first; i < last; ++i)
                datas.append(std::move(m_items[m_entries[i].order]));
            sections.append(KPSectionData::create(titles[m_entries[first].section], std::move(datas)));
            first = last;
        }
        return sections;
    }

private:
    static constexpr quint32 kOther = std::numeric_limits<quint32>::max();

    // The key as sortfunctions::compareSortKeys orders it: texts with none first (then
    // reversed when descending); sizes and dates with none last in both directions.
    void fillKey(Entry& entry, const KPItemData& item)
    {
        sortfunctions::SortKey key = sortfunctions::sortKeyForItem(item, m_fileSortType);
        if (key.text) {
            m_keys.push_back(std::move(*key.text));
            entry.text = &m_keys.back();
            entry.has = true;
        } else if (key.number) {
            entry.value = *key.number;
            entry.has = true;
        } else if (key.date) {
            entry.value = key.date->toMSecsSinceEpoch();
            entry.has = true;
        }
    }

    void sortEntries()
    {
        const bool ascending = m_fileAscending;
        const bool texts = m_fileSortType == KPFileSortTypeTitle || m_fileSortType == KPFileSortTypeExtension;
        auto fileOrder = [&](const Entry& a, const Entry& b) -> int {
            if (!m_fileSortType)
                return 0;
            if (!a.has || !b.has) {
                if (a.has == b.has)
                    return 0;
                // A missing text reads as the least; a missing number or date goes last.
                const int order = a.has ? 1 : -1;
                return texts ? (ascending ? order : -order) : -order;
            }
            const int order = texts ? a.text->compare(*b.text) : (a.value < b.value ? -1 : b.value < a.value ? 1 : 0);
            return ascending ? order : -order;
        };
        std::sort(m_entries.begin(), m_entries.end(), [&](const Entry& a, const Entry& b) {
            if (a.section != b.section)
                return a.section < b.section;
            if (const int order = fileOrder(a, b))
                return order < 0;
            return a.order < b.order;
        });
    }

    int m_fileSortType;
    bool m_fileAscending;
    std::vector<Bucket> m_buckets;
    QHash<QString, int> m_index;
    std::array<int, kRanks> m_byRank = [] {
        std::array<int, kRanks> none;
        none.fill(-1);
        return none;
    }();
    std::vector<Entry> m_entries;
    std::vector<KPItemDataPtr> m_items;
    // The text keys the entries point at: reserved up front, never moved.
    std::vector<QCollatorSortKey> m_keys;
};

// Titles sections by their key.
QString keyTitle(const Bucket& bucket)
{
    return bucket.orderText;
}

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

const QString kDateBucketKeys[] = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                   QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5")};

// What a model shows once loaded, read from its record until then.
QString shownTitle(const KPItemData& item)
{
    return item.bLoadedDataContent() ? item.title() : item.data().title();
}

qint64 shownFileSize(const KPItemData& item)
{
    static const QStringList kFileSize{QStringLiteral("metadata"), QStringLiteral("fileSize")};
    return item.bLoadedDataContent() ? item.fileSize() : sortfunctions::recordValue(item.data(), kFileSize).toLongLong();
}

QString parentFolder(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QStringList metadataKeyPath(const char* key)
{
    return {QStringLiteral("metadata"), QString::fromLatin1(key)};
}

QStringList dateKeyPath(int groupType)
{
    switch (groupType) {
    case KPGroupSortTypeDateCreated:
        return metadataKeyPath("dateCreated");
    case KPGroupSortTypeDateImported:
        return metadataKeyPath("dateImported");
    case KPGroupSortTypeDateModified:
        return metadataKeyPath("dateModified");
    default:
        return metadataKeyPath("dateLastOpen");
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
    // No display values are loaded here: a model loads its own when it is first drawn, from the
    // record as it is then, which is what an unloaded model is grouped by (shownTitle and its
    // kin); loading all of them first made a large listing wait for values no one looked at.

    SectionBuilder builder(fileType, fileAscending, items.size());
    const bool plainList = KPViewSizeManager::instance().itemViewType() == KPItemViewTypeDocuments;
    const bool known = groupType >= KPGroupSortTypeTitle && groupType <= KPGroupSortTypeSource;
    if (plainList || !known) {
        const int only = builder.bucket(QString());
        for (const KPItemDataPtr& item : items)
            builder.add(only, item);
        m_sections = builder.finish(byRank(true), keyTitle);
        return;
    }

    switch (groupType) {
    case KPGroupSortTypeTitle:
        for (const KPItemDataPtr& item : items)
            builder.addToKeyOrOther(firstLetterKey(shownTitle(*item)), item);
        m_sections = builder.finish(byNames(groupAscending), keyTitle);
        break;
    case KPGroupSortTypeTag: {
        const QString untagged = QStringLiteral("untag");
        for (const KPItemDataPtr& item : items) {
            // A drawn model takes its record's tags for its tag line too; one not drawn yet
            // stays unloaded.
            QString names;
            if (item->bLoadedDataContent()) {
                item->reloadTagFromDBFileInfo();
                names = item->tagString();
            } else {
                names = KPItemData::tagStringOf(item->data());
            }
            builder.add(names.isEmpty() ? untagged : names, item);
        }
        m_sections = builder.finish(byNames(groupAscending), [](const Bucket& bucket) {
            return browsertext::format(QStringLiteral("Tag name is %@"), {bucket.orderText});
        });
        break;
    }
    case KPGroupSortTypeFolder: {
        // Documents in no folder are "Uncategorized", first in ascending order, else last. The
        // folder's title is read through the record's row (no folder object is made); only
        // where that finds none is the folder itself asked for (it may be a folder without a
        // title).
        static const QStringList kFolderTitle{QStringLiteral("node"), QStringLiteral("title")};
        for (const KPItemDataPtr& item : items) {
            const QVariant title = sortfunctions::recordValue(item->data(), kFolderTitle);
            if (title.isValid() || item->data().node())
                builder.add(title.toString(), item);
            else
                builder.addOther(item);
        }
        m_sections = builder.finish(byNames(groupAscending), keyTitle, QStringLiteral("Uncategorized"), groupAscending);
        break;
    }
    case KPGroupSortTypeSize: {
        // An unknown size reads as 0, which no range holds either.
        const QList<SizeRange>& ranges = fileSizeGroups();
        for (const KPItemDataPtr& item : items) {
            const qint64 bytes = shownFileSize(*item);
            auto range = std::find_if(ranges.begin(), ranges.end(),
                                      [&](const SizeRange& r) { return bytes >= r.from && bytes < r.below; });
            if (range == ranges.end())
                builder.addOther(item);
            else
                builder.addRanked(range->label, int(range - ranges.begin()), item);
        }
        m_sections = builder.finish(byRank(groupAscending), keyTitle);
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
            builder.add(*kind, item);
        }
        // Kind names are words the user reads, ordered as every other list of names.
        m_sections = builder.finish(byNames(groupAscending), keyTitle);
        break;
    }
    case KPGroupSortTypeDateCreated:
    case KPGroupSortTypeDateImported:
    case KPGroupSortTypeDateModified:
    case KPGroupSortTypeDateLastOpened: {
        // The limits as instants: comparing dates of any zone goes through them anyway.
        const DateBucketLimits limits = dateBucketLimits(platform::kit::Scheduler::current().now());
        std::array<qint64, std::tuple_size_v<DateBucketLimits>> edges;
        for (size_t i = 0; i < edges.size(); ++i)
            edges[i] = limits[i].toMSecsSinceEpoch();
        const QStringList keyPath = dateKeyPath(groupType);
        for (const KPItemDataPtr& item : items) {
            // One date made per document, compared as an instant: copies of dates cost more
            // than finding the bucket.
            const QDateTime date = groupType == KPGroupSortTypeDateModified && item->bLoadedDataContent()
                ? item->dateModified()
                : sortfunctions::recordValue(item->data(), keyPath).toDateTime();
            int bucket = 5;
            if (date.isValid()) {
                const qint64 ms = date.toMSecsSinceEpoch();
                bucket = int(std::find_if(edges.begin(), edges.end(), [ms](qint64 edge) { return ms > edge; }) - edges.begin());
            }
            builder.addRanked(kDateBucketKeys[bucket], bucket, item);
        }
        m_sections = builder.finish(byRank(groupAscending), [](const Bucket& bucket) { return dateBucketTitle(bucket.rank); });
        break;
    }
    case KPGroupSortTypeSource: {
        const QStringList keyPath = metadataKeyPath("from");
        for (const KPItemDataPtr& item : items) {
            const DBFileInfo& record = item->data();
            const QString source = record.isIndex() ? record.path() : sortfunctions::recordValue(record, keyPath).toString();
            builder.addToKeyOrOther(parentFolder(source), item);
        }
        m_sections = builder.finish(byText(groupAscending), keyTitle);
        break;
    }
    default:
        break;
    }
}

const QList<KPGroupingEngine::SizeRange>& KPGroupingEngine::fileSizeGroups()
{
    // One byte is singular, and every unit stands apart from its number.
    static const QList<SizeRange> ranges{
        {QStringLiteral("From 1 byte to 10 KB"), 1, 10240},
        {QStringLiteral("From 10 KB to 1 MB"), 10240, 1048576},
        {QStringLiteral("From 1 MB to 10 MB"), 1048576, 10485760},
        {QStringLiteral("From 10 MB to 50 MB"), 10485760, 52428800},
        {QStringLiteral("From 50 MB to 100 MB"), 52428800, 104857600},
        {QStringLiteral("From 100 MB to 1 GB"), 104857600, 1073741824},
        {QStringLiteral("From 1 GB to 100 GB"), 1073741824, 107374182400},
    };
    return ranges;
}

KPGroupingEngine::DateBucketLimits KPGroupingEngine::dateBucketLimits(const QDateTime& now)
{
    // Calendar days: a day around a summer-time change is 23 or 25 hours long.
    const QDate today = now.toLocalTime().date();
    static constexpr int kDaysBack[] = {0, 1, 7, 30, 365};
    DateBucketLimits limits;
    for (size_t i = 0; i < limits.size(); ++i)
        limits[i] = today.addDays(-kDaysBack[i]).startOfDay().toUTC();
    return limits;
}

int KPGroupingEngine::dateBucket(const std::optional<QDateTime>& date, const DateBucketLimits& limits)
{
    if (!date)
        return 5;
    for (size_t bucket = 0; bucket < limits.size(); ++bucket) {
        if (*date > limits[bucket])
            return int(bucket);
    }
    return 5;
}

int KPGroupingEngine::dateBucket(const std::optional<QDateTime>& date, const QDateTime& now)
{
    return dateBucket(date, dateBucketLimits(now));
}

QString KPGroupingEngine::dateBucketTitle(int bucket)
{
    static const char* const kTitles[] = {"Today", "Yesterday", "Previous 7 Days", "Previous 30 Days",
                                          "Previous 365 Days", "Earlier"};
    return browsertext::text(QString::fromLatin1(kTitles[std::clamp(bucket, 0, 5)]));
}

QString KPGroupingEngine::firstLetterKey(const QString& title)
{
    return platform::sectionLetter(title);
}

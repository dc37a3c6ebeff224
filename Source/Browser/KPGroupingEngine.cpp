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
#include <vector>

using sortfunctions::KeyedItem;

namespace {

// One section in the making.
struct Bucket {
    QString orderText; // its key: what sections of text keys are ordered by
    int rank = 0;      // what sections of ranged keys are ordered by
    std::vector<KeyedItem> entries;
};

class SectionBuilder {
public:
    SectionBuilder(int fileSortType, bool fileAscending) : m_fileSortType(fileSortType), m_fileAscending(fileAscending) {}

    // The bucket of key (with its rank, the first time).
    Bucket& bucket(const QString& key, int rank = 0)
    {
        auto it = m_index.constFind(key);
        if (it != m_index.cend())
            return m_buckets[size_t(*it)];
        m_index.insert(key, int(m_buckets.size()));
        m_buckets.push_back(Bucket{key, rank, {}});
        return m_buckets.back();
    }
    void add(Bucket& bucket, const KPItemDataPtr& item) { bucket.entries.push_back(keyed(item)); }
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
            m_buckets.push_back(Bucket{key, rank, {}});
        }
        add(m_buckets[size_t(index)], item);
    }
    void addOther(const KPItemDataPtr& item) { m_other.entries.push_back(keyed(item)); }
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
    // when there are any.
    template <class Less, class TitleOf>
    QList<KPSectionDataPtr> finish(Less less, TitleOf titleOf, const QString& otherTitle = QStringLiteral("Other"),
                                   bool otherFirst = false)
    {
        std::stable_sort(m_buckets.begin(), m_buckets.end(), less);
        QList<KPSectionDataPtr> sections;
        sections.reserve(qsizetype(m_buckets.size()) + 1);
        for (Bucket& bucket : m_buckets)
            sections.append(section(titleOf(bucket), bucket.entries));
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
    std::array<int, kRanks> m_byRank = [] {
        std::array<int, kRanks> none;
        none.fill(-1);
        return none;
    }();
    Bucket m_other;
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

std::optional<QDateTime> shownDateModified(const KPItemData& item)
{
    static const QStringList kDateModified{QStringLiteral("metadata"), QStringLiteral("dateModified")};
    const QDateTime date = item.bLoadedDataContent() ? item.dateModified()
                                                     : sortfunctions::recordValue(item.data(), kDateModified).toDateTime();
    return date.isValid() ? std::optional<QDateTime>(date) : std::nullopt;
}

QString parentFolder(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

std::optional<QDateTime> metadataDate(const DBFileInfo& record, const QStringList& keyPath)
{
    const QDateTime date = sortfunctions::recordValue(record, keyPath).toDateTime();
    return date.isValid() ? std::optional<QDateTime>(date) : std::nullopt;
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

    SectionBuilder builder(fileType, fileAscending);
    const bool plainList = KPViewSizeManager::instance().itemViewType() == KPItemViewTypeDocuments;
    const bool known = groupType >= KPGroupSortTypeTitle && groupType <= KPGroupSortTypeSource;
    if (plainList || !known) {
        Bucket& only = builder.bucket(QString());
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
        const DateBucketLimits limits = dateBucketLimits(platform::kit::Scheduler::current().now());
        const QStringList keyPath = dateKeyPath(groupType);
        for (const KPItemDataPtr& item : items) {
            const std::optional<QDateTime> date = groupType == KPGroupSortTypeDateModified
                ? shownDateModified(*item)
                : metadataDate(item->data(), keyPath);
            const int bucket = dateBucket(date, limits);
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

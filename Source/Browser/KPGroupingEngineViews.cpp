// The special views of the focus entries: Recent, Flagged, Document Date, File Type and Author.
#include "Browser/BrowserText.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPGroupingEngine.h"
#include "Browser/KPSortFunctions.h"
#include "Browser/KPViewSizeManager.h"
#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/NaturalCompare.h"
#include "Platform/Foundation/TextFolding.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QHash>
#include <QLocale>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <array>
#include <vector>

namespace {

const QString kLogDomain = QStringLiteral("Browser");

platform::Predicate predicateOf(const QString& format, const QVariantList& args = {})
{
    auto parsed = platform::Predicate::format(format, args);
    Q_ASSERT(parsed.has_value());
    return parsed ? *parsed : platform::Predicate();
}

// The records of a fetch; a failed fetch is logged and shows as an empty view.
template <class Record>
QList<Record> fetch(DataBaseEngine& engine, const QString& format,
                    const std::optional<platform::SortDescriptor>& sort = std::nullopt, int limit = 0)
{
    auto found = engine.queryRecordByName(Record::entityName(), predicateOf(format), sort, limit, engine.context());
    if (!found) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("%1 (%2): %3").arg(Record::entityName(), format, found.error().toString()));
        return {};
    }
    return DBRecord::recordsOf<Record>(*found);
}

QList<KPItemDataPtr> displayModels(const QList<DBFileInfo>& records)
{
    QList<KPItemDataPtr> items;
    items.reserve(records.size());
    for (const DBFileInfo& record : records)
        items.append(KPItemData::create(record));
    return items;
}

QString timeText(const QDateTime& local)
{
    return QLocale().toString(local.time(), QStringLiteral("hh:mm AP"));
}

} // namespace

QString KPGroupingEngine::importBatchTitle(const QDateTime& date, const QDateTime& now)
{
    const QDateTime local = date.toLocalTime();
    const QDate today = now.toLocalTime().date();
    if (local.date() == today)
        return browsertext::format(QStringLiteral("Today %@"), {timeText(local)});
    if (local.date() == today.addDays(-1))
        return browsertext::format(QStringLiteral("Yesterday %@"), {timeText(local)});
    return QStringLiteral("%1 %2").arg(local.toString(QStringLiteral("yyyy-MM-dd")), timeText(local));
}

void KPGroupingEngine::createRecentDataAndFillData()
{
    m_sections.clear();
    const qint64 filter = platform::UserDefaults::standardUserDefaults().integerForKey(kRecentFilterTypeKey);
    DataBaseEngine& db = engine();
    if (!db.context()) {
        reloadData();
        return;
    }
    if (filter == RecentLastModified || filter == RecentLastOpened) {
        const bool opened = filter == RecentLastOpened;
        const QList<DBFileInfo> records = fetch<DBFileInfo>(
            db, opened ? QStringLiteral("metadata.dateLastOpen != nil && isTrash == NO")
                       : QStringLiteral("metadata.dateModified != nil && isTrash == NO"));
        if (opened) {
            // The desktop's own record of when a file was last used wins; where it knows none,
            // the stored date stays.
            const auto lastUsed = m_services.lastUsedDate ? m_services.lastUsedDate : lastUsedDateOfFile;
            for (const DBFileInfo& record : records) {
                const std::optional<QDateTime> used = lastUsed(DBHelper::CombinFileAbsolutePath(record));
                DBFileInfoMetadata metadata = record.metadata();
                if (used && used->isValid() && *used != metadata.dateLastOpen())
                    metadata.setDateLastOpen(*used);
            }
        }
        listed().addSource(displayModels(records));
        KPViewSizeManager::instance().setItemViewType(KPItemViewTypeDocuments);
        sort().setFileAscending(false);
        sort().setFileSortType(opened ? KPFileSortTypeDateLastOpened : KPFileSortTypeDateModified);
        createDataAndFillData(listed().dataSource());
    } else if (filter == RecentImportHistory) {
        const QList<DBRecent> batches = fetch<DBRecent>(db, QStringLiteral("fileInfos.@count > 0"),
                                                        platform::SortDescriptor(QStringLiteral("date"), false),
                                                        kImportBatchLimit);
        QList<QList<KPItemDataPtr>> batchItems;
        QList<KPItemDataPtr> all;
        for (const DBRecent& batch : batches) {
            QList<DBFileInfo> live;
            for (const DBFileInfo& file : batch.fileInfos()) {
                if (!file.isTrash())
                    live.append(file);
            }
            batchItems.append(displayModels(live));
            all += batchItems.last();
        }
        listed().addSource(all);
        KPViewSizeManager::instance().setItemViewType(KPItemViewTypeGroupedDocuments);
        const QDateTime now = platform::kit::Scheduler::current().now();
        for (qsizetype i = 0; i < batches.size(); ++i) {
            if (!batchItems[i].isEmpty())
                m_sections.append(KPSectionData::create(importBatchTitle(batches[i].date(), now), batchItems[i]));
        }
    }
    reloadData();
}

void KPGroupingEngine::createFlagDataAndFillData()
{
    m_sections.clear();
    if (engine().context()) {
        QMap<qint64, QList<KPItemDataPtr>> byFlag;
        for (const DBFileInfo& record : fetch<DBFileInfo>(engine(), QStringLiteral("metadata.label > 0 && isTrash == NO")))
            byFlag[record.valueForKeyPath(QStringLiteral("metadata.label")).toLongLong()].append(KPItemData::create(record));
        // The tiles' fixed order; flags outside it go last.
        static constexpr std::array<qint64, 8> kFlagOrder{6, 7, 5, 2, 4, 3, 1, 0};
        auto position = [](qint64 label) {
            return std::find(kFlagOrder.begin(), kFlagOrder.end(), label) - kFlagOrder.begin();
        };
        std::vector<FlagGroupRecord> records;
        for (auto it = byFlag.cbegin(); it != byFlag.cend(); ++it)
            records.push_back({it.key(), it.value()});
        std::stable_sort(records.begin(), records.end(),
                         [&](const FlagGroupRecord& a, const FlagGroupRecord& b) { return position(a.label) < position(b.label); });
        if (!records.empty()) {
            QList<KPSectionItem> datas(records.begin(), records.end());
            m_sections.append(KPSectionData::create(QString(), std::move(datas)));
        }
    }
    reloadData();
}

void KPGroupingEngine::createDateDataAndFileDate()
{
    m_sections.clear();
    if (engine().context()) {
        // year → month → its record; items keep the modification-date order of the fetch.
        // Keyed by number: as text, year 10000 would come before 2012.
        QMap<int, QMap<int, MonthGroupRecord>> years;
        const QList<DBFileInfo> records = fetch<DBFileInfo>(engine(), QStringLiteral("isTrash == NO"),
                                                            platform::SortDescriptor(QStringLiteral("metadata.dateModified")));
        for (const DBFileInfo& record : records) {
            const QDateTime created = record.valueForKeyPath(QStringLiteral("metadata.dateCreated")).toDateTime();
            if (!created.isValid())
                continue;
            const QDate day = created.toLocalTime().date();
            const QString year = QStringLiteral("%1").arg(day.year(), 4, 10, QLatin1Char('0'));
            const QString month = QStringLiteral("%1").arg(day.month(), 2, 10, QLatin1Char('0'));
            MonthGroupRecord& group = years[day.year()][day.month()];
            group.year = year;
            group.month = month;
            group.items.append(KPItemData::create(record));
        }
        // Latest year first, January first within a year.
        for (auto year = years.cend(); year != years.cbegin();) {
            --year;
            QList<KPSectionItem> months;
            for (const MonthGroupRecord& month : year.value())
                months.append(month);
            m_sections.append(KPSectionData::create(year.value().first().year, std::move(months)));
        }
    }
    reloadData();
}

void KPGroupingEngine::createFileTypeAndFileData()
{
    m_sections.clear();
    listed().removeAllObjects();
    const platform::ContextPtr& context = engine().context();
    if (context) {
        // One grouped count answers every kind's count: documents per extension, folded as
        // the kinds' "like[cd]" comparison folds.
        platform::FetchRequest request(DBFileInfo::entityName(), predicateOf(QStringLiteral("isTrash == NO")));
        request.groupByKeyPath = QStringLiteral("pathExtension");
        auto counts = context->groupedCountForFetchRequest(request);
        if (!counts)
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("file type counts: %1").arg(counts.error().toString()));
        const auto fold = [](const QString& text) {
            return platform::fold(text, platform::FoldOptions::CaseAndDiacriticInsensitive);
        };
        QHash<QString, qint64> countByExtension;
        QStringList extensions;
        for (const platform::GroupCount& group : counts ? *counts : QList<platform::GroupCount>()) {
            const QString extension = group.value.toString();
            if (extension.isEmpty())
                continue;
            countByExtension[fold(extension)] += group.count;
            extensions.append(extension);
        }
        const KPFileFormatManager& table = formats();
        struct Group {
            QString name;
            QList<qint64> kinds;
        };
        std::vector<Group> groups; // in the order met
        for (const QString& extension : std::as_const(extensions)) {
            const QString folded = fold(extension);
            const auto& groupList = table.groupList();
            for (auto it = groupList.cbegin(); it != groupList.cend(); ++it) {
                const bool inGroup = std::any_of(it.value().begin(), it.value().end(),
                                                 [&](const QString& e) { return fold(e) == folded; });
                if (!inGroup)
                    continue;
                auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.name == it.key(); });
                if (group == groups.end())
                    group = groups.insert(groups.end(), Group{it.key(), {}});
                const qint64 kind = table.kindIDByExtenstion(extension);
                if (kind >= 0 && !group->kinds.contains(kind))
                    group->kinds.append(kind);
                break;
            }
        }
        for (const Group& group : groups) {
            QList<KPSectionItem> records;
            for (qint64 kind : group.kinds) {
                QSet<QString> kindExtensions;
                for (const QString& extension : table.extenstionsByKindID(kind))
                    kindExtensions.insert(fold(extension));
                if (kindExtensions.isEmpty())
                    continue;
                qint64 count = 0;
                for (const QString& extension : std::as_const(kindExtensions))
                    count += countByExtension.value(extension);
                records.append(FileTypeGroupRecord{kind, count});
            }
            if (!records.isEmpty())
                m_sections.append(KPSectionData::create(group.name, std::move(records)));
        }
    }
    KPViewSizeManager::instance().setItemViewType(KPItemViewTypeFileType);
    reloadData();
}

void KPGroupingEngine::createAuthorDataAndFillData()
{
    m_sections.clear();
    listed().removeAllObjects();
    if (engine().context()) {
        const QList<DBAuthor> authors = fetch<DBAuthor>(engine(), QStringLiteral("fileInfos.@count > 0 && (ANY fileInfos.isTrash == NO)"),
                                                        platform::SortDescriptor(QStringLiteral("name")));
        if (!authors.isEmpty()) {
            // The store orders by code unit; the tiles follow the name order of every other list.
            std::vector<std::pair<QCollatorSortKey, DBAuthor>> keyed;
            keyed.reserve(size_t(authors.size()));
            for (const DBAuthor& author : authors)
                keyed.emplace_back(platform::naturalSortKey(author.name()), author);
            std::stable_sort(keyed.begin(), keyed.end(),
                             [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
            QList<KPSectionItem> datas;
            datas.reserve(authors.size());
            for (auto& entry : keyed)
                datas.append(std::move(entry.second));
            m_sections.append(KPSectionData::create(QString(), std::move(datas)));
        }
    }
    KPViewSizeManager::instance().setItemViewType(KPItemViewTypeAuthor);
    reloadData();
}

// The grouping engine over a temporary library with a fixed "now" (Friday 15 March 2024,
// 12:00 in Berlin): every group type's sections and order, nothing left out, current values
// after edits, and the special views.
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPGroupingEngine.h"
#include "Browser/KPSortFunctions.h"
#include "BrowserLibraryKit.h"
#include "Import/KPFileFormatManager.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"

#include <QRandomGenerator>

using namespace browsertest;

namespace {

class GroupingTest : public BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        KPDataSourceSortManager::resetForTesting();
        clock = std::make_unique<platform::kit::VirtualScheduler>(now);
        settings().setItemViewType(KPItemViewTypeGroupedDocuments);
        KPGroupingEngine::Services services;
        services.engine = engine.get();
        services.listed = &listed;
        services.reloadData = [this] { ++reloads; };
        services.lastUsedDate = [this](const QString& path) -> std::optional<QDateTime> {
            return lastUsed.contains(path) ? std::optional<QDateTime>(lastUsed.value(path)) : std::nullopt;
        };
        grouping = std::make_unique<KPGroupingEngine>(sections, services);
    }
    void TearDown() override
    {
        grouping.reset();
        clock.reset();
        KPDataSourceSortManager::resetForTesting();
        BrowserLibraryTest::TearDown();
    }

    void group(int groupType, bool groupAscending = true, int fileType = KPFileSortTypeTitle, bool fileAscending = true)
    {
        grouping->createDataAndFileDataByGroupSortSetting(
            items, QVariantMap{{KPGroupingEngine::kGroupTypeKey, groupType}, {KPGroupingEngine::kGroupAscendingKey, groupAscending},
                               {KPGroupingEngine::kFileTypeKey, fileType}, {KPGroupingEngine::kFileAscendingKey, fileAscending}});
    }

    // The records' titles per section: {"section title", "doc, doc"}.
    QList<QPair<QString, QString>> layout() const
    {
        QList<QPair<QString, QString>> out;
        for (const KPSectionDataPtr& section : sections) {
            QStringList titles;
            for (const KPItemDataPtr& item : section->itemDatas())
                titles.append(item->data().title());
            out.append({section->title(), titles.join(QStringLiteral(", "))});
        }
        return out;
    }

    QStringList sectionTitles() const
    {
        QStringList titles;
        for (const KPSectionDataPtr& section : sections)
            titles.append(section->title());
        return titles;
    }

    KPItemDataPtr add(const DocumentFields& model)
    {
        KPItemDataPtr item = KPItemData::create(addDocument(model));
        items.insert(item);
        return item;
    }

    ScopedTimeZone zone{"Europe/Berlin"};
    const QDateTime now = localDate(2024, 3, 15, 12, 0);
    std::unique_ptr<platform::kit::VirtualScheduler> clock;
    KPDataSourceManager listed;
    QList<KPSectionDataPtr> sections;
    std::unique_ptr<KPGroupingEngine> grouping;
    KPItemDataSet items;
    QHash<QString, QDateTime> lastUsed;
    int reloads = 0;
};

using Layout = QList<QPair<QString, QString>>;

} // namespace

TEST_F(GroupingTest, ThePlainListAndUnknownGroupTypesShowEveryDocumentInOneSection)
{
    add({.title = QStringLiteral("b"), .size = 0});
    add({.title = QString()});
    add({.title = QStringLiteral("a")});
    settings().setItemViewType(KPItemViewTypeDocuments);
    for (int type : {1, 2, 3, 4, 5, 8, 10}) {
        group(type);
        EXPECT_EQ(layout(), (Layout{{QString(), QStringLiteral(", a, b")}})) << type;
    }
    settings().setItemViewType(KPItemViewTypeGroupedDocuments);
    for (int type : {0, 11, -3}) {
        group(type, false, KPFileSortTypeTitle, false);
        EXPECT_EQ(layout(), (Layout{{QString(), QStringLiteral("b, a, ")}})) << type;
    }
    items.clear();
    group(1);
    EXPECT_TRUE(sections.isEmpty());
}

TEST_F(GroupingTest, FirstLettersWithUntitledDocumentsInOther)
{
    add({.title = QStringLiteral("apple")});
    add({.title = QStringLiteral("Banana")});
    add({.title = QStringLiteral("avocado")});
    add({.title = QString()});
    add({.title = QString::fromUtf8("\xF0\x9F\x98\x80 party")}); // an emoji: one character of two units
    add({.title = QString::fromUtf8("\xC3\xA9mile")});
    add({.title = QStringLiteral("Ångström")});
    add({.title = QStringLiteral("ßeta")});
    add({.title = QStringLiteral("Sigma")});
    add({.title = QStringLiteral("Zulu")});
    group(1);
    // Letters sit under their base letter, and symbols come before letters as in every list.
    EXPECT_EQ(layout(), (Layout{{QString::fromUtf8("\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80 party")},
                                {QStringLiteral("A"), QStringLiteral("Ångström, apple, avocado")},
                                {QStringLiteral("B"), QStringLiteral("Banana")},
                                {QStringLiteral("E"), QString::fromUtf8("\xC3\xA9mile")},
                                {QStringLiteral("S"), QStringLiteral("Sigma, ßeta")}, // ß reads as "ss"
                                {QStringLiteral("Z"), QStringLiteral("Zulu")},
                                {QStringLiteral("Other"), QString()}}));
    group(1, false, KPFileSortTypeTitle, false);
    EXPECT_EQ(sectionTitles().mid(2), (QStringList{QStringLiteral("E"), QStringLiteral("B"), QStringLiteral("A"),
                                                   QString::fromUtf8("\xF0\x9F\x98\x80"), QStringLiteral("Other")}));
    EXPECT_EQ(layout()[4].second, QStringLiteral("avocado, apple, Ångström"));
}

TEST_F(GroupingTest, SizeRangesWithTheSizesNoRangeHoldsInOther)
{
    add({.title = QStringLiteral("ten k"), .size = 10240});
    add({.title = QStringLiteral("tiny"), .size = 1});
    add({.title = QStringLiteral("empty"), .size = 0});
    add({.title = QStringLiteral("unknown")});
    add({.title = QStringLiteral("huge"), .size = 107374182400});
    add({.title = QStringLiteral("big"), .size = 107374182399});
    group(4);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("From 1 byte to 10 KB"), QStringLiteral("tiny")},
                                {QStringLiteral("From 10 KB to 1 MB"), QStringLiteral("ten k")},
                                {QStringLiteral("From 1 GB to 100 GB"), QStringLiteral("big")},
                                {QStringLiteral("Other"), QStringLiteral("empty, huge, unknown")}}));
    group(4, false);
    EXPECT_EQ(sectionTitles(), (QStringList{QStringLiteral("From 1 GB to 100 GB"), QStringLiteral("From 10 KB to 1 MB"),
                                            QStringLiteral("From 1 byte to 10 KB"), QStringLiteral("Other")}));
}

TEST_F(GroupingTest, DateBucketsByCalendarDayInLocalTime)
{
    add({.title = QStringLiteral("this morning"), .modified = localDate(2024, 3, 15, 0, 1)});
    add({.title = QStringLiteral("midnight"), .modified = localDate(2024, 3, 15, 0, 0)});
    add({.title = QStringLiteral("last week"), .modified = localDate(2024, 3, 9, 10, 0)});
    add({.title = QStringLiteral("february"), .modified = localDate(2024, 2, 20, 10, 0)});
    add({.title = QStringLiteral("last year"), .modified = localDate(2023, 6, 1, 10, 0)});
    add({.title = QStringLiteral("ancient"), .modified = localDate(2001, 1, 1, 10, 0)});
    add({.title = QStringLiteral("undated")});
    group(8, false);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("Earlier"), QStringLiteral("ancient, undated")},
                                {QStringLiteral("Previous 365 Days"), QStringLiteral("last year")},
                                {QStringLiteral("Previous 30 Days"), QStringLiteral("february")},
                                {QStringLiteral("Previous 7 Days"), QStringLiteral("last week")},
                                {QStringLiteral("Yesterday"), QStringLiteral("midnight")},
                                {QStringLiteral("Today"), QStringLiteral("this morning")}}));
    group(8, true);
    EXPECT_EQ(sectionTitles().front(), QStringLiteral("Today"));

    // Just after the clocks went forward (31 March is 23 hours long), 30 March 23:30 is two
    // days ago, not yesterday.
    EXPECT_EQ(KPGroupingEngine::dateBucket(localDate(2024, 3, 30, 23, 30), localDate(2024, 4, 1, 0, 30)), 2);
    EXPECT_EQ(KPGroupingEngine::dateBucket(localDate(2024, 3, 31, 0, 10), localDate(2024, 4, 1, 0, 30)), 1);
}

TEST_F(GroupingTest, FoldersFollowRenamesAndUncategorizedSitsFirstOrLast)
{
    DBNode inbox = folderNamed(QStringLiteral("Inbox"));
    DBNode work = folderNamed(QStringLiteral("Work"));
    const KPItemDataPtr memo = add({.title = QStringLiteral("memo")});
    const KPItemDataPtr plan = add({.title = QStringLiteral("plan")});
    add({.title = QStringLiteral("loose")});
    inbox.addFilesObject(memo->data());
    work.addFilesObject(plan->data());
    group(3);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("Uncategorized"), QStringLiteral("loose")},
                                {QStringLiteral("Inbox"), QStringLiteral("memo")},
                                {QStringLiteral("Work"), QStringLiteral("plan")}}));
    group(3, false);
    EXPECT_EQ(sectionTitles(), (QStringList{QStringLiteral("Work"), QStringLiteral("Inbox"), QStringLiteral("Uncategorized")}));

    // Between two groupings of the same display models: a rename and a move.
    work.setTitle(QStringLiteral("Archive"));
    work.addFilesObject(memo->data());
    group(3);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("Uncategorized"), QStringLiteral("loose")},
                                {QStringLiteral("Archive"), QStringLiteral("memo, plan")}}));
}

TEST_F(GroupingTest, TagsOfFreshModelsAndAfterAnEdit)
{
    add({.title = QStringLiteral("both"), .tags = {QStringLiteral("work"), QStringLiteral("home")}});
    const KPItemDataPtr single = add({.title = QStringLiteral("single"), .tags = {QStringLiteral("work")}});
    add({.title = QStringLiteral("none")});
    // The models are new: nothing of them has been loaded yet.
    group(2);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("Tag name is home, work"), QStringLiteral("both")},
                                {QStringLiteral("Tag name is untag"), QStringLiteral("none")},
                                {QStringLiteral("Tag name is work"), QStringLiteral("single")}}));
    // After a tag edit the same models land in their new section, and no empty one is left.
    DBFileInfo record = single->data();
    record.setTags({tagNamed(QStringLiteral("zebra"))});
    group(2, false);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("Tag name is zebra"), QStringLiteral("single")},
                                {QStringLiteral("Tag name is untag"), QStringLiteral("none")},
                                {QStringLiteral("Tag name is home, work"), QStringLiteral("both")}}));
    EXPECT_EQ(single->tagString(), QStringLiteral("zebra"));
}

TEST_F(GroupingTest, KindsAndSourcesWithTheUnplacedInOther)
{
    add({.title = QStringLiteral("upper"), .extension = QStringLiteral("PDF"), .from = QStringLiteral("/home/u/Downloads/upper.PDF")});
    add({.title = QStringLiteral("lower"), .extension = QStringLiteral("pdf"), .from = QStringLiteral("/home/u/Desktop/lower.pdf")});
    add({.title = QStringLiteral("strange"), .extension = QStringLiteral("qqq")});
    add({.title = QStringLiteral("bare"), .extension = QString()});
    add({.title = QStringLiteral("indexed"), .extension = QStringLiteral("txt"), .isIndex = true,
         .path = QStringLiteral("/srv/share/notes/indexed.txt")});
    const QString pdfKind = KPFileFormatManager::fileFormatManager().kindNameByExtenstion(QStringLiteral("pdf"));
    const QString textKind = KPFileFormatManager::fileFormatManager().kindNameByExtenstion(QStringLiteral("txt"));
    group(5);
    EXPECT_EQ(layout(), (Layout{{pdfKind, QStringLiteral("lower, upper")},
                                {textKind, QStringLiteral("indexed")},
                                {QStringLiteral("Unknown"), QStringLiteral("strange")},
                                {QStringLiteral("Other"), QStringLiteral("bare")}}));
    group(10);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("/home/u/Desktop"), QStringLiteral("lower")},
                                {QStringLiteral("/home/u/Downloads"), QStringLiteral("upper")},
                                {QStringLiteral("/srv/share/notes"), QStringLiteral("indexed")},
                                {QStringLiteral("Other"), QStringLiteral("bare, strange")}}));
}

TEST_F(GroupingTest, AGivenSettingIsStoredIntoTheSortSettings)
{
    add({.title = QStringLiteral("x"), .size = 5});
    int posts = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        KPDataSourceSortManager::kSortingChangeNotification, [&](const platform::Notification&) { ++posts; });
    grouping->createDataAndFileDataByGroupSortSetting(items, QVariantMap{{KPGroupingEngine::kGroupTypeKey, 4}});
    const KPDataSourceSortManager& stored = KPDataSourceSortManager::shareDataSourceSortManager();
    EXPECT_EQ(stored.groupSortType(), 4);
    EXPECT_FALSE(stored.groupAscending()); // a missing key counts as NO
    EXPECT_EQ(stored.fileSortType(), 0);
    EXPECT_EQ(posts, 4);
    EXPECT_EQ(sectionTitles(), QStringList{QStringLiteral("From 1 byte to 10 KB")});
    grouping->createDataAndFillData(items); // now from the stored settings, posting nothing
    EXPECT_EQ(posts, 4);
    EXPECT_EQ(sections.size(), 1);
}

TEST_F(GroupingTest, RecentViews)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    DBRecent morning = DBRecord::insertNewObject<DBRecent>(context());
    morning.setDate(localDate(2024, 3, 15, 9, 30));
    DBRecent lunch = DBRecord::insertNewObject<DBRecent>(context());
    lunch.setDate(localDate(2024, 3, 15, 13, 5)); // later today than "now": still today
    DBRecent older = DBRecord::insertNewObject<DBRecent>(context());
    older.setDate(localDate(2024, 3, 12, 21, 0));
    DBRecent trashedOnly = DBRecord::insertNewObject<DBRecent>(context());
    trashedOnly.setDate(localDate(2024, 3, 14, 8, 0));
    auto inBatch = [&](const QString& title, DBRecent& batch, bool trashed = false) {
        DBFileInfo file = addDocument(DocumentFields{.title = title});
        file.setRecent(batch);
        file.setIsTrash(trashed);
        return file;
    };
    inBatch(QStringLiteral("a1"), morning);
    inBatch(QStringLiteral("a2"), morning);
    inBatch(QStringLiteral("b1"), lunch);
    inBatch(QStringLiteral("c1"), older);
    inBatch(QStringLiteral("gone"), trashedOnly, true);

    defaults.setInteger(KPGroupingEngine::RecentImportHistory, KPGroupingEngine::kRecentFilterTypeKey);
    grouping->createRecentDataAndFillData();
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeGroupedDocuments);
    EXPECT_EQ(layout(), (Layout{{QStringLiteral("Today 01:05 PM"), QStringLiteral("b1")},
                                {QStringLiteral("Today 09:30 AM"), QStringLiteral("a1, a2")},
                                {QStringLiteral("2024-03-12 09:00 PM"), QStringLiteral("c1")}}));
    EXPECT_EQ(listed.dataSource().size(), 4u);

    // Last opened: the desktop's date wins where it knows one.
    DBFileInfo seen = addDocument(DocumentFields{.title = QStringLiteral("seen"), .lastOpened = localDate(2024, 1, 1, 8, 0)});
    DBFileInfo stale = addDocument(DocumentFields{.title = QStringLiteral("stale"), .lastOpened = localDate(2024, 2, 1, 8, 0)});
    addDocument(DocumentFields{.title = QStringLiteral("never")});
    lastUsed.insert(DBHelper::CombinFileAbsolutePath(seen), localDate(2024, 3, 14, 18, 0));
    defaults.setInteger(KPGroupingEngine::RecentLastOpened, KPGroupingEngine::kRecentFilterTypeKey);
    grouping->createRecentDataAndFillData();
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeDocuments);
    EXPECT_EQ(seen.metadata().dateLastOpen(), localDate(2024, 3, 14, 18, 0));
    EXPECT_EQ(stale.metadata().dateLastOpen(), localDate(2024, 2, 1, 8, 0));
    EXPECT_EQ(layout(), (Layout{{QString(), QStringLiteral("seen, stale")}}));

    defaults.setInteger(7, KPGroupingEngine::kRecentFilterTypeKey);
    grouping->createRecentDataAndFillData();
    EXPECT_TRUE(sections.isEmpty());
    EXPECT_EQ(reloads, 3);
}

TEST_F(GroupingTest, FlaggedDateAuthorAndFileTypeViews)
{
    for (int label : {1, 6, 2, 6})
        addDocument(DocumentFields{.title = QStringLiteral("flag %1").arg(label), .label = label});
    addDocument(DocumentFields{.title = QStringLiteral("trashed flag"), .label = 3}).setIsTrash(true);
    grouping->createFlagDataAndFillData();
    ASSERT_EQ(sections.size(), 1);
    QList<qint64> order;
    for (const KPSectionItem& tile : sections.front()->datas())
        order.append(tile.flagGroup()->label);
    EXPECT_EQ(order, (QList<qint64>{6, 2, 1}));
    EXPECT_EQ(sections.front()->datas().front().flagGroup()->items.size(), 2);

    addDocument(DocumentFields{.title = QStringLiteral("march"), .created = localDate(2012, 3, 10, 9, 0),
                             .modified = localDate(2013, 5, 1, 9, 0)});
    addDocument(DocumentFields{.title = QStringLiteral("january"), .created = localDate(2012, 1, 31, 23, 30)});
    addDocument(DocumentFields{.title = QStringLiteral("new year"), .created = QDateTime(QDate(2013, 12, 31), QTime(23, 30), Qt::UTC)});
    addDocument(DocumentFields{.title = QStringLiteral("far future"), .created = localDate(10000, 6, 1, 9, 0)});
    grouping->createDateDataAndFileDate();
    // Created 23:30 UTC on New Year's Eve is already 2014 in Berlin; years compare as numbers.
    ASSERT_EQ(sectionTitles(), (QStringList{QStringLiteral("10000"), QStringLiteral("2014"), QStringLiteral("2012")}));
    ASSERT_EQ(sections[2]->itemCount(), 2);
    EXPECT_EQ(sections[2]->datas()[0].monthGroup()->month, QStringLiteral("01"));
    const MonthGroupRecord* march = sections[2]->datas()[1].monthGroup();
    EXPECT_EQ(march->month, QStringLiteral("03"));
    ASSERT_EQ(march->items.size(), 1);
    EXPECT_EQ(march->items.front()->data().title(), QStringLiteral("march"));

    addDocument(DocumentFields{.title = QStringLiteral("by ann"), .authors = {QStringLiteral("Ann")}});
    addDocument(DocumentFields{.title = QStringLiteral("by bob"), .authors = {QStringLiteral("Bob")}}).setIsTrash(true);
    addDocument(DocumentFields{.title = QStringLiteral("by others"),
                               .authors = {QStringLiteral("zoë"), QStringLiteral("Émile"), QStringLiteral("bea")}});
    listed.addSource({KPItemData::create(addDocument(QStringLiteral("listed")))});
    grouping->createAuthorDataAndFillData();
    EXPECT_TRUE(listed.dataSource().empty());
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeAuthor);
    ASSERT_EQ(sections.size(), 1);
    QStringList authors;
    for (const KPSectionItem& tile : sections.front()->datas())
        authors.append(tile.author()->name());
    EXPECT_EQ(authors, (QStringList{QStringLiteral("Ann"), QStringLiteral("bea"), QStringLiteral("Émile"), QStringLiteral("zoë")}));

    // Kinds with counts: every document above is a pdf; add others in any case.
    addDocument(DocumentFields{.title = QStringLiteral("sheet"), .extension = QStringLiteral("XLSX")});
    addDocument(DocumentFields{.title = QStringLiteral("old sheet"), .extension = QStringLiteral("xls")});
    addDocument(DocumentFields{.title = QStringLiteral("letter"), .extension = QStringLiteral("Docx")});
    addDocument(DocumentFields{.title = QStringLiteral("odd"), .extension = QStringLiteral("qqq")});
    grouping->createFileTypeAndFileData();
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeFileType);
    const KPFileFormatManager& table = KPFileFormatManager::fileFormatManager();
    QMap<QString, QMap<qint64, qint64>> counts;
    for (const KPSectionDataPtr& section : sections) {
        for (const KPSectionItem& tile : section->datas())
            counts[section->title()][tile.fileTypeGroup()->kindID] = tile.fileTypeGroup()->itemCount;
    }
    const qint64 pdf = table.kindIDByExtenstion(QStringLiteral("pdf"));
    const qint64 excel = table.kindIDByExtenstion(QStringLiteral("xlsx"));
    const qint64 word = table.kindIDByExtenstion(QStringLiteral("docx"));
    EXPECT_EQ(counts.value(QStringLiteral("PDF")).value(pdf), 11); // the two trashed ones not counted
    EXPECT_EQ(counts.value(QStringLiteral("Spreadsheets")).value(excel), 2);
    EXPECT_EQ(counts.value(QStringLiteral("Documents")).value(word), 1);
    EXPECT_EQ(counts.size(), 3);
    // The same numbers as one count per kind.
    for (qint64 kind : {pdf, excel, word}) {
        QStringList clauses;
        for (const QString& extension : table.extenstionsByKindID(kind))
            clauses.append(QStringLiteral("pathExtension like[cd] \"%1\"").arg(extension));
        auto predicate = platform::Predicate::format(QStringLiteral("(%1) && (isTrash == NO)").arg(clauses.join(QStringLiteral(" || "))));
        ASSERT_TRUE(predicate.has_value());
        qint64 shown = 0;
        for (const auto& group : counts)
            shown += group.value(kind);
        EXPECT_EQ(engine->countByObject(DBFileInfo::entityName(), *predicate), shown) << kind;
    }
}

// Models not drawn yet are grouped by their records, models drawn by what they show: over a
// generated library both give the same sections in the same order for every group type, file
// sort and direction, and grouping alone loads no model's display values.
TEST_F(GroupingTest, UnloadedModelsGroupAsLoadedOnesWithoutBeingLoaded)
{
    QRandomGenerator random(49);
    const QStringList words{QStringLiteral("report"), QStringLiteral("Invoice"), QStringLiteral("draft"),
                            QStringLiteral("Ångström"), QStringLiteral("notes"), QStringLiteral("ßeta"), QStringLiteral("Zebra"),
                            QStringLiteral("第２章"), QStringLiteral("scan"), QString()};
    const QStringList extensions{QStringLiteral("pdf"), QStringLiteral("txt"), QStringLiteral("DOCX"), QString(), QStringLiteral("qqq")};
    const QList<DBNode> folders{folderNamed(QStringLiteral("Inbox")), folderNamed(QStringLiteral("Work")), DBNode()};
    const qint64 sizes[] = {0, 1, 10240, 5000000, 2000000000, 107374182400};
    QList<DBFileInfo> records;
    for (int i = 0; i < 120; ++i) {
        DocumentFields fields{.title = words[random.bounded(words.size())] + (i % 3 ? QStringLiteral(" %1").arg(random.bounded(30)) : QString()),
                              .extension = extensions[random.bounded(extensions.size())]};
        if (i % 7)
            fields.size = sizes[random.bounded(6)];
        if (i % 5)
            fields.modified = now.addSecs(-qint64(random.bounded(800)) * 3600 * 24 / 2);
        if (i % 4)
            fields.created = now.addDays(-random.bounded(2000));
        if (i % 3 == 0)
            fields.tags = {words[random.bounded(3)]};
        if (i % 4 == 1)
            fields.from = QStringLiteral("/home/u/%1/x.pdf").arg(words[random.bounded(3)]);
        DBFileInfo record = addDocument(fields);
        if (const DBNode& folder = folders[random.bounded(folders.size())])
            DBNode(folder).addFilesObject(record);
        records.append(record);
    }
    for (int groupType : {0, 1, 2, 3, 4, 5, 6, 8, 10}) {
        for (int fileType = 1; fileType <= 7; ++fileType) {
            for (bool ascending : {true, false}) {
                SCOPED_TRACE(QStringLiteral("group %1 sort %2 %3").arg(groupType).arg(fileType).arg(ascending).toStdString());
                settings().setItemViewType(groupType == 0 ? KPItemViewTypeDocuments : KPItemViewTypeGroupedDocuments);
                items.clear();
                for (const DBFileInfo& record : records)
                    items.insert(KPItemData::create(record));
                group(groupType, ascending, fileType, !ascending);
                const Layout fresh = layout();
                // Every document once, each section in the file order.
                qsizetype shown = 0;
                for (const KPSectionDataPtr& section : sections) {
                    const QList<KPItemDataPtr> datas = section->itemDatas();
                    shown += datas.size();
                    for (qsizetype i = 1; i < datas.size(); ++i)
                        ASSERT_LE(sortfunctions::compareSortKeys(sortfunctions::sortKeyForItem(*datas[i - 1], fileType),
                                                                 sortfunctions::sortKeyForItem(*datas[i], fileType),
                                                                 fileType, !ascending),
                                  0)
                            << qPrintable(section->title()) << " " << i;
                }
                ASSERT_EQ(shown, qsizetype(items.size()));
                ASSERT_TRUE(std::none_of(items.begin(), items.end(), [](const KPItemDataPtr& item) { return item->bLoadedDataContent(); }));
                for (const KPItemDataPtr& item : items)
                    item->loadDataContent();
                group(groupType, ascending, fileType, !ascending);
                ASSERT_EQ(fresh, layout());
            }
        }
    }
}

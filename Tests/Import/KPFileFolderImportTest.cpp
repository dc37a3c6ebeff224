#include "Import/KPFileFolderImport.h"
#include "Import/KPImportText.h"
#include "ImportTestKit.h"

using namespace importtest;
using namespace KPImportKeys;

namespace {

class KPFileFolderImportTest : public ImportFixture {
protected:
    std::shared_ptr<KPFileFolderImport> tree(const QVariantMap& options) { return make<KPFileFolderImport>(options); }
    static QStringList originals(const KPFileSysytemItem& item) { return pathsOf(item.items(), Original); }
    KPFileImportQueue queue;
};

} // namespace

TEST_F(KPFileFolderImportTest, FoldersKeepTheirStructureAndEveryFileIsCounted)
{
    const QString a1 = write(QStringLiteral("A/a1.pdf"));
    const QString a2 = write(QStringLiteral("A/a2.txt"));
    const QString b1 = write(QStringLiteral("A/B/b1.pdf"));
    QDir().mkpath(src(QStringLiteral("A/Empty")));
    write(QStringLiteral("A/B/skip.xyz"));
    ASSERT_TRUE(run(queue, tree({{Paths, QStringList{src(QStringLiteral("A"))}}, {DBNode, QStringLiteral("T")}})));

    EXPECT_EQ(log.order, QStringList({"ImportStart", "Progress", "Progress", "Progress", "SaveDataBaseStart",
                                      "SaveDataBaseFinished"}));
    const auto progress = log.progress();
    for (int i = 0; i < progress.size(); ++i)
        EXPECT_EQ(progress[i].value(CurrIndex).toInt() * 10 + progress[i].value(Count).toInt(), (i + 1) * 10 + 3);
    const QVariantMap finished = log.last();
    EXPECT_EQ(finished.value(SuccessCount).toInt(), 3);
    EXPECT_EQ(finished.value(LostFiles).toStringList(), QStringList{src(QStringLiteral("A/B/skip.xyz"))});
    const auto item = finished.value(FileSystemItem).value<std::shared_ptr<KPFileSysytemItem>>();
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->items().isEmpty());
    ASSERT_EQ(item->children().size(), 1u);
    const KPFileSysytemItem& A = *item->children()[0];
    EXPECT_EQ(A.title(), QStringLiteral("A"));
    EXPECT_EQ(setOf(originals(A)), (QSet<QString>{a1, a2}));
    ASSERT_EQ(A.children().size(), 2u) << "an empty folder still becomes a folder";
    QSet<QString> subTitles;
    for (const auto& sub : A.children()) {
        subTitles.insert(sub->title());
        if (sub->title() == QStringLiteral("B")) {
            EXPECT_EQ(originals(*sub), QStringList{b1});
        }
    }
    EXPECT_EQ(subTitles, (QSet<QString>{"B", "Empty"}));
    EXPECT_TRUE(store->treeFolderName.isNull());
}

TEST_F(KPFileFolderImportTest, LooseFilesMakeAnUntitledFolderHoldingThemAndTheFolders)
{
    const QString f = write(QStringLiteral("f.pdf"));
    write(QStringLiteral("A/a.pdf"));
    ASSERT_TRUE(run(queue, tree({{Paths, QStringList{src(QStringLiteral("A")), f}}})));
    ASSERT_TRUE(store->treeRoot);
    EXPECT_EQ(store->treeRoot->title(), KPImportText::untitledFolder());
    EXPECT_EQ(originals(*store->treeRoot), QStringList{f});
    ASSERT_EQ(store->treeRoot->children().size(), 1u);
    EXPECT_EQ(store->treeRoot->children()[0]->title(), QStringLiteral("A"));
}

TEST_F(KPFileFolderImportTest, HiddenItemsHandedOverAreTakenAndTheirOwnHiddenItemsAreNot)
{
    const QString loose = write(QStringLiteral(".hidden report.pdf"));
    const QString inner = write(QStringLiteral(".config/e.pdf"));
    write(QStringLiteral(".config/.secret.pdf"));
    ASSERT_TRUE(run(queue, tree({{Paths, QStringList{src(QStringLiteral(".config")), loose}}})));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 2);
    EXPECT_TRUE(log.last().value(LostFiles).toStringList().isEmpty());
    ASSERT_TRUE(store->treeRoot);
    EXPECT_EQ(originals(*store->treeRoot), QStringList{loose});
    ASSERT_EQ(store->treeRoot->children().size(), 1u);
    EXPECT_EQ(originals(*store->treeRoot->children()[0]), QStringList{inner});
    EXPECT_EQ(dayFolderNames(), QStringList({"e.pdf", "hidden report.pdf"}));
}

TEST_F(KPFileFolderImportTest, NewFolderNameNeedsDoNewFolderAction)
{
    write(QStringLiteral("A/a.pdf"));
    ASSERT_TRUE(run(queue, tree({{Paths, QStringList{src(QStringLiteral("A"))}}, {NewFolderName, QStringLiteral("N")}})));
    EXPECT_TRUE(store->treeFolderName.isNull());
    EXPECT_FALSE(log.last().contains(DoNewFolderAction));

    log.statuses.clear();
    log.order.clear();
    ASSERT_TRUE(run(queue, tree({{Paths, QStringList{src(QStringLiteral("A"))}}, {NewFolderName, QStringLiteral("N")},
                     {DoNewFolderAction, true}})));
    EXPECT_EQ(store->treeFolderName, QStringLiteral("N"));
    EXPECT_TRUE(log.last().value(DoNewFolderAction).toBool());
}

TEST_F(KPFileFolderImportTest, ThrowAwayPostsOnlyTheSelectionBackAndLeavesNothing)
{
    for (const char* name : {"A/a1.pdf", "A/B/b1.pdf", "A/B/b2.pdf"})
        write(QString::fromUtf8(name));
    CopyGate gate(2);
    queue.addOperation(tree({{Paths, QStringList{src(QStringLiteral("A"))}}, {LastSelectNode, QStringLiteral("sel")},
                             {DBNode, QStringLiteral("T")}, {CMD, true}}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.arrived(); }));
    EXPECT_FALSE(queue.pauseImport());
    gate.release();
    queue.deleteImported();
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    EXPECT_EQ(log.count(DeleteImported), 1);
    EXPECT_EQ(log.count(SaveDataBaseStart), 0);
    EXPECT_EQ(log.last(), (QVariantMap{{Status, SaveDataBaseFinished}, {LastSelectNode, QStringLiteral("sel")}}));
    EXPECT_EQ(store->calls, 0);
    EXPECT_TRUE(dayFolderNames().isEmpty());
    EXPECT_EQ(thumbnailCount(), 0);
    EXPECT_TRUE(QFileInfo::exists(src(QStringLiteral("A/B/b1.pdf"))));
}

TEST_F(KPFileFolderImportTest, KeepStoresThePartialTreeAndMoveRemovesOnlyStoredSources)
{
    for (const char* name : {"A/a1.pdf", "A/B/b1.pdf", "A/B/b2.pdf"})
        write(QString::fromUtf8(name));
    CopyGate gate(2);
    queue.addOperation(tree({{Paths, QStringList{src(QStringLiteral("A"))}}, {CMD, true}}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.arrived(); }));
    EXPECT_FALSE(queue.pauseImport());
    gate.release();
    queue.saveImported();
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 2);
    EXPECT_EQ(dayFolderNames().size(), 2);
    int remaining = 0;
    for (const char* name : {"A/a1.pdf", "A/B/b1.pdf", "A/B/b2.pdf"})
        remaining += QFileInfo::exists(src(QString::fromUtf8(name))) ? 1 : 0;
    EXPECT_EQ(remaining, 1) << "the file never imported keeps its source";
}

TEST_F(KPFileFolderImportTest, FailedStoreTakesTheCopiesBackAndReportsEverySource)
{
    const QString a = write(QStringLiteral("A/a.pdf"));
    store->failSave = true;
    ASSERT_TRUE(run(queue, tree({{Paths, QStringList{src(QStringLiteral("A"))}}, {CMD, true}})));
    EXPECT_TRUE(QFileInfo::exists(a));
    EXPECT_TRUE(dayFolderNames().isEmpty());
    EXPECT_EQ(thumbnailCount(), 0);
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 0);
    EXPECT_EQ(log.last().value(LostFiles).toStringList(), QStringList{a});
    EXPECT_FALSE(log.last().contains(FileSystemItem)) << "no folder nodes were made";
}

TEST_F(KPFileFolderImportTest, DeepHierarchyArrivesWhole)
{
    QString relative = QStringLiteral("deep");
    for (int depth = 0; depth < 60; ++depth) {
        write(relative + QStringLiteral("/f%1.pdf").arg(depth));
        relative += QStringLiteral("/d%1").arg(depth);
    }
    ASSERT_TRUE(run(queue, tree({{Paths, QStringList{src(QStringLiteral("deep"))}}})));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 60);
    int levels = 0;
    for (const KPFileSysytemItem* item = store->treeRoot->children()[0].get(); item;
         item = item->children().empty() ? nullptr : item->children()[0].get())
        ++levels;
    EXPECT_EQ(levels, 60);
}

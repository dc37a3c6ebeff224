#include "SideBarRequestsFixture.h"

#include "MainWindow/Parts/InspectorEdits.h"
#include "Store/DBFileInfoMetadata.h"

#include <QDir>
#include <QFile>
#include <QMenu>

using namespace sidebartest;
using platform::kit::RecordingDialogService;

namespace {

// The inspector's side of a refused title: what was handed back, for which document.
struct HandedBackPane : PropertyPane {
    void editTitleAgain(const KPItemDataPtr& item, const QString& text) override { handedBack.append({item, text}); }
    QList<std::pair<KPItemDataPtr, QString>> handedBack;
};

class InspectorEditsTest : public SideBarRequestsFixture {
protected:
    void SetUp() override
    {
        SideBarRequestsFixture::SetUp();
        for (DBFileInfo* file : {&d1, &d2, &d3})
            file->setPathExtension(QStringLiteral("pdf"));
        save();
        inspector = std::make_unique<InspectorEdits>(ctx, *content);
        inspector->files = files.get();
        ctx.inspector = &pane;
    }
    void TearDown() override
    {
        ctx.inspector = nullptr;
        inspector.reset();
        SideBarRequestsFixture::TearDown();
    }
    // Shows folder A with only the document titled title selected.
    void selectOnly(const QString& title)
    {
        showAndSelectAll(QStringLiteral("A"));
        const QList<KPSectionIndexSet> all = grid->selectedIndexs();
        for (const KPSectionIndexSet& indexSet : all) {
            const QList<KPItemDataPtr> items = gridSource->itemDatasWithSectionIndexSets({indexSet});
            if (!items.isEmpty() && items.first()->title() == title)
                grid->selectItemIndexWithSectionIndexSet(indexSet);
        }
        ASSERT_EQ(grid->selectedIndexs().size(), 1);
    }
    QStringList alertTexts() const
    {
        QStringList texts;
        for (const auto& request : dialogs.requests(RecordingDialogService::Kind::Alert))
            texts.append(request.messageText);
        return texts;
    }
    QString lastReason() const { return dialogs.last(RecordingDialogService::Kind::Alert).informativeText; }

    std::unique_ptr<InspectorEdits> inspector;
    HandedBackPane pane;
};

} // namespace

TEST_F(InspectorEditsTest, RenamingAFileTheUserSeesRefusesTakenAndUnusableNamesAndReplacesNothing)
{
    // Two selected: nothing is renamed.
    showAndSelectAll(QStringLiteral("A"));
    inspector->onTitleChange(QStringLiteral("both"));
    EXPECT_EQ(d1.title(), QStringLiteral("d1"));
    EXPECT_EQ(d2.title(), QStringLiteral("d2"));

    // An index-folder document onto the name of the file beside it.
    selectOnly(QStringLiteral("d1"));
    const QString d1Path = d1.path();
    inspector->onTitleChange(QStringLiteral("d2"));
    ASSERT_EQ(alertTexts().size(), 1);
    EXPECT_TRUE(alertTexts()[0].contains(QStringLiteral("\"d2\""))) << alertTexts()[0].toStdString();
    EXPECT_EQ(d1.path(), d1Path);
    EXPECT_TRUE(QFileInfo::exists(d1Path));
    EXPECT_TRUE(QFileInfo::exists(disk + QStringLiteral("/d2.pdf")));

    // Names that would leave the folder, that no file system takes, or that the folder's next
    // walk would skip as hidden (and so drop the record): each refusal says why and hands what
    // was typed back to the title field once the alert is read.
    ASSERT_TRUE(testsupport::spinUntil([&] { return pane.handedBack.size() == 1; }));
    EXPECT_EQ(pane.handedBack[0].second, QStringLiteral("d2"));
    const std::pair<QString, QString> refusals[] = {
        {QStringLiteral("../escape"), QStringLiteral("cannot contain \"/\"")},
        {QStringLiteral("a/b"), QStringLiteral("cannot contain \"/\"")},
        {QString(300, QLatin1Char('x')), QStringLiteral("at most 255 bytes")},
        {QStringLiteral(".Report"), QStringLiteral("starts with a dot")}};
    for (const auto& [bad, reason] : refusals) {
        const qsizetype before = pane.handedBack.size();
        inspector->onTitleChange(bad);
        EXPECT_EQ(d1.path(), d1Path) << bad.left(20).toStdString();
        EXPECT_TRUE(lastReason().contains(reason)) << lastReason().toStdString();
        ASSERT_TRUE(testsupport::spinUntil([&] { return pane.handedBack.size() == before + 1; }));
        EXPECT_EQ(pane.handedBack.last().second, bad);
        EXPECT_EQ(pane.handedBack.last().first->filePath(), d1Path);
    }
    EXPECT_TRUE(lastReason().contains(QStringLiteral("starts with a dot")));
    EXPECT_FALSE(lastReason().contains(QStringLiteral("\"/\""))) << "only the reasons that apply";
    EXPECT_EQ(alertTexts().size(), 5);
    EXPECT_EQ(QDir(disk).entryList(QDir::Files | QDir::Hidden).size(), QDir(disk).entryList(QDir::Files).size());
    EXPECT_FALSE(QFileInfo::exists(disk + QStringLiteral("/../escape.pdf")));

    // A usable new name moves the file and the record with it.
    inspector->onTitleChange(QStringLiteral("  renamed  "));
    EXPECT_EQ(d1.title(), QStringLiteral("renamed"));
    EXPECT_EQ(d1.path(), disk + QStringLiteral("/renamed.pdf"));
    EXPECT_TRUE(QFileInfo::exists(d1.path()));
    EXPECT_FALSE(QFileInfo::exists(d1Path));

    // Blank titles are refused without a word.
    inspector->onTitleChange(QStringLiteral("   "));
    EXPECT_EQ(d1.title(), QStringLiteral("renamed"));
    EXPECT_EQ(alertTexts().size(), 5);
    EXPECT_EQ(pane.handedBack.size(), 5);
}

TEST_F(InspectorEditsTest, ALibraryDocumentMayShareATitleAndKeepsItsFile)
{
    d2.setIsIndex(false);
    save();
    selectOnly(QStringLiteral("d2"));
    const QString path = d2.path();
    inspector->onTitleChange(QStringLiteral("d1"));
    EXPECT_EQ(d2.title(), QStringLiteral("d1"));
    EXPECT_EQ(d2.path(), path);
    EXPECT_TRUE(alertTexts().isEmpty());
}

TEST_F(InspectorEditsTest, FolderRatingAndFlagEditsReachTheRecords)
{
    showAndSelectAll(QStringLiteral("A"));
    inspector->onFolderChange(folderA);
    runAnimations();
    EXPECT_EQ(listedCount(), 2) << "already there: nothing leaves the grid";
    EXPECT_TRUE(recounts.isEmpty());

    inspector->onRateChange(4);
    inspector->onFlagChange(3);
    ASSERT_TRUE(d1.metadata());
    EXPECT_EQ(d1.metadata().rate(), 4);
    EXPECT_EQ(d2.metadata().label(), 3);
    EXPECT_EQ(d3.metadata().rate(), 0) << "only the selection";

    inspector->onFolderChange(folderB);
    runAnimations();
    EXPECT_EQ(d1.node(), folderB);
    EXPECT_EQ(recounts, QStringList{QStringLiteral("Collection,IndexFolder")});

    // The folder pop-up lists the collection tree and answers the folder picked.
    QMenu menu;
    DBNode picked;
    inspector->onFolderNameMenu(&menu, [&](const DBNode& node) { picked = node; });
    QAction* a = nullptr;
    std::function<void(QMenu*)> find = [&](QMenu* m) {
        for (QAction* action : m->actions()) {
            if (action->text().trimmed() == QStringLiteral("A"))
                a = action;
            if (action->menu())
                find(action->menu());
        }
    };
    find(&menu);
    ASSERT_TRUE(a);
    a->trigger();
    EXPECT_EQ(picked, folderA);
}

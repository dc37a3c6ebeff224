#include "SourcesTestKit.h"

#include "Tools/Sources/DocumentSourceRemoval.h"
#include "Tools/Sources/RemoveDocumentSourceWindowContorllerWindowController.h"

#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Kit/Sheet.h"

#include <QLabel>
#include <QPushButton>

using namespace sourcestest;
using platform::Paths;
using Outcome = DocumentSourceRemoval::Outcome;

namespace {

class SourceRemoval : public SourcesFixture {
protected:
    DBFileInfo document(const QString& path)
    {
        auto found = libraryEngine->queryRecordByName(DBFileInfo::entityName(), where("path == %@", {path}));
        EXPECT_TRUE(found && found->size() == 1) << qPrintable(path);
        return found && found->size() == 1 ? DBFileInfo(found->first()) : DBFileInfo();
    }
    // "live", "trash" (in the library trash) or "purge" (marked for the purge).
    QString stateOf(const QString& path)
    {
        const DBFileInfo file = document(path);
        if (file.isNeedDelete())
            return file.isTrash() ? QStringLiteral("purge") : QStringLiteral("need-delete only");
        return file.isTrash() ? QStringLiteral("trash") : QStringLiteral("live");
    }
    QStringList liveRowPaths()
    {
        QStringList paths;
        for (const IFFileItem& row : liveRows())
            paths.append(row.fullPath());
        paths.sort();
        return paths;
    }
    Outcome remove(const QString& path)
    {
        auto outcome = DocumentSourceRemoval::removeSource(path, services());
        EXPECT_TRUE(outcome) << (outcome ? "" : qPrintable(outcome.error().toString()));
        return outcome.value_or(Outcome::NotFound);
    }
    void trash(const QString& path)
    {
        document(path).setIsTrash(true);
        ASSERT_TRUE(libraryEngine->writeToDiskAndWait());
    }

    // A sync of folder whose import is held until the returned gate is released.
    std::shared_ptr<ImportGate> holdSync(const DBIndexFolder& folder)
    {
        auto gate = std::make_shared<ImportGate>();
        platform::XAttr::setBackend(gate);
        manager->syncIndexFolder(folder, {{IndexFolderAction::ActionType, IndexFolderAction::TopLevel}});
        EXPECT_TRUE(testsupport::spinUntil([&] { return gate->arrived(); }));
        return gate;
    }
    void finishStopped(const std::shared_ptr<ImportGate>& gate)
    {
        gate->release();
        ASSERT_TRUE(testsupport::spinUntil([&] { return manager->operationQueue().operationCount() == 0; }));
    }

    // Runs the removal sheet on a window; answers the block's outcome once it ran.
    std::optional<bool> runSheet(const QString& path, const std::function<void(RemoveDocumentSourceWindowContorllerWindowController*)>& answer)
    {
        auto window = makeWindow();
        std::optional<bool> result;
        auto* controller = new RemoveDocumentSourceWindowContorllerWindowController(services());
        QPointer<RemoveDocumentSourceWindowContorllerWindowController> alive(controller);
        controller->removeSourceWithPath(path, QStringLiteral("My Source"), window.get(), [&](bool removed) { result = removed; });
        EXPECT_EQ(platform::kit::Sheet::shownSheet(window.get()), controller->sheet());
        EXPECT_EQ(controller->outlets().txtHint->text(), QStringLiteral("Do you want to remove the Document Source \"My Source\"?"));
        answer(controller);
        EXPECT_TRUE(testsupport::spinUntil([&] { return result.has_value(); }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(alive.isNull()); // the controller goes with its sheet
        EXPECT_EQ(platform::kit::Sheet::shownSheet(window.get()), nullptr);
        return result;
    }
};

} // namespace

TEST_F(SourceRemoval, ASourceKeepsWhatBelongsToAnIndexFolderInsideIt)
{
    auto source = addSource(disk + "/Docs", IndexFolderType::DropBox);
    addFolder(disk + "/Docs/Inner");
    auto sibling = addFolder(disk + "/Docs2");
    const QString a = put("Docs/a.pdf"), b = put("Docs/Sub/b.pdf"), binned = put("Docs/binned.pdf");
    const QString i = put("Docs/Inner/i.pdf"), innerBinned = put("Docs/Inner/binned.pdf");
    const QString c = put("Docs2/c.pdf");
    syncAll(source);
    syncAll(sibling);
    // The user had put one document of each folder into the library trash.
    trash(binned);
    trash(innerBinned);
    const QString late = put("Docs/late.pdf");
    put("Docs/Inner/late.pdf");

    // A pass is importing when the source is removed; the side bar then stops it.
    auto gate = holdSync(source);
    EXPECT_EQ(remove(disk + "/Docs"), Outcome::Removed);
    manager->stopIndexFolder(source);
    finishStopped(gate);

    EXPECT_TRUE(findFolder(disk + "/Docs").isTrash());
    EXPECT_FALSE(findFolder(disk + "/Docs/Inner").isTrash());
    EXPECT_FALSE(findFolder(disk + "/Docs2").isTrash());
    for (const QString& gone : {a, b, binned})
        EXPECT_EQ(stateOf(gone), "purge") << qPrintable(gone);
    EXPECT_EQ(stateOf(i), "live");
    EXPECT_EQ(stateOf(innerBinned), "trash"); // neither purged nor brought back
    EXPECT_EQ(stateOf(c), "live");
    // What the interrupted pass imported directly below the source follows it.
    EXPECT_EQ(countOf(DBFileInfo::entityName(), QString("path == '%1' && isTrash == NO").arg(late)), 0);
    for (const QString& path : liveDocuments().keys())
        EXPECT_TRUE(Paths::isPathInside(path, disk + "/Docs/Inner") || Paths::isPathInside(path, disk + "/Docs2"))
            << qPrintable(path);

    // Rows: the source's are flagged removed, the inner folder's and the sibling's stay.
    for (const QString& row : liveRowPaths())
        EXPECT_TRUE(Paths::isPathInside(row, disk + "/Docs/Inner") || Paths::isPathInside(row, disk + "/Docs2"))
            << qPrintable(row);
    EXPECT_TRUE(liveRowPaths().contains(i));
    EXPECT_TRUE(liveRowPaths().contains(innerBinned));
    EXPECT_TRUE(liveRowPaths().contains(c));
    EXPECT_FALSE(libraryEngine->context()->hasChanges());

    // The next start purges the source's documents and rows only.
    closeStores();
    openStores();
    ASSERT_TRUE(testsupport::spinUntil([&] { return countOf(DBFileInfo::entityName(), "isNeedDelete == YES") == 0; }));
    for (const QString& gone : {a, b, binned, late})
        EXPECT_EQ(countOf(DBFileInfo::entityName(), QString("path == '%1'").arg(gone)), 0) << qPrintable(gone);
    for (const QString& kept : {i, innerBinned, c})
        EXPECT_EQ(countOf(DBFileInfo::entityName(), QString("path == '%1'").arg(kept)), 1) << qPrintable(kept);
    EXPECT_EQ(indexStore->countByObject(IFFileItem::kEntityName, where("isRemove == YES")), 0);
    EXPECT_TRUE(liveRowPaths().contains(i));
}

TEST_F(SourceRemoval, AFolderInsideAnotherLiveFolderOnlyLosesItsRecord)
{
    auto outer = addFolder(disk + "/Outer");
    addSource(disk + "/Outer/Box Documents", IndexFolderType::Box);
    const QString a = put("Outer/a.pdf"), b = put("Outer/Box Documents/b.pdf");
    syncAll(outer);
    const QStringList rowsBefore = liveRowPaths();

    EXPECT_EQ(remove(disk + "/Outer/Box Documents/"), Outcome::RecordOnly);
    EXPECT_TRUE(findFolder(disk + "/Outer/Box Documents").isTrash());
    EXPECT_FALSE(findFolder(disk + "/Outer").isTrash());
    EXPECT_EQ(stateOf(a), "live");
    EXPECT_EQ(stateOf(b), "live");
    EXPECT_EQ(liveRowPaths(), rowsBefore);

    // A path no live record has changes nothing and still counts as done.
    EXPECT_EQ(remove(disk + "/Outer/Box Documents"), Outcome::NotFound);
    EXPECT_EQ(remove(disk + "/Elsewhere"), Outcome::NotFound);
    EXPECT_EQ(stateOf(b), "live");
}

TEST_F(SourceRemoval, ASiblingWhoseNameExtendsTheSourcesIsNeitherInsideItNorAroundIt)
{
    auto docs = addFolder(disk + "/Docs");
    auto docs2 = addSource(disk + "/Docs2", IndexFolderType::GoogleDrive);
    const QString a = put("Docs/a.pdf"), b = put("Docs2/b.pdf");
    syncAll(docs);
    syncAll(docs2);

    // /Docs2 is not inside /Docs: its documents go, /Docs keeps its own.
    EXPECT_EQ(remove(disk + "/Docs2"), Outcome::Removed);
    EXPECT_EQ(stateOf(b), "purge");
    EXPECT_EQ(stateOf(a), "live");
    EXPECT_EQ(liveRowPaths(), QStringList{a});

    // And /Docs does not hold /Docs2's documents either.
    ASSERT_TRUE(QFile::remove(b));
    auto again = addSource(disk + "/Docs2", IndexFolderType::GoogleDrive);
    const QString c = put("Docs2/c.pdf");
    syncAll(again);
    EXPECT_EQ(remove(disk + "/Docs"), Outcome::Removed);
    EXPECT_EQ(stateOf(a), "purge");
    EXPECT_EQ(stateOf(c), "live");
    EXPECT_EQ(liveRowPaths(), QStringList{c});
}

TEST_F(SourceRemoval, CancelAndAVanishedWindowAnswerNoAndChangeNothing)
{
    auto source = addSource(disk + "/Docs", IndexFolderType::DropBox);
    const QString a = put("Docs/a.pdf");
    syncAll(source);

    EXPECT_EQ(runSheet(disk + "/Docs", [](auto* sheet) { sheet->outlets().btnCancel->click(); }), false);
    EXPECT_EQ(runSheet(disk + "/Docs", [](auto* sheet) {
        QTest::keyClick(sheet->outlets().btnRemove, Qt::Key_Escape);
    }), false);

    // The window goes while the sheet asks.
    std::optional<bool> result;
    {
        auto window = makeWindow();
        auto* controller = new RemoveDocumentSourceWindowContorllerWindowController(services());
        controller->removeSourceWithPath(disk + "/Docs", "Dropbox", window.get(), [&](bool removed) { result = removed; });
    }
    EXPECT_EQ(result, false);
    EXPECT_FALSE(findFolder(disk + "/Docs").isTrash());
    EXPECT_EQ(stateOf(a), "live");
    EXPECT_EQ(liveRowPaths(), QStringList{a});
    EXPECT_TRUE(alerts.isEmpty());

    // Remove answers YES once both stores have the change.
    EXPECT_EQ(runSheet(disk + "/Docs", [](auto* sheet) { sheet->outlets().btnRemove->click(); }), true);
    EXPECT_EQ(stateOf(a), "purge");
    EXPECT_TRUE(liveRowPaths().isEmpty());
}

TEST_F(SourceRemoval, ALibrarySaveThatFailsAnswersNoAndLeavesDocumentsAndRowsAsTheyWere)
{
    auto source = addSource(disk + "/Docs", IndexFolderType::DropBox);
    addFolder(disk + "/Docs/Inner");
    const QString a = put("Docs/a.pdf"), i = put("Docs/Inner/i.pdf");
    syncAll(source);
    const QStringList rowsBefore = liveRowPaths();
    put("Docs/late.pdf");

    // The disk refuses to write the documents of the library change, as a full one would.
    runSql(library + "/library.db",
           "CREATE TRIGGER refuse BEFORE INSERT ON t_DBFileInfo BEGIN SELECT RAISE(ABORT, 'disk is full'); END;");
    auto gate = holdSync(source);
    bool answered = false;
    EXPECT_EQ(runSheet(disk + "/Docs", [&](auto* sheet) {
        sheet->outlets().btnRemove->click();
        EXPECT_FALSE(sheet->outlets().btnRemove->isVisible());
        EXPECT_TRUE(sheet->outlets().btnRemoving->isVisible());
        answered = true;
    }), false);
    ASSERT_TRUE(answered);
    EXPECT_EQ(alerts, QStringList{"The document source \"My Source\" could not be removed."});
    // Nothing waits in the main context to be written by a later save.
    EXPECT_FALSE(libraryEngine->context()->hasChanges());

    // Even a stop of its syncer (the side bar does not stop it after NO) trashes nothing now.
    manager->stopIndexFolder(source);
    finishStopped(gate);
    runSql(library + "/library.db", "DROP TRIGGER refuse;");
    ASSERT_TRUE(libraryEngine->writeToDiskAndWait());
    EXPECT_FALSE(findFolder(disk + "/Docs").isTrash());
    EXPECT_EQ(stateOf(a), "live");
    EXPECT_EQ(stateOf(i), "live");
    EXPECT_EQ(countOf(DBFileInfo::entityName(), "isTrash == YES"), 0);
    for (const QString& row : rowsBefore)
        EXPECT_TRUE(liveRowPaths().contains(row)) << qPrintable(row);

    // The same from the disk's point of view, after a restart.
    closeStores();
    openStores();
    EXPECT_FALSE(findFolder(disk + "/Docs").isTrash());
    EXPECT_EQ(countOf(DBFileInfo::entityName(), "isTrash == YES"), 0);
    EXPECT_EQ(stateOf(a), "live");
}

TEST_F(SourceRemoval, RowsTheStoreWouldNotFlagAreFlaggedAtTheNextStart)
{
    auto source = addSource(disk + "/Docs", IndexFolderType::DropBox);
    put("Docs/a.pdf");
    put("Docs/b.pdf");
    syncAll(source);
    ASSERT_EQ(liveRowPaths().size(), 2);

    // The index-folder store refuses every change of a row, retry included.
    runSql(indexStore->storePath(),
           "CREATE TRIGGER refuse BEFORE INSERT ON t_IFFileItem BEGIN SELECT RAISE(ABORT, 'disk is full'); END;");
    EXPECT_EQ(remove(disk + "/Docs"), Outcome::Removed);
    EXPECT_TRUE(findFolder(disk + "/Docs").isTrash());
    EXPECT_EQ(liveRowPaths().size(), 2);

    closeStores();
    runSql(library + "/Index/indexFolder.db", "DROP TRIGGER refuse;");
    openStores();
    EXPECT_EQ(DocumentSourceRemoval::completePendingRemovals(services()), 1);
    EXPECT_TRUE(liveRowPaths().isEmpty());
    EXPECT_EQ(DocumentSourceRemoval::completePendingRemovals(services()), 0) << "completed once only";
}

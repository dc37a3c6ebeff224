#include "../Search/LibraryFixture.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"
#include "Store/DBHelper.h"
#include "Tools/EmptyTrashWindowController.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>

using platform::kit::Alert;
using platform::kit::Sheet;
using platform::kit::VirtualScheduler;

namespace {

// Renames out of a folder named "locked" fail, as a folder without write permission would
// refuse them (permissions mean nothing to root).
int lockedFolderRename(const char* from, const char* to)
{
    if (std::strstr(from, "/locked/")) {
        errno = EACCES;
        return -1;
    }
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

class EmptyTrashWindowControllerTest : public libraryfixture::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        // The opening's purge has run: what a case marks for it stays marked.
        bool opened = false;
        platform::Dispatch::main([&opened] { opened = true; });
        ASSERT_TRUE(testsupport::spinUntil([&] { return opened; }));
        dataHome = testsupport::makeTempDir(QStringLiteral("data-home"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
        Alert::setPresenterForTesting([this](const Alert& alert) {
            alerts << alert.messageText();
            return Alert::kDefaultReturn;
        });
        mainWindow.resize(800, 600);
        mainWindow.show();
    }
    void TearDown() override
    {
        platform::FileManager::setRenameFunctionForTesting(nullptr);
        Alert::setPresenterForTesting({});
        LibraryTest::TearDown();
    }

    EmptyTrashWindowController* open()
    {
        auto* controller = new EmptyTrashWindowController;
        controller->setupCloseBlock([this] {
            ++closes;
            // The marks are on disk before the caller refreshes the trash node.
            savedAtClose = !engine->context()->hasChanges();
        });
        controller->beginSheet(&mainWindow);
        return controller;
    }
    // Runs the sheet to its end; the close pause passes in virtual time.
    void runToClose(EmptyTrashWindowController* controller)
    {
        controller->outlets().btnOK->click();
        ASSERT_TRUE(testsupport::spinUntil([&] { return clock.pendingCount() > 0 || closes > 0; }));
        clock.advance(EmptyTrashWindowController::kClosePauseMs);
        ASSERT_TRUE(testsupport::spinUntil([&] { return closes > 0; }));
    }
    // An index-folder document in a watched folder, already in the library's trash.
    DBFileInfo addIndexDocument(const QString& folder, const QString& name)
    {
        const QString path = folder + QLatin1Char('/') + name;
        testsupport::writeFile(path, "watched");
        const QString thumb = QStringLiteral("/Thumbnail/") + name + QStringLiteral(".thumb");
        testsupport::writeFile(library + thumb, "thumbnail");
        ImportRecord record{{ImportRecordKey::Path, path}, {ImportRecordKey::Thumb, thumb}, {ImportRecordKey::IsIndex, true}};
        DBFileInfo doc = engine->insertRecords({record}).value(0);
        doc.setIsTrash(true);
        return doc;
    }
    QString fileOf(const DBFileInfo& doc) const { return DBHelper::CombinFileAbsolutePath(doc); }
    QString thumbOf(const DBFileInfo& doc) const { return DBHelper::CombinThumbAbsolutePath(doc); }
    QString trashFiles() const { return dataHome + QStringLiteral("/Trash/files"); }
    bool sheetShown() { return Sheet::shownSheet(&mainWindow) != nullptr; }

    VirtualScheduler clock;
    QWidget mainWindow;
    QString dataHome;
    int closes = 0;
    bool savedAtClose = false;
    QStringList alerts;
};

} // namespace

TEST_F(EmptyTrashWindowControllerTest, TrashedFilesGoToTheTrashAndTheirRecordsAreMarked)
{
    const DBFileInfo stored = addDocument(QStringLiteral("report.pdf"), "report", true);
    const DBFileInfo live = addDocument(QStringLiteral("live.pdf"), "live");
    DBFileInfo marked = addDocument(QStringLiteral("marked.pdf"), "marked", true);
    marked.setIsNeedDelete(true);
    const DBFileInfo missing = addDocument(QStringLiteral("missing.pdf"), "missing", true);
    ASSERT_TRUE(QFile::remove(fileOf(missing)));
    const QString watched = testsupport::makeTempDir(QStringLiteral("watched"));
    const DBFileInfo indexed = addIndexDocument(watched, QStringLiteral("notes.txt"));
    DBFileInfo pathless = addDocument(QStringLiteral("pathless.pdf"), "x", true);
    const QString pathlessFile = fileOf(pathless);
    pathless.setPath(QString());
    ASSERT_TRUE(KPContextHelper::save(engine->context()));

    QPointer<EmptyTrashWindowController> controller = open();
    EXPECT_EQ(controller->trashCount(), 4);
    EXPECT_TRUE(controller->outlets().textField->text().contains(QStringLiteral("4")));
    runToClose(controller);

    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(savedAtClose);
    EXPECT_FALSE(sheetShown());
    EXPECT_TRUE(alerts.isEmpty());
    for (const DBFileInfo& doc : {stored, missing, indexed, DBFileInfo(pathless)}) {
        EXPECT_TRUE(doc.isNeedDelete()) << qPrintable(doc.title());
        EXPECT_TRUE(doc.isTrash());
        // Gone from the store at once, with what they leave behind, not at the next start.
        EXPECT_TRUE(doc.isDeleted()) << qPrintable(doc.title());
    }
    EXPECT_EQ(engine->countByObject(DBFileInfo::entityName()), 2) << "the live and the marked document stay";
    EXPECT_EQ(testsupport::readFile(trashFiles() + QStringLiteral("/report.pdf")), QByteArray("report"));
    EXPECT_FALSE(QFileInfo::exists(fileOf(stored)));
    EXPECT_FALSE(QFileInfo::exists(thumbOf(stored)));
    EXPECT_FALSE(QFileInfo::exists(thumbOf(missing)));
    EXPECT_FALSE(QFileInfo::exists(thumbOf(indexed)));
    // The watched folder's file left it for the Trash, with the record of where it was.
    EXPECT_FALSE(QFileInfo::exists(watched + QStringLiteral("/notes.txt")));
    EXPECT_EQ(testsupport::readFile(trashFiles() + QStringLiteral("/notes.txt")), QByteArray("watched"));
    EXPECT_TRUE(testsupport::readFile(dataHome + QStringLiteral("/Trash/info/notes.txt.trashinfo"))
                    .contains(QFile::encodeName(watched).toPercentEncoding("/") + "/notes.txt"));
    // Neither the live document, nor the one already waiting for the purge, nor a file the
    // store names no more was touched.
    EXPECT_FALSE(live.isNeedDelete());
    EXPECT_TRUE(QFileInfo::exists(fileOf(live)));
    EXPECT_TRUE(QFileInfo::exists(thumbOf(live)));
    EXPECT_TRUE(QFileInfo::exists(fileOf(marked)));
    EXPECT_TRUE(QFileInfo::exists(thumbOf(marked)));
    EXPECT_TRUE(QFileInfo::exists(pathlessFile));
    EXPECT_EQ(QDir(trashFiles()).entryList(QDir::Files).size(), 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(controller.isNull());
}

TEST_F(EmptyTrashWindowControllerTest, FilesThatCannotBeMovedStayInTheLibrarysTrash)
{
    const DBFileInfo movable = addDocument(QStringLiteral("fine.pdf"), "fine", true);
    const QString locked = testsupport::makeTempDir(QStringLiteral("watched")) + QStringLiteral("/locked");
    const DBFileInfo stuck = addIndexDocument(locked, QStringLiteral("stuck.txt"));
    DBFileInfo astray = addDocument(QStringLiteral("astray.pdf"), "astray", true);
    astray.setPath(QStringLiteral("/../astray.pdf")); // would lead out of the library
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    platform::FileManager::setRenameFunctionForTesting(lockedFolderRename);

    runToClose(open());

    EXPECT_TRUE(movable.isNeedDelete());
    EXPECT_TRUE(QFileInfo::exists(trashFiles() + QStringLiteral("/fine.pdf")));
    for (const DBFileInfo& doc : {stuck, DBFileInfo(astray)}) {
        EXPECT_TRUE(doc.isTrash());
        EXPECT_FALSE(doc.isNeedDelete());
        EXPECT_TRUE(QFileInfo::exists(thumbOf(doc))) << qPrintable(doc.title());
    }
    EXPECT_EQ(testsupport::readFile(locked + QStringLiteral("/stuck.txt")), QByteArray("watched"));
    EXPECT_TRUE(QDir(dataHome + QStringLiteral("/Trash/info")).entryList({QStringLiteral("stuck*")}).isEmpty());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !alerts.isEmpty(); }));
    EXPECT_EQ(alerts, QStringList{QStringLiteral("2 documents could not be moved to the Trash. They stay in the library's trash.")});
    EXPECT_EQ(closes, 1);
}

TEST_F(EmptyTrashWindowControllerTest, ACancelStopsAfterTheFileInHandAndStillSavesWhatWasDone)
{
    QList<DBFileInfo> docs;
    for (int i = 0; i < 10; ++i)
        docs.append(addDocument(QStringLiteral("d%1.pdf").arg(i), "bytes", true));
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    QPointer<EmptyTrashWindowController> controller = open();
    QObject::connect(controller->outlets().progressIndicator, &QProgressBar::valueChanged, controller, [&](int value) {
        if (value == 3)
            controller->outlets().btnStop->click();
    });
    controller->outlets().btnOK->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !sheetShown(); }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return closes > 0; }));

    EXPECT_TRUE(savedAtClose);
    EXPECT_EQ(std::count_if(docs.begin(), docs.end(), [](const DBFileInfo& d) { return d.isNeedDelete(); }), 3);
    EXPECT_EQ(std::count_if(docs.begin(), docs.end(), [&](const DBFileInfo& d) { return QFileInfo::exists(fileOf(d)); }), 7);
    EXPECT_EQ(QDir(trashFiles()).entryList(QDir::Files).size(), 3);
    clock.advance(EmptyTrashWindowController::kClosePauseMs);
    EXPECT_EQ(closes, 1);
}

TEST_F(EmptyTrashWindowControllerTest, AnEmptyTrashClosesHalfASecondAfterItsWorkAndACancelledConfirmationAtOnce)
{
    addDocument(QStringLiteral("live.pdf"), "live");
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    EmptyTrashWindowController* controller = open();
    EXPECT_EQ(controller->trashCount(), 0);
    controller->outlets().btnOK->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return clock.pendingCount() > 0; }));
    EXPECT_EQ(controller->outlets().progressIndicator->maximum(), 0);
    clock.advance(EmptyTrashWindowController::kClosePauseMs - 1);
    EXPECT_TRUE(sheetShown());
    EXPECT_EQ(closes, 0);
    clock.advance(1);
    EXPECT_FALSE(sheetShown());
    EXPECT_EQ(closes, 1);

    DBFileInfo binned = addDocument(QStringLiteral("binned.pdf"), "binned", true);
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    controller = open();
    EXPECT_EQ(controller->trashCount(), 1);
    controller->outlets().btnCancel->click();
    EXPECT_FALSE(sheetShown());
    EXPECT_EQ(closes, 2);
    EXPECT_FALSE(binned.isNeedDelete());
    EXPECT_TRUE(QFileInfo::exists(fileOf(binned)));
}

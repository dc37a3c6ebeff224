#include "Dialogs/Preferences/LibraryLocation.h"
#include "Dialogs/Preferences/NeedUpgradProgramWindow.h"
#include "Dialogs/Preferences/NotFoundDataBaseWindowController.h"
#include "PrefsTestKit.h"
#include "Platform/Foundation/Localization.h"
#include "Store/DBIndexFolder.h"
#include "Store/DataBaseEngine.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace prefstest;
using Mode = NotFoundDataBaseWindowController::Mode;

namespace {

class NotFoundDataBaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        missing = testsupport::makeTempDir(QStringLiteral("gone")) + QStringLiteral("/Folivo 2 Library");
        defaults().setString(missing, LibraryLocation::kLibraryPathKey);
        defaults().removeObjectForKey(QStringLiteral("Array_RecentLibrary_Paths"));
        defaults().setBool(false, LibraryLocation::kFirstRunKey);
    }
    void TearDown() override
    {
        for (const QString& key : {LibraryLocation::kLibraryPathKey, LibraryLocation::kFirstRunKey,
                                   QStringLiteral("Array_RecentLibrary_Paths")})
            defaults().removeObjectForKey(key);
    }

    // Opens the window; the answer of closed lands in closedWith.
    std::unique_ptr<NotFoundDataBaseWindowController> open(Mode mode)
    {
        auto controller = std::make_unique<NotFoundDataBaseWindowController>(mode);
        controller->showWindow([this](bool chose) { closedWith = chose; });
        return controller;
    }

    Dialogs dialogs;
    QString missing;
    std::optional<bool> closedWith;
};

} // namespace

TEST_F(NotFoundDataBaseTest, CreateModeCreatesFromTheChoosePositionAndListsTheNewLibrary)
{
    const QString documents = QDir::homePath() + QStringLiteral("/Documents");
    ASSERT_TRUE(QDir().mkpath(documents));
    auto controller = open(Mode::CreateNew);
    const auto& o = controller->outlets();
    EXPECT_EQ(o.txtTitle->text(), QStringLiteral("Create a Folivo Library"));
    // The buttons traded titles: the left one creates.
    EXPECT_EQ(o.btnChoose->text(), platform::localizedString(QStringLiteral("CreateNewLibraryStr")));

    dialogs.scriptOpenPanel({documents});
    QTest::mouseClick(o.btnChoose, Qt::LeftButton);
    ASSERT_TRUE(testsupport::spinUntil([&] { return closedWith.has_value(); }));
    EXPECT_TRUE(*closedWith);
    EXPECT_EQ(controller->resultCode(), NotFoundDataBaseWindowController::kCreatedCode);
    ASSERT_EQ(dialogs.count(Kind::OpenPanel), 1);
    EXPECT_FALSE(dialogs.last(Kind::OpenPanel).openOptions.canChooseFiles);
    const QString library = documents + QStringLiteral("/Folivo 2 Library");
    EXPECT_EQ(defaults().stringForKey(LibraryLocation::kLibraryPathKey), library);
    EXPECT_TRUE(defaults().boolForKey(LibraryLocation::kFirstRunKey));
    // The library, not the folder it goes into; and nothing is made before start-up does it.
    EXPECT_EQ(recentLibraries(), QStringList{library});
    EXPECT_FALSE(QFileInfo::exists(library));
}

TEST_F(NotFoundDataBaseTest, AFolderThatIsNoLibraryIsRefusedAndTheWindowStays)
{
    auto controller = open(Mode::Plain);
    const QString notALibrary = testsupport::makeTempDir(QStringLiteral("plain"));
    testsupport::writeFile(notALibrary + QStringLiteral("/version.plist"), "garbage");
    const QString withoutVersion = makeLibrary(QStringLiteral("noversion"));
    QFile::remove(withoutVersion + QStringLiteral("/version.plist"));
    for (const QString& answer : {notALibrary, withoutVersion, QString()}) {
        dialogs.scriptOpenPanel(answer.isEmpty() ? QStringList() : QStringList{answer});
        QTest::mouseClick(controller->outlets().btnChoose, Qt::LeftButton);
        ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.requests().last().answered; }));
    }
    EXPECT_EQ(alertTexts(dialogs), QStringList(2, platform::localizedString(QStringLiteral("InvalidLibraryStr"))));
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(defaults().stringForKey(LibraryLocation::kLibraryPathKey), missing);
    EXPECT_TRUE(recentLibraries().isEmpty());

    // Closed without a choice: start-up is told so.
    controller->window()->close();
    ASSERT_TRUE(closedWith.has_value());
    EXPECT_FALSE(*closedWith);
    EXPECT_EQ(defaults().stringForKey(LibraryLocation::kLibraryPathKey), missing);
}

TEST_F(NotFoundDataBaseTest, ChoosingALibraryEndsWithCodeTwoAndRunModalAnswersTheChoice)
{
    const QString library = makeLibrary();
    {
        auto controller = open(Mode::Rechoose);
        EXPECT_TRUE(controller->outlets().txtHint->text().contains(QStringLiteral("not authorized")));
        dialogs.scriptOpenPanel({library});
        QTest::mouseClick(controller->outlets().btnChoose, Qt::LeftButton);
        ASSERT_TRUE(testsupport::spinUntil([&] { return closedWith.has_value(); }));
        EXPECT_TRUE(*closedWith);
        EXPECT_EQ(controller->resultCode(), NotFoundDataBaseWindowController::kChosenCode);
        EXPECT_EQ(defaults().stringForKey(LibraryLocation::kLibraryPathKey), library);
        EXPECT_FALSE(defaults().boolForKey(LibraryLocation::kFirstRunKey));
        EXPECT_EQ(recentLibraries(), QStringList{library});
    }
    // Start-up's nested wait ends with the window, with or without a choice.
    NotFoundDataBaseWindowController closedAtOnce(Mode::Plain);
    QTimer::singleShot(0, closedAtOnce.window(), [&] { closedAtOnce.window()->close(); });
    EXPECT_FALSE(closedAtOnce.runModal());

    NotFoundDataBaseWindowController chosen(Mode::Plain);
    dialogs.scriptOpenPanel({library});
    QTimer::singleShot(0, chosen.window(), [&] { chosen.btnChooseLibrary(); });
    EXPECT_TRUE(chosen.runModal());
}

TEST_F(NotFoundDataBaseTest, NewLibraryFoldersThatCannotTakeOneAreRefused)
{
    const QString occupied = testsupport::makeTempDir(QStringLiteral("occupied"));
    testsupport::writeFile(occupied + QStringLiteral("/Folivo 2 Library/notes.txt"), "mine");
    const QString aFile = occupied + QStringLiteral("/file");
    testsupport::writeFile(aFile, "x");
    const QString insideALibrary = makeLibrary();
    // Every folder below a library belongs to it, however deep, and through a link too.
    const QString deepInside = insideALibrary + QStringLiteral("/Documents/Jan 01, 2024");
    ASSERT_TRUE(QDir().mkpath(deepInside));
    const QString linkInside = occupied + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(insideALibrary + QStringLiteral("/Documents"), linkInside));
    for (const QString& folder : {occupied, aFile, occupied + QStringLiteral("/missing"), insideALibrary,
                                  insideALibrary + QStringLiteral("/Documents"), deepInside, linkInside, QString()})
        EXPECT_TRUE(LibraryLocation::checkNewLibraryFolder(folder).has_value()) << folder.toStdString();
    EXPECT_EQ(LibraryLocation::checkNewLibraryFolder(deepInside)->message,
              platform::localizedString(QStringLiteral("LibraryInsideLibraryStr")));
    EXPECT_FALSE(LibraryLocation::checkNewLibraryFolder(testsupport::makeTempDir(QStringLiteral("free"))).has_value());

    auto controller = open(Mode::Plain);
    dialogs.scriptOpenPanel({occupied});
    QTest::mouseClick(controller->outlets().btnCreate, Qt::LeftButton);
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.count(Kind::Alert) == 1; }));
    EXPECT_EQ(dialogs.last(Kind::Alert).messageText, platform::localizedString(QStringLiteral("LibraryAlreadyThereStr")));
    EXPECT_EQ(testsupport::readFile(occupied + QStringLiteral("/Folivo 2 Library/notes.txt")), "mine");
    EXPECT_EQ(defaults().stringForKey(LibraryLocation::kLibraryPathKey), missing);
    EXPECT_TRUE(controller->window()->isVisible());
}

TEST(NeedUpgradProgramWindow, QuittingByTheButtonOrTheWindowManagerEndsTheProgram)
{
    for (bool byButton : {true, false}) {
        int quits = 0;
        QPointer<QDialog> window = showNeedUpgradProgramWindow(nullptr, [&] { ++quits; });
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowModality(), Qt::ApplicationModal);
        if (byButton)
            QTest::mouseClick(window->findChild<QPushButton*>(), Qt::LeftButton);
        else
            window->close();
        EXPECT_EQ(quits, 1);
        EXPECT_TRUE(testsupport::spinUntil([&] { return window.isNull(); }));
    }
}

TEST(LibraryLocationTest, NoLibraryGoesIntoAFolderTheLibraryWatches)
{
    const QString open = testsupport::makeTempDir(QStringLiteral("open"));
    DataBaseEngine::Options options;
    options.libraryPath = open;
    options.makeDefault = false;
    DataBaseEngine library(options);
    ASSERT_TRUE(library.initDataBase());
    const QString watched = testsupport::makeTempDir(QStringLiteral("watched"));
    ASSERT_TRUE(QDir().mkpath(watched + QStringLiteral("/Projects")));
    auto folder = DBRecord::insertNewObject<DBIndexFolder>(library.context());
    folder.setPath(watched);
    ASSERT_TRUE(library.writeToDiskAndWait());

    for (const QString& inside : {watched, watched + QStringLiteral("/Projects")}) {
        const auto refused = LibraryLocation::checkNewLibraryFolder(inside, &library);
        ASSERT_TRUE(refused.has_value()) << qPrintable(inside);
        EXPECT_EQ(refused->message, platform::localizedString(QStringLiteral("LibraryInWatchedFolderStr")));
    }
    EXPECT_FALSE(LibraryLocation::checkNewLibraryFolder(testsupport::makeTempDir(QStringLiteral("elsewhere")), &library));
    // A folder the library no longer watches takes a library again.
    folder.setIsTrash(true);
    ASSERT_TRUE(library.writeToDiskAndWait());
    EXPECT_FALSE(LibraryLocation::checkNewLibraryFolder(watched, &library));
}

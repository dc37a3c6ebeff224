#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// Starts the real program with its own home, waits until its log shows the run, then sends
// SIGTERM and answers whether it ended cleanly.
bool runOnceAndTerminate(const QString& home, int run)
{
    testsupport::ChildProcess program({},
                                      {{QStringLiteral("HOME"), home},
                                       {QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share")},
                                       {QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config")},
                                       {QStringLiteral("XDG_RUNTIME_DIR"), home},
                                       {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}},
                                      QCoreApplication::applicationDirPath() + QStringLiteral("/folivo2"));
    if (!program.started())
        return false;
    const QString library = home + QStringLiteral("/Documents/Folivo 2 Library");
    const QString log = home + QStringLiteral("/.local/share/com.norlith.folivo2/Logs/Folivo 2.log");
    const bool opened = testsupport::spinUntil(
        [&] {
            return testsupport::readFile(log).count("Run Date: ") >= run
                && QFileInfo::exists(library + QStringLiteral("/Index/contentIndex.index"));
        },
        60000);
    ::kill(program.pid(), SIGTERM);
    const bool finished = program.waitForFinished(60000);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(finished);
    EXPECT_EQ(program.exitCode(), 0) << program.standardError().toStdString();
    return finished && program.exitCode() == 0;
}

} // namespace

// A fresh home: the program writes its log, creates and opens the library, quits cleanly on
// SIGTERM with the window's frame and state remembered, and opens the same library again next time. The
// welcome window, which would hold the start back until someone clicks OK, is switched off.
TEST(ProgramStart, FreshHomeGetsALibraryAndQuitsCleanlyTwice)
{
    const QString home = testsupport::makeTempDir(QStringLiteral("home"));
    testsupport::writeFile(home + QStringLiteral("/.config/Folivo 2/com.norlith.folivo2.plist"),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<plist version=\"1.0\"><dict><key>Bool_IsShowWelcomWindow</key><false/></dict></plist>\n");
    ASSERT_TRUE(runOnceAndTerminate(home, 1));
    const QString log = home + QStringLiteral("/.local/share/com.norlith.folivo2/Logs/Folivo 2.log");
    EXPECT_TRUE(testsupport::readFile(log).contains("Run Date: "));
    const QString library = home + QStringLiteral("/Documents/Folivo 2 Library");
    for (const char* item : {"/library.db", "/version.plist", "/flagconfig.plist", "/Documents", "/Thumbnail"})
        EXPECT_TRUE(QFileInfo::exists(library + QLatin1String(item))) << item;
    const QByteArray settings = testsupport::readFile(home + QStringLiteral("/.config/Folivo 2/com.norlith.folivo2.plist"));
    EXPECT_TRUE(settings.contains("MainWindowFrame"));
    // The main window was open: its frame is a real one, and its own state was saved at quit.
    EXPECT_FALSE(settings.contains("{{0, 0}, {0, 0}}"));
    EXPECT_TRUE(settings.contains("Data_LastSelectedLibraryInfo"));
    EXPECT_TRUE(settings.contains("Int_LeftSideBarWidth"));

    ASSERT_TRUE(runOnceAndTerminate(home, 2));
}

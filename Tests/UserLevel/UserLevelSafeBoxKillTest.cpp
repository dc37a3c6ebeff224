// A program killed with its SafeBox open: the next start closes the box (sealed, nothing of it
// left in plain text) and the documents are still in it at the next login.
#include "UserLevel/SafeBoxCase.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <csignal>
#include <utility>

using userlevel::OpenBox;
using userlevel::UserSession;
using userlevel::currentCase;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
const QPoint kSafeBoxRow(75, 152);

const QString kPassword = QStringLiteral("kept secret");

class UserLevelSafeBoxKill : public userlevel::SafeBoxCase {
protected:
    // Files anywhere below the runtime folder of the SafeBox whose name is name.
    QStringList filesNamed(const QString& name) const
    {
        QStringList found;
        QDirIterator it(safeBoxFolder(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            if (QFileInfo(it.next()).fileName() == name)
                found << it.filePath();
        return found;
    }
    bool waitForLoginPage(quint64 window) { return userlevel::safebox::waitForLoginPage(session, window); }
    std::optional<OpenBox> logIn()
    {
        session.type(kPassword);
        session.key(QStringLiteral("Return"));
        // The tool records the box first and its sealer once that one runs.
        if (!UserSession::waitUntil([&] { return openBoxes().size() == 1 && openBoxes().first().sealerPid > 0; }))
            return std::nullopt;
        return openBoxes().first();
    }
};

} // namespace

TEST_F(UserLevelSafeBoxKill, AKilledProgramsBoxIsClosedAtTheNextStartWithItsDocumentsKept)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";

    // Side bar › SafeBox: the two pages of explanation, the password twice and a hint, Create.
    ASSERT_TRUE(userlevel::safebox::makeBox(session, *window, kPassword, QStringLiteral("the kept one")));
    ASSERT_TRUE(waitForLoginPage(*window)) << "no login page after the SafeBox was made";
    const auto opened = logIn();
    ASSERT_TRUE(opened) << "the SafeBox did not open";
    ASSERT_TRUE(isSealer(opened->sealerPid)) << "the open box has no sealer";

    // A document lands in the open box, and the program is killed at once.
    const QByteArray document("private notes, kept through a crash\n");
    ASSERT_TRUE(QDir().mkpath(opened->mount + QStringLiteral("/Private")));
    testsupport::writeFile(opened->mount + QStringLiteral("/Private/plan.txt"), document);
    session.killProgram();
    ASSERT_FALSE(session.programRunning());

    // Started again, the program closes the box it finds open: no registry entry, no open folder,
    // no sealer, and nothing of the document in plain text.
    ASSERT_TRUE(session.startProgram());
    window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared after the restart";
    EXPECT_TRUE(UserSession::waitUntil([&] { return openBoxes().isEmpty() && !QFileInfo::exists(opened->mount); }))
        << "the box left open by the killed program is still open";
    EXPECT_TRUE(UserSession::waitUntil([&] { return !isSealer(opened->sealerPid); }))
        << "the killed program's sealer still runs";
    const QStringList plaintext = filesNamed(QStringLiteral("plan.txt"));
    EXPECT_TRUE(plaintext.isEmpty()) << "plain text is left in the runtime folder: "
                                     << plaintext.join(QStringLiteral(", ")).toStdString();
    EXPECT_TRUE(QFileInfo(session.libraryFolder() + QStringLiteral("/safebox.db")).size() > 0);

    // Logging in again shows the document as it was written.
    session.click(at(*window, kSafeBoxRow));
    ASSERT_TRUE(waitForLoginPage(*window)) << "no login page after the restart";
    const auto reopened = logIn();
    ASSERT_TRUE(reopened) << "the SafeBox did not open again (see the screenshots)";
    EXPECT_EQ(testsupport::readFile(reopened->mount + QStringLiteral("/Private/plan.txt")), document);

    // Quitting closes it as usual.
    session.key(QStringLiteral("ctrl+q"));
    EXPECT_EQ(session.waitForProgramExit(), 0);
    EXPECT_TRUE(UserSession::waitUntil([&] { return openBoxes().isEmpty(); })) << "quit left the box open";
}

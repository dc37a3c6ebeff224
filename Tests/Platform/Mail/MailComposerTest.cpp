#include "Platform/Mail/MailComposer.h"

#include "Platform/Mail/MailCommandLines.h"
#include "Platform/Workspace/Workspace.h"
#include "Platform/Workspace/WorkspaceTestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using platform::MailComposer;
using platform::MailMessage;
using platform::MailProgramKind;

namespace {

class MailComposerTest : public ::testing::Test {
protected:
    testsupport::XdgSandbox xdg;
    testsupport::RecordingLauncher launcher;
    platform::ApplicationDatabase db;
    platform::Workspace workspace{launcher, db};
    MailComposer composer{workspace};
    QString messages = testsupport::makeTempDir(QStringLiteral("messages"));
    MailMessage message{QStringLiteral("a@b.c"), QStringLiteral("Hello, 'you'"), QStringLiteral("Body\nline"),
                        {}};

    void SetUp() override { composer.setMessageFolder(messages); }

    void installMailer(const QString& id, const QString& exec)
    {
        xdg.writeApp(id, id, exec, QStringLiteral("x-scheme-handler/mailto;"));
    }
    void makeDefault(const QString& id)
    {
        xdg.writeUserMimeApps("[Default Applications]\nx-scheme-handler/mailto=" + id.toUtf8() + "\n");
    }
};

} // namespace

TEST_F(MailComposerTest, EachKnownProgramGetsItsOwnCommandLine)
{
    installMailer(QStringLiteral("thunderbird.desktop"), QStringLiteral("/usr/bin/thunderbird %u"));
    installMailer(QStringLiteral("org.gnome.Evolution.desktop"), QStringLiteral("evolution %U"));
    installMailer(QStringLiteral("org.kde.kmail2.desktop"), QStringLiteral("kmail -caption %c %u"));
    message.attachments = {QStringLiteral("/tmp/a b.pdf")};

    makeDefault(QStringLiteral("thunderbird.desktop"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast(),
              QStringList{QStringLiteral("/usr/bin/thunderbird")} + platform::MailCommandLines::thunderbirdArguments(message));

    makeDefault(QStringLiteral("org.gnome.Evolution.desktop"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast(),
              (QStringList{QStringLiteral("evolution"), platform::MailCommandLines::mailtoURL(message, true)}));

    makeDefault(QStringLiteral("org.kde.kmail2.desktop"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast(),
              (QStringList{QStringLiteral("kmail"), QStringLiteral("-caption"), QStringLiteral("org.kde.kmail2.desktop")}
               + platform::MailCommandLines::kmailArguments(message)));

    // An entry that already asks for "-compose" gets the field list in its place.
    installMailer(QStringLiteral("thunderbird.desktop"), QStringLiteral("thunderbird -compose %u"));
    makeDefault(QStringLiteral("thunderbird.desktop"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast(),
              QStringList{QStringLiteral("thunderbird")} + platform::MailCommandLines::thunderbirdArguments(message));

    // A program chosen explicitly wins over the default.
    const auto programs = composer.installedMailPrograms();
    ASSERT_EQ(programs.size(), 3);
    EXPECT_EQ(programs.first().kind, MailProgramKind::Thunderbird);
    ASSERT_TRUE(composer.compose(message, programs.last()).has_value());
    EXPECT_EQ(launcher.launches.takeLast().first(), QStringLiteral("kmail"));
}

TEST_F(MailComposerTest, UnknownProgramsGoThroughXdgEmailOrAMailtoAddress)
{
    installMailer(QStringLiteral("org.gnome.Geary.desktop"), QStringLiteral("geary %U"));
    launcher.findable.insert(QStringLiteral("xdg-email"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast(),
              QStringList{QStringLiteral("xdg-email")} + platform::MailCommandLines::xdgEmailArguments(message));

    launcher.findable.clear();
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast(),
              (QStringList{QStringLiteral("geary"), platform::MailCommandLines::mailtoURL(message, false)}));
    EXPECT_TRUE(QDir(messages).isEmpty());
}

TEST_F(MailComposerTest, AttachmentsAreNotDroppedSilently)
{
    // A program that takes only a mailto: address cannot carry files: the message goes as a
    // file to the desktop's mail reader instead.
    installMailer(QStringLiteral("org.gnome.Geary.desktop"), QStringLiteral("geary %U"));
    xdg.writeApp(QStringLiteral("reader.desktop"), QStringLiteral("Reader"), QStringLiteral("reader %f"),
                 QStringLiteral("message/rfc822;"));
    const QString doc = testsupport::makeTempDir() + QStringLiteral("/doc.txt");
    testsupport::writeFile(doc, "attached");
    message.attachments = {doc};
    ASSERT_TRUE(composer.compose(message).has_value());
    const QStringList launched = launcher.launches.takeLast();
    ASSERT_EQ(launched.size(), 2);
    EXPECT_EQ(launched[0], QStringLiteral("reader"));
    EXPECT_TRUE(launched[1].startsWith(messages + QStringLiteral("/Message-")));
    EXPECT_TRUE(testsupport::readFile(launched[1]).contains(QByteArray("attached").toBase64()));
}

TEST_F(MailComposerTest, FailedStartsFallThroughToTheNextWay)
{
    installMailer(QStringLiteral("thunderbird.desktop"), QStringLiteral("thunderbird %u"));
    launcher.failing.insert(QStringLiteral("thunderbird"));
    launcher.findable.insert(QStringLiteral("xdg-email"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast().first(), QStringLiteral("xdg-email"));

    launcher.failing.insert(QStringLiteral("xdg-email"));
    auto result = composer.compose(message);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().message.contains(QStringLiteral("cannot start thunderbird")));
}

TEST_F(MailComposerTest, WithoutAnyMailProgram)
{
    auto result = composer.compose(message);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().message.contains(QStringLiteral("No mail program is installed")));
    EXPECT_TRUE(launcher.launches.isEmpty());
    EXPECT_TRUE(QDir(messages).isEmpty());

    // A reader of mail messages still gets the message as a file.
    xdg.writeApp(QStringLiteral("reader.desktop"), QStringLiteral("Reader"), QStringLiteral("reader %f"),
                 QStringLiteral("message/rfc822;"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(QDir(messages).entryList(QDir::Files).size(), 1);
}

// A mail program that runs in a terminal composes in the user's terminal; without one the next
// installed program takes the message, and xdg-email, which could start it bare, is not asked.
TEST_F(MailComposerTest, ATerminalMailProgramIsShownInATerminalOrPassedOver)
{
    const QByteArray savedTerminal = qgetenv("TERMINAL");
    const bool hadTerminal = qEnvironmentVariableIsSet("TERMINAL");
    qunsetenv("TERMINAL");
    xdg.writeApp(QStringLiteral("mutt.desktop"), QStringLiteral("Mutt"), QStringLiteral("mutt %u"),
                 QStringLiteral("x-scheme-handler/mailto;"), "Terminal=true\n");
    makeDefault(QStringLiteral("mutt.desktop"));
    launcher.findable.insert(QStringLiteral("xdg-email"));

    // Alone and without a terminal: nothing starts, and the failure says why.
    auto refused = composer.compose(message);
    ASSERT_FALSE(refused.has_value());
    EXPECT_TRUE(refused.error().message.contains(QStringLiteral("terminal"))) << qPrintable(refused.error().message);
    EXPECT_TRUE(launcher.launches.isEmpty());

    // Another installed program takes the message.
    installMailer(QStringLiteral("org.gnome.Evolution.desktop"), QStringLiteral("evolution %U"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast().first(), QStringLiteral("evolution"));
    ASSERT_TRUE(composer.compose(message, composer.defaultMailProgram()).has_value());
    EXPECT_EQ(launcher.launches.takeLast().first(), QStringLiteral("evolution"));

    // With a terminal the chosen program composes in it.
    launcher.findable.insert(QStringLiteral("x-terminal-emulator"));
    ASSERT_TRUE(composer.compose(message).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("x-terminal-emulator"), QStringLiteral("-e"),
                                                         QStringLiteral("mutt"),
                                                         platform::MailCommandLines::mailtoURL(message, false)}));
    EXPECT_TRUE(launcher.launches.isEmpty());

    if (hadTerminal)
        qputenv("TERMINAL", savedTerminal);
}

TEST_F(MailComposerTest, IdentifiersOfOtherPlatforms)
{
    installMailer(QStringLiteral("org.mozilla.Thunderbird.desktop"),
                  QStringLiteral("flatpak run org.mozilla.Thunderbird @@u %u @@"));
    installMailer(QStringLiteral("org.gnome.Evolution.desktop"), QStringLiteral("evolution %U"));
    makeDefault(QStringLiteral("org.gnome.Evolution.desktop"));
    for (const char* absent : {"com.microsoft.Outlook", "com.sparrowmailapp.sparrow", "com.postbox-inc.postbox",
                               "it.bloop.airmail2", ""})
        EXPECT_TRUE(composer.programsForIdentifier(QString::fromLatin1(absent)).isEmpty()) << absent;
    const auto byDefault = composer.programsForIdentifier(QStringLiteral("com.apple.mail"));
    ASSERT_EQ(byDefault.size(), 1);
    EXPECT_EQ(byDefault.first().kind, MailProgramKind::Evolution);
    const auto thunderbird = composer.programsForIdentifier(QStringLiteral("org.mozilla.thunderbird"));
    ASSERT_EQ(thunderbird.size(), 1);
    EXPECT_EQ(thunderbird.first().application.id, QStringLiteral("org.mozilla.Thunderbird.desktop"));
}

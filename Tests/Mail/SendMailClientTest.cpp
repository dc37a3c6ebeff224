#include "Mail/SendMailClient.h"

#include "Mail/KPQueryMailClient.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Mail/MailCommandLines.h"
#include "Platform/Mail/MailComposer.h"
#include "Platform/Workspace/Workspace.h"
#include "Platform/Workspace/WorkspaceTestSupport.h"

#include <QDir>
#include <QPointer>
#include <gtest/gtest.h>

namespace {

class SendMailClientTest : public ::testing::Test {
protected:
    testsupport::XdgSandbox xdg;
    testsupport::RecordingLauncher launcher;
    platform::ApplicationDatabase db;
    platform::Workspace workspace{launcher, db};
    platform::MailComposer composer{workspace};
    MailInfo info = MailInfo::fromDictionary({{MailInfo::kSubject, QStringLiteral("Feedback")},
                                              {MailInfo::kContent, QStringLiteral("Hi")},
                                              {MailInfo::kAddress, QStringLiteral("support@example.com")}});

    void SetUp() override
    {
        SendMailClient::setComposerForTesting(&composer);
        KPQueryMailClient::installedMailClients().clear();
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(SendMailClient::kDefaultMailClientKey);
    }
    void TearDown() override
    {
        SendMailClient::setComposerForTesting(nullptr);
        KPQueryMailClient::installedMailClients().clear();
    }
    void installThunderbird()
    {
        xdg.writeApp(QStringLiteral("thunderbird.desktop"), QStringLiteral("Thunderbird"),
                     QStringLiteral("thunderbird %u"), QStringLiteral("x-scheme-handler/mailto;"));
    }
    void setDefaultClient(const QString& id)
    {
        platform::UserDefaults::standardUserDefaults().setObject(id, SendMailClient::kDefaultMailClientKey);
    }
    QStringList expectedThunderbirdLaunch() const
    {
        return QStringList{QStringLiteral("thunderbird")}
               + platform::MailCommandLines::thunderbirdArguments(info.toMessage());
    }
};

} // namespace

TEST(MailInfo, DictionaryAndPlaceholderAddress)
{
    const MailInfo info = MailInfo::fromDictionary(
        {{MailInfo::kSubject, QStringLiteral("S")},
         {MailInfo::kFiles, QStringList{QStringLiteral("/a"), QString(), QStringLiteral("/b")}}});
    EXPECT_EQ(info.files, (QStringList{QStringLiteral("/a"), QStringLiteral("/b")}));
    EXPECT_EQ(info.toMessage().to, QStringLiteral("please input address"));
    EXPECT_EQ(MailInfo::fromDictionary(info.toDictionary()).toDictionary(), info.toDictionary());
    EXPECT_FALSE(info.toDictionary().contains(MailInfo::kAddress));

    MailInfo blank = info;
    blank.address = QStringLiteral("  ");
    EXPECT_EQ(blank.toMessage().to, QStringLiteral("please input address"));
}

TEST_F(SendMailClientTest, EveryChoiceWithoutAFoundProgramUsesTheDefaultMailProgram)
{
    installThunderbird();
    // Unset, Apple Mail, an identifier nobody searched for, Outlook not installed, and none.
    for (const QString& id : {QString(), QStringLiteral("com.apple.mail"), QStringLiteral("org.mozilla.thunderbird"),
                              QStringLiteral("com.microsoft.Outlook")}) {
        if (!id.isNull())
            setDefaultClient(id);
        EXPECT_TRUE(SendMailClient::sendMail(info)) << id.toStdString();
        ASSERT_FALSE(launcher.launches.isEmpty());
        EXPECT_EQ(launcher.launches.takeLast(), expectedThunderbirdLaunch());
    }
    EXPECT_TRUE(SendMailClient::sendMail(info, QString()));
    EXPECT_EQ(launcher.launches.size(), 1);
}

TEST_F(SendMailClientTest, ProgramsOfAnotherPlatformAnswerFalse)
{
    installThunderbird();
    // Even with a table entry, nothing of those programs exists here to compose in.
    KPQueryMailClient::installedMailClients().insert(SendMailClient::kOutlookIdentifier,
                                                     {QStringLiteral("/Applications/Outlook.app")});
    setDefaultClient(SendMailClient::kOutlookIdentifier);
    EXPECT_FALSE(SendMailClient::sendMail(info));
    EXPECT_FALSE(SendMailClient::sendMailBySparrow(info));
    EXPECT_FALSE(SendMailClient::sendMailByPostMail(info));
    // An installed identifier without a sender of its own sends nothing.
    KPQueryMailClient::installedMailClients().insert(QStringLiteral("org.example.other"), {QStringLiteral("/x")});
    EXPECT_FALSE(SendMailClient::sendMail(info, QStringLiteral("org.example.other")));
    EXPECT_TRUE(launcher.launches.isEmpty());
}

TEST_F(SendMailClientTest, NoMailProgramIsAFailureNotASuccess)
{
    EXPECT_FALSE(SendMailClient::sendMail(info));
    EXPECT_FALSE(SendMailClient::sendMailByAppleMail(info));
    EXPECT_TRUE(launcher.launches.isEmpty());
}

TEST_F(SendMailClientTest, QueriesFillTheTableOnlyWithFoundPrograms)
{
    xdg.writeApp(QStringLiteral("org.mozilla.Thunderbird.desktop"), QStringLiteral("Thunderbird"),
                 QStringLiteral("thunderbird %u"), QStringLiteral("x-scheme-handler/mailto;"));
    QStringList finished;
    auto start = [&](const QString& id) {
        QPointer<KPQueryMailClient> query = new KPQueryMailClient;
        QObject::connect(query, &KPQueryMailClient::queryFinished,
                         [&](const QString& identifier, const QStringList&) { finished << identifier; });
        query->startQuery(id);
        return query;
    };
    QPointer<KPQueryMailClient> outlook = start(SendMailClient::kOutlookIdentifier);
    QPointer<KPQueryMailClient> thunderbird = start(QStringLiteral("org.mozilla.thunderbird"));
    // Until gathering finishes, the table is empty and sends go to the default program.
    EXPECT_TRUE(KPQueryMailClient::installedMailClients().isEmpty());
    ASSERT_TRUE(testsupport::spinUntil([&] { return outlook.isNull() && thunderbird.isNull(); }));
    EXPECT_EQ(finished.size(), 2);
    EXPECT_FALSE(KPQueryMailClient::installedMailClients().contains(SendMailClient::kOutlookIdentifier));
    EXPECT_EQ(KPQueryMailClient::installedMailClients().value(QStringLiteral("org.mozilla.thunderbird")),
              QStringList{xdg.systemData + QStringLiteral("/applications/org.mozilla.Thunderbird.desktop")});
}

TEST_F(SendMailClientTest, DefaultMailClientIsKeptOnceFound)
{
    EXPECT_TRUE(KPQueryMailClient::defaultMailClient().isEmpty());
    installThunderbird();
    EXPECT_EQ(KPQueryMailClient::defaultMailClient(), QStringLiteral("thunderbird.desktop"));
    xdg.writeApp(QStringLiteral("evolution.desktop"), QStringLiteral("Evolution"), QStringLiteral("evolution %U"),
                 QStringLiteral("x-scheme-handler/mailto;"));
    xdg.writeUserMimeApps("[Default Applications]\nx-scheme-handler/mailto=evolution.desktop\n");
    EXPECT_EQ(KPQueryMailClient::defaultMailClient(), QStringLiteral("thunderbird.desktop"));
}

TEST_F(SendMailClientTest, AChosenDesktopProgramIsHonouredWhileItIsInstalled)
{
    installThunderbird();
    xdg.writeApp(QStringLiteral("org.gnome.Evolution.desktop"), QStringLiteral("Evolution"),
                 QStringLiteral("evolution %U"), QStringLiteral("x-scheme-handler/mailto;"));
    xdg.writeUserMimeApps("[Default Applications]\nx-scheme-handler/mailto=org.gnome.Evolution.desktop\n");

    // Not the desktop's default: the program the user chose.
    setDefaultClient(QStringLiteral("thunderbird.desktop"));
    EXPECT_TRUE(SendMailClient::sendMail(info));
    ASSERT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(launcher.launches.takeLast(), expectedThunderbirdLaunch());

    // A choice whose program was removed since goes to the default program, not nowhere.
    setDefaultClient(QStringLiteral("gone.desktop"));
    EXPECT_TRUE(SendMailClient::sendMail(info));
    ASSERT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(launcher.launches.takeLast().value(0), QStringLiteral("evolution"));
}

TEST_F(SendMailClientTest, SaveAsMailFileWritesTheMessageAndOpensItInTheMailReader)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("eml"));
    composer.setMessageFolder(folder);
    setDefaultClient(SendMailClient::kEmlIdentifier);
    // No reader of mail files: a failure, and nothing left behind.
    EXPECT_FALSE(SendMailClient::sendMail(info));
    EXPECT_TRUE(QDir(folder).isEmpty());

    // Even with a mail program installed, the file is what the user chose.
    installThunderbird();
    xdg.writeApp(QStringLiteral("reader.desktop"), QStringLiteral("Reader"), QStringLiteral("reader %f"),
                 QStringLiteral("message/rfc822;"));
    EXPECT_TRUE(SendMailClient::sendMail(info));
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.eml")});
    ASSERT_EQ(files.size(), 1);
    ASSERT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(launcher.launches.first(), (QStringList{QStringLiteral("reader"), folder + QLatin1Char('/') + files.first()}));
    EXPECT_TRUE(testsupport::readFile(folder + QLatin1Char('/') + files.first()).contains("Subject: Feedback"));
}

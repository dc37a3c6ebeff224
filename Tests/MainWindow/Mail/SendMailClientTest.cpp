#include "MainWindow/Mail/SendMailClient.h"

#include "MainWindow/Mail/KPQueryMailClient.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Mail/MailCommandLines.h"
#include "Platform/Mail/MailComposer.h"
#include "Platform/Workspace/Workspace.h"
#include "Platform/Workspace/WorkspaceTestSupport.h"

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

// Receiving from a peer in the real program, from a test client over 127.0.0.1: a document is
// listed and the desktop announces it; a large folder is being unpacked when the user quits, and
// the program ends cleanly, nothing of the receive stays in the library, and its sender hears
// that it was not delivered.
#include "UserLevel/UserSession.h"

#include "Support/PrivateSessionBus.h"

#include "TWService/Service/TWPeerExchange.h"
#include "Utilities/KPZipFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using userlevel::UserSession;
using userlevel::currentCase;

namespace {

// The port the program's peer server listens on, from the record it published in the same-host
// service directory; 0 until it has published one.
quint16 publishedPort(const QString& directory)
{
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile record(it.next());
        if (!record.open(QIODevice::ReadOnly))
            continue;
        const auto port = QRegularExpression(QStringLiteral("<key>port</key>\\s*<integer>(\\d+)</integer>"))
                              .match(QString::fromUtf8(record.readAll()));
        if (port.hasMatch())
            return quint16(port.captured(1).toUInt());
    }
    return 0;
}

// Sends file to the program at port as a peer does; done learns the sender's error ("" when
// the program stored it).
void sendToProgram(quint16 port, const QVariantMap& record, const QString& file, bool* done, QString* error)
{
    TWPeerExchange::uploadFile(QStringLiteral("127.0.0.1"), port, record, file, [done, error](const QString& e) {
        *error = e;
        *done = true;
    });
}

// The program, started on a display of its own, publishes its peer server in a service
// directory the case reads; the port it listens on.
quint16 startPublishingProgram(UserSession& session, const QHash<QString, QString>& variables = {})
{
    const QString services = session.home() + QStringLiteral("/services");
    session.setProgramVariable(QStringLiteral("FOLIVO_BONJOUR_BACKEND"), QStringLiteral("directory"));
    session.setProgramVariable(QStringLiteral("FOLIVO_SERVICE_DIRECTORY"), services);
    for (auto it = variables.begin(); it != variables.end(); ++it)
        session.setProgramVariable(it.key(), it.value());
    session.skipWelcome();
    if (!session.startDisplay() || !session.startProgram() || !session.mainWindow()) {
        ADD_FAILURE() << "the program did not come up";
        return 0;
    }
    quint16 port = 0;
    if (!UserSession::waitUntil([&] { return (port = publishedPort(services)) != 0; }))
        ADD_FAILURE() << "the program published no peer server";
    return port;
}

// Staging folders of receives at the library's top.
QStringList stagingIn(const QString& library)
{
    return QDir(library).entryList({QStringLiteral(".folivo-receive-*")}, QDir::AllEntries | QDir::Hidden);
}

} // namespace

TEST(UserLevelReceive, QuitWhileAReceivedFolderIsUnpackedEndsCleanlyAndLeavesNothing)
{
    UserSession session{currentCase()};
    // A folder of many small pages (fewer than the 65,535 a plain archive counts): unpacking
    // them takes a while on any machine.
    const QString zip = session.home() + QStringLiteral("/Pages.zip");
    {
        const QString page = session.home() + QStringLiteral("/page.txt");
        QByteArray text;
        for (int i = 0; text.size() < 1024; ++i)
            text += "A line of a page that the peer sends, number " + QByteArray::number(i) + ".\n";
        testsupport::writeFile(page, text);
        KPZipFile writer;
        ASSERT_TRUE(writer.CreateZipFile2(zip));
        for (int i = 0; i < 60000; ++i)
            ASSERT_TRUE(writer.addFileToZip(page, QStringLiteral("part %1/page %2.txt").arg(i / 1000).arg(i)));
        ASSERT_TRUE(writer.CloseZipFile2());
    }

    const quint16 port = startPublishingProgram(session);
    ASSERT_NE(port, 0);

    const QVariantMap record{{QStringLiteral("Name"), QStringLiteral("Pages")},
                             {QStringLiteral("Extention"), QString()},
                             {QStringLiteral("Size"), QFileInfo(zip).size()},
                             {QStringLiteral("From"), QStringLiteral("peer")},
                             {QStringLiteral("IsFolder"), true}};
    bool sent = false;
    QString senderError;
    sendToProgram(port, record, zip, &sent, &senderError);

    // The unpack has begun once the folder beside the received archive is there.
    const QString library = session.libraryFolder();
    ASSERT_TRUE(UserSession::waitUntil([&] {
        for (const QString& folder : stagingIn(library)) {
            if (!QDir(library + QLatin1Char('/') + folder).entryList({QStringLiteral("*_F")}, QDir::Dirs).isEmpty())
                return true;
        }
        return false;
    }, 120000)) << "the folder was never unpacked";
    session.screenshot(QStringLiteral("unpacking"));
    session.key(QStringLiteral("ctrl+q"));

    EXPECT_EQ(session.waitForProgramExit(), 0) << "the quit did not end the program cleanly";
    EXPECT_EQ(stagingIn(library), QStringList()) << "the receive's staging stayed in the library";
    EXPECT_FALSE(session.documentTitles().contains(QStringLiteral("Pages")));
    EXPECT_TRUE(UserSession::waitUntil([&] { return sent; })) << "the sender heard nothing";
    EXPECT_FALSE(senderError.isEmpty()) << "the sender was told a folder that was not stored had arrived";
}

// A document from a peer is listed in the library, and the desktop's notification service is
// told who sent what.
TEST(UserLevelReceive, AReceivedDocumentIsStoredAndAnnouncedByTheDesktop)
{
    UserSession session{currentCase()};
    testsupport::PrivateSessionBus bus;
    QDBusConnection service = bus.connect(QStringLiteral("notifier"));
    ASSERT_TRUE(service.isConnected());
    testsupport::FakeNotificationService notifier;
    ASSERT_TRUE(notifier.serveOn(service));
    const quint16 port = startPublishingProgram(session, {{QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address()}});
    ASSERT_NE(port, 0);

    const QString document = session.home() + QStringLiteral("/report.txt");
    testsupport::writeFile(document, "The quarterly report, as the peer sends it.\n");
    const QVariantMap record{{QStringLiteral("Name"), QStringLiteral("Quarterly Report")},
                             {QStringLiteral("Extention"), QStringLiteral("txt")},
                             {QStringLiteral("Size"), QFileInfo(document).size()},
                             {QStringLiteral("From"), QStringLiteral("alice")},
                             {QStringLiteral("Tags"), QStringLiteral("finance,2026, q3")}};
    bool sent = false;
    QString senderError;
    sendToProgram(port, record, document, &sent, &senderError);
    ASSERT_TRUE(UserSession::waitUntil([&] { return sent; })) << "the sender heard nothing";
    EXPECT_EQ(senderError, QString());
    EXPECT_TRUE(UserSession::waitUntil([&] { return session.documentTitles().contains(QStringLiteral("Quarterly Report")); }))
        << "the library holds " << session.documentTitles().join(", ").toStdString();
    EXPECT_TRUE(UserSession::waitUntil([&] { return !notifier.received.isEmpty(); })) << "no notice reached the desktop";
    EXPECT_EQ(notifier.received, QStringList{QStringLiteral("Folivo 2|Received new files from alice|Quarterly Report")});
    QStringList tags;
    for (const QVariantList& row : session.query(QStringLiteral("SELECT a_name FROM t_DBTag ORDER BY a_name")))
        tags << row.value(0).toString();
    EXPECT_EQ(tags, (QStringList{QStringLiteral("2026"), QStringLiteral("finance"), QStringLiteral("q3")}));
    session.screenshot(QStringLiteral("received"));
}

// Receiving from a peer in the real program: a large folder arrives from a test client over
// 127.0.0.1, and the user quits while it is being unpacked. The program ends cleanly, nothing of
// the receive stays in the library, and its sender hears that it was not delivered.
#include "UserLevel/UserSession.h"

#include "TWService/Service/TWPeerExchange.h"
#include "Utilities/KPZipFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using userlevel::UserSession;

namespace {

QString currentCase()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return QStringLiteral("%1.%2").arg(QString::fromLatin1(info->test_suite_name()), QString::fromLatin1(info->name()));
}

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

// Staging folders of receives at the library's top.
QStringList stagingIn(const QString& library)
{
    return QDir(library).entryList({QStringLiteral(".folivo-receive-*")}, QDir::AllEntries | QDir::Hidden);
}

} // namespace

TEST(UserLevelReceive, QuitWhileAReceivedFolderIsUnpackedEndsCleanlyAndLeavesNothing)
{
    UserSession session{currentCase()};
    const QString services = session.home() + QStringLiteral("/services");
    session.setProgramVariable(QStringLiteral("FOLIVO_BONJOUR_BACKEND"), QStringLiteral("directory"));
    session.setProgramVariable(QStringLiteral("FOLIVO_SERVICE_DIRECTORY"), services);
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());

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

    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.mainWindow()) << "the main window never appeared";
    quint16 port = 0;
    ASSERT_TRUE(UserSession::waitUntil([&] { return (port = publishedPort(services)) != 0; }))
        << "the program published no peer server";

    const QVariantMap record{{QStringLiteral("Name"), QStringLiteral("Pages")},
                             {QStringLiteral("Extention"), QString()},
                             {QStringLiteral("Size"), QFileInfo(zip).size()},
                             {QStringLiteral("From"), QStringLiteral("peer")},
                             {QStringLiteral("IsFolder"), true}};
    bool sent = false;
    QString senderError;
    TWPeerExchange::uploadFile(QStringLiteral("127.0.0.1"), port, record, zip, [&](const QString& error) {
        senderError = error;
        sent = true;
    });

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

#include "MainWindow/Parts/ReceiveFiles.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBFileInfo.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/TestSupport.h"
#include "Utilities/KPZipArchive.h"
#include "Utilities/KPZipFile.h"
#include "TWService/Server/TWServer.h"
#include "TWService/Service/TWPeerExchange.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The receiving copy's server: every upload goes to the receive side.
class Owner : public TWServerDelegate {
public:
    std::weak_ptr<ReceiveFiles> receive;
    void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& reader) override
    {
        if (auto r = receive.lock())
            r->addClientWithSocketReader(reader);
    }
};

class ReceiveFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        libraryPath = temp.filePath(QStringLiteral("Library"));
        ASSERT_TRUE(QDir().mkpath(libraryPath));
        library = std::make_unique<KPLibraryFileManager>(libraryPath);
        DataBaseEngine::Options options;
        options.libraryPath = libraryPath;
        options.makeDefault = false;
        engine = std::make_unique<DataBaseEngine>(options);
        ASSERT_TRUE(engine->initDataBase().has_value());
    }
    void TearDown() override
    {
        if (server)
            server->stopServer();
        receive.reset();
        engine.reset();
    }
    void start(ReceiveFiles::Store store)
    {
        ReceiveFiles::Hooks hooks;
        hooks.setBusy = [this](bool busy) { busyChanges << busy; };
        hooks.received = [this](const QVariantList& tags, const QString& from, const QString& name) {
            received << from + QLatin1Char(':') + name;
            newTagCount += int(tags.size());
        };
        receive = std::make_shared<ReceiveFiles>(*library, std::move(store), std::move(hooks));
        owner->receive = receive;
        server = TWServer::create();
        server->setDelegate(owner);
        server->setUploadStagingRoot(libraryPath);
        ASSERT_TRUE(server->startServer().has_value());
    }
    // Sends a file the way the sending copy does; answers the sender's error ("" when done).
    QString send(const QVariantMap& info, const QString& path)
    {
        bool done = false;
        QString error;
        TWPeerExchange::uploadFile(QStringLiteral("127.0.0.1"), server->serverPort(), info, path,
                                   [&](const QString& e) { error = e, done = true; });
        EXPECT_TRUE(testsupport::spinUntil([&] { return done; }));
        return error;
    }
    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = temp.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QList<DBFileInfo> receivedDocuments()
    {
        auto predicate = platform::Predicate::format(QStringLiteral("extendField == %@"),
                                                     {DBFileInfo::kExtendReceiveFromDevice});
        auto found = engine->queryRecordByName(DBFileInfo::entityName(), *predicate);
        return found ? DBRecord::recordsOf<DBFileInfo>(*found) : QList<DBFileInfo>();
    }
    // Everything in the library folder besides the store's own files and folders.
    QStringList leftovers()
    {
        QStringList out;
        QDirIterator it(libraryPath, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (QFileInfo(path).isFile() && !path.contains(QStringLiteral("library.db"))
                && !path.contains(QStringLiteral(".lock")) && !path.endsWith(QStringLiteral("version.plist")))
                out << QDir(libraryPath).relativeFilePath(path);
        }
        return out;
    }
    static QVariantMap info(const QString& name, const QString& ext, qint64 size)
    {
        return {{QStringLiteral("Name"), name}, {QStringLiteral("Extention"), ext}, {QStringLiteral("Size"), size},
                {QStringLiteral("From"), QStringLiteral("alice")}};
    }

    QTemporaryDir temp;
    QString libraryPath;
    std::unique_ptr<KPLibraryFileManager> library;
    std::unique_ptr<DataBaseEngine> engine;
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
    std::shared_ptr<ReceiveFiles> receive;
    std::shared_ptr<TWServer> server;
    QList<bool> busyChanges;
    QStringList received;
    int newTagCount = 0;
};

TEST_F(ReceiveFilesTest, FilesWithTagsAndFoldersBecomeReceivedDocuments)
{
    start(ReceiveFiles::engineStore(engine.get()));
    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    QVariantMap withTags = info(QStringLiteral("Report"), QStringLiteral("pdf"), 14);
    withTags[QStringLiteral("Tags")] = QStringLiteral("a, b");
    EXPECT_EQ(send(withTags, doc), QString());
    // The same name again keeps the first and takes the library's next free name.
    EXPECT_EQ(send(info(QStringLiteral("Report"), QStringLiteral("pdf"), 14), doc), QString());

    // A folder arrives zipped and is unpacked under its name alone.
    const QString folder = temp.filePath(QStringLiteral("Album"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inner")));
    writeFile(QStringLiteral("Album/inner/page.txt"), QByteArray("page"));
    const QString zip = temp.filePath(QStringLiteral("Album.zip"));
    ASSERT_TRUE(KPZipArchive::zipWithFilePath(folder, zip));
    QVariantMap folderInfo = info(QStringLiteral("Album"), QString(), QFileInfo(zip).size());
    folderInfo[QStringLiteral("IsFolder")] = true;
    EXPECT_EQ(send(folderInfo, zip), QString());

    // A name from a peer never leaves the day folder.
    EXPECT_EQ(send(info(QStringLiteral("../../x"), QStringLiteral("pdf"), 14), doc), QString());

    const QString day = library->dayFolder();
    EXPECT_TRUE(QFile::exists(day + QStringLiteral("Report.pdf")));
    EXPECT_TRUE(QFile::exists(day + QStringLiteral("Report_1.pdf")));
    EXPECT_TRUE(QFile::exists(day + QStringLiteral("Album/inner/page.txt")));
    EXPECT_TRUE(QFile::exists(day + QStringLiteral(".._.._x.pdf")));
    EXPECT_FALSE(QFile::exists(temp.filePath(QStringLiteral("x.pdf"))));
    EXPECT_FALSE(QFile::exists(libraryPath + QStringLiteral("/Documents/x.pdf")));

    const QList<DBFileInfo> docs = receivedDocuments();
    ASSERT_EQ(docs.size(), 4);
    QStringList tags;
    for (const DBFileInfo& d : docs)
        for (const DBTag& t : d.tags())
            tags << t.name();
    tags.sort();
    EXPECT_EQ(tags, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(newTagCount, 2);

    ASSERT_TRUE(testsupport::spinUntil([&] { return received.size() == 4 && !busyChanges.isEmpty() && !busyChanges.last(); }));
    EXPECT_EQ(received.first(), QStringLiteral("alice:Report"));
    EXPECT_EQ(receive->uploadsInProgress(), 0);
    // No staging folder, unpacked folder or journal stays behind.
    for (const QString& path : leftovers())
        EXPECT_TRUE(path.startsWith(QStringLiteral("Documents/")) || path.startsWith(QStringLiteral("Thumbnail/"))) << qPrintable(path);
}

TEST_F(ReceiveFilesTest, HostileArchivesAreRefusedAndLeaveNothing)
{
    start(ReceiveFiles::engineStore(engine.get()));
    const QString payload = writeFile(QStringLiteral("payload.txt"), QByteArray("evil"));
    const QString zip = temp.filePath(QStringLiteral("evil.zip"));
    {
        KPZipFile writer;
        ASSERT_TRUE(writer.CreateZipFile2(zip));
        ASSERT_TRUE(writer.addFileToZip(payload, QStringLiteral("../../escaped.txt")));
        ASSERT_TRUE(writer.CloseZipFile2());
    }
    QVariantMap folderInfo = info(QStringLiteral("Evil"), QString(), QFileInfo(zip).size());
    folderInfo[QStringLiteral("IsFolder")] = true;
    EXPECT_NE(send(folderInfo, zip), QString());

    // Not an archive at all.
    const QString junk = writeFile(QStringLiteral("junk.zip"), QByteArray(100, 'z'));
    folderInfo[QStringLiteral("Size")] = 100;
    EXPECT_NE(send(folderInfo, junk), QString());

    // More entries than a received folder may hold (the limit lowered for the test).
    const QString many = temp.filePath(QStringLiteral("many.zip"));
    {
        KPZipFile writer;
        ASSERT_TRUE(writer.CreateZipFile2(many));
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(writer.addFileToZip(payload, QStringLiteral("f%1.txt").arg(i)));
        ASSERT_TRUE(writer.CloseZipFile2());
    }
    const int limit = ReceiveFiles::maxZipEntries.load();
    ReceiveFiles::maxZipEntries = 2;
    folderInfo[QStringLiteral("Size")] = QFileInfo(many).size();
    const QString tooMany = send(folderInfo, many);
    ReceiveFiles::maxZipEntries = limit;
    EXPECT_NE(tooMany, QString());

    EXPECT_TRUE(receivedDocuments().isEmpty());
    EXPECT_FALSE(QFile::exists(temp.filePath(QStringLiteral("escaped.txt"))));
    EXPECT_FALSE(QFile::exists(libraryPath + QStringLiteral("/escaped.txt")));
    ASSERT_TRUE(testsupport::spinUntil([&] { return !busyChanges.isEmpty() && !busyChanges.last(); }));
    EXPECT_EQ(leftovers(), QStringList());
    EXPECT_TRUE(received.isEmpty());
}

TEST_F(ReceiveFilesTest, AFailedSaveTakesTheCopyBackOutAndTheSenderHearsIt)
{
    start([](const ImportRecord&) -> platform::Result<QVariantList> {
        return std::unexpected(platform::Error::posix(ENOSPC, QStringLiteral("save the library")));
    });
    // An empty file is refused before it begins: it must not hold the Received node busy.
    const QString empty = writeFile(QStringLiteral("empty.pdf"), QByteArray());
    EXPECT_NE(send(info(QStringLiteral("Empty"), QStringLiteral("pdf"), 0), empty), QString());
    EXPECT_EQ(receive->uploadsInProgress(), 0);
    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    EXPECT_NE(send(info(QStringLiteral("Report"), QStringLiteral("pdf"), 14), doc), QString());
    EXPECT_EQ(receive->uploadsInProgress(), 0);
    EXPECT_FALSE(QFile::exists(library->dayFolder() + QStringLiteral("Report.pdf")));
    EXPECT_EQ(leftovers(), QStringList());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !busyChanges.isEmpty() && !busyChanges.last(); }));
    EXPECT_TRUE(received.isEmpty());
}

} // namespace

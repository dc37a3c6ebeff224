#include "MainWindow/Parts/ReceiveFiles.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBFileInfo.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/PrivateSessionBus.h"
#include "Support/TestSupport.h"
#include "Utilities/KPZipArchive.h"
#include "Utilities/KPZipFile.h"
#include "TWService/Server/TWServer.h"
#include "TWService/Server/TWSocketReader.h"
#include "TWService/Service/TWPeerExchange.h"

#include "Platform/Foundation/FreeSpaceLedger.h"
#include "Platform/Workspace/UserNotifications.h"
#include "TWService/Peer/RawPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
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
        platform::FreeSpaceLedger::shared().setFreeBytesSource({});
        TWTimeouts::shared() = savedTimeouts;
    }
    const TWTimeouts savedTimeouts = TWTimeouts::shared();
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
    // The folder zipped as the sending copy zips it, with its upload record.
    QString zipFolder(const QString& folder, QVariantMap* record)
    {
        const QString zip = folder + QStringLiteral(".zip");
        EXPECT_TRUE(KPZipArchive::zipWithFilePath(folder, zip));
        *record = info(QFileInfo(folder).fileName(), QString(), QFileInfo(zip).size());
        (*record)[QStringLiteral("IsFolder")] = true;
        return zip;
    }
    // A raw peer that has said it uploads, sent its record and read the answer to it.
    std::pair<std::unique_ptr<RawPeer>, std::optional<qint64>> announce(const QVariantMap& record)
    {
        auto peer = std::make_unique<RawPeer>(server->serverPort());
        peer->send(TWWire::u32(TWRequestTypeFileUpload));
        EXPECT_EQ(peer->word(), std::optional<quint32>(TWConnectAccepted));
        peer->send(*TWWire::frameBody(record));
        return {std::move(peer), TWWire::readI64(peer->recv(8))};
    }
    // Staging folders of uploads at the library's top.
    QStringList staging() const
    {
        return QDir(libraryPath).entryList({QStringLiteral(".folivo-receive-*")}, QDir::AllEntries | QDir::Hidden);
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
    EXPECT_TRUE(QFile::exists(day + QStringLiteral("_.._x.pdf")));
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

// A peer's name that would hide the document, or pass it for one of the receiver's working
// files, is stored visible, and the next start's clean-up of unfinished files leaves it.
TEST_F(ReceiveFilesTest, NamesThatWouldHideTheDocumentAreStoredVisibleAndKeptAtTheNextStart)
{
    start(ReceiveFiles::engineStore(engine.get()));
    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    const QList<std::pair<QString, QString>> sent{{QStringLiteral(".folivo-0123456789abcdef"), QStringLiteral("part")},
                                                  {QStringLiteral(".secret"), QString()},
                                                  {QStringLiteral(".bashrc"), QString()},
                                                  {QStringLiteral("....txt"), QString()},
                                                  {QStringLiteral("../x"), QStringLiteral("txt")}};
    for (const auto& [name, extension] : sent)
        EXPECT_EQ(send(info(name, extension, 14), doc), QString()) << qPrintable(name);
    ASSERT_EQ(receivedDocuments().size(), sent.size());

    // The next start: the store opens again, and with it the clean-up of what a run left.
    const QString day = library->dayFolder();
    server->stopServer();
    server.reset();
    receive.reset();
    engine.reset();
    DataBaseEngine::Options options;
    options.libraryPath = libraryPath;
    options.makeDefault = false;
    engine = std::make_unique<DataBaseEngine>(options);
    ASSERT_TRUE(engine->initDataBase().has_value());

    EXPECT_EQ(QDir(day).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(QLatin1Char('|')).toStdString(),
              "_x.txt|bashrc|folivo-0123456789abcdef.part|secret|txt");
    const QList<DBFileInfo> docs = receivedDocuments();
    EXPECT_EQ(docs.size(), sent.size());
    for (const DBFileInfo& d : docs)
        EXPECT_EQ(testsupport::readFile(library->CombinFileAbsolutePath(d.path())), QByteArray("%PDF-1.4 hello"))
            << qPrintable(d.path());
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

// Tags written by hand are parted at each comma, with or without the blank after it.
TEST_F(ReceiveFilesTest, TagsArePartedAtEveryComma)
{
    start(ReceiveFiles::engineStore(engine.get()));
    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    QVariantMap record = info(QStringLiteral("Tagged"), QStringLiteral("pdf"), 14);
    record[QStringLiteral("Tags")] = QStringLiteral("red,green, blue");
    EXPECT_EQ(send(record, doc), QString());
    const QList<DBFileInfo> docs = receivedDocuments();
    ASSERT_EQ(docs.size(), 1);
    QStringList tags;
    for (const DBTag& t : docs.first().tags())
        tags << t.name();
    tags.sort();
    EXPECT_EQ(tags, (QStringList{QStringLiteral("blue"), QStringLiteral("green"), QStringLiteral("red")}));
}

// A name that fills the file system's limit is taken twice: the second copy's name is cut to
// make room for its number.
TEST_F(ReceiveFilesTest, ASecondUploadOfANameAtTheLimitIsStoredUnderAShorterName)
{
    start(ReceiveFiles::engineStore(engine.get()));
    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    const QString name = QString(125, QChar(0x00E9)); // 250 bytes, 254 with ".pdf"
    EXPECT_EQ(send(info(name, QStringLiteral("pdf"), 14), doc), QString());
    EXPECT_EQ(send(info(name, QStringLiteral("pdf"), 14), doc), QString());
    EXPECT_EQ(receivedDocuments().size(), 2);
    EXPECT_TRUE(QFile::exists(library->dayFolder() + name + QStringLiteral(".pdf")));
    EXPECT_TRUE(QFile::exists(library->dayFolder() + QString(124, QChar(0x00E9)) + QStringLiteral("_1.pdf")));
}

// A zip bomb, a folder packed more tightly than a hundred to one, and an honest folder larger
// than a received folder may be, are refused before a byte is unpacked.
TEST_F(ReceiveFilesTest, AFolderUnpacksToABoundedSizeAndABelievableRatio)
{
    start(ReceiveFiles::engineStore(engine.get()));
    // 16 MiB of zeros packs at about a thousand to one, as no folder of documents does.
    const QString bomb = temp.filePath(QStringLiteral("Bomb"));
    ASSERT_TRUE(QDir().mkpath(bomb));
    writeFile(QStringLiteral("Bomb/zeros.bin"), QByteArray(16 * 1024 * 1024, '\0'));
    QVariantMap record;
    const QString bombZip = zipFolder(bomb, &record);
    EXPECT_NE(send(record, bombZip), QString());

    // The bound is a hundred times the archive's size: a folder that packs at about 150 to one
    // is refused, one at about 95 to one is welcome. Zeros pack some thousand to one and noise
    // not at all; the mix of the two sets the ratio.
    const auto packedAt = [&](const QString& name, qsizetype zeros, double* ratio) {
        const QString folder = temp.filePath(name);
        EXPECT_TRUE(QDir().mkpath(folder));
        QByteArray noise(16 * 1024, Qt::Uninitialized);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        writeFile(name + QStringLiteral("/noise.bin"), noise);
        writeFile(name + QStringLiteral("/zeros.bin"), QByteArray(zeros, '\0'));
        QVariantMap packedRecord;
        const QString zip = zipFolder(folder, &packedRecord);
        *ratio = double(noise.size() + zeros) / double(QFileInfo(zip).size());
        return std::pair{zip, packedRecord};
    };
    double ratio = 0;
    const auto [denseZip, denseRecord] = packedAt(QStringLiteral("Dense"), 2800 * 1024, &ratio);
    ASSERT_GT(ratio, 140);
    ASSERT_LT(ratio, 160);
    EXPECT_NE(send(denseRecord, denseZip), QString()) << "unpacks to " << ratio << " times its archive";
    const auto [looseZip, looseRecord] = packedAt(QStringLiteral("Loose"), 1650 * 1024, &ratio);
    ASSERT_GT(ratio, 90);
    ASSERT_LT(ratio, 99);
    EXPECT_EQ(send(looseRecord, looseZip), QString()) << "unpacks to " << ratio << " times its archive";

    // 2 MiB that barely pack, from a folder limited to 1 MiB.
    const QString big = temp.filePath(QStringLiteral("Big"));
    ASSERT_TRUE(QDir().mkpath(big));
    QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    writeFile(QStringLiteral("Big/noise.bin"), noise);
    const QString bigZip = zipFolder(big, &record);
    const qint64 limit = ReceiveFiles::maxUnpackedBytes.load();
    ReceiveFiles::maxUnpackedBytes = 1024 * 1024;
    const QString refused = send(record, bigZip);
    ReceiveFiles::maxUnpackedBytes = limit;
    EXPECT_NE(refused, QString());
    // Within the limit the same folder is welcome.
    EXPECT_EQ(send(record, bigZip), QString());
    ASSERT_EQ(receivedDocuments().size(), 2);
    EXPECT_FALSE(QFile::exists(library->dayFolder() + QStringLiteral("Bomb")));
    EXPECT_FALSE(QFile::exists(library->dayFolder() + QStringLiteral("Dense")));
    EXPECT_TRUE(QFile::exists(library->dayFolder() + QStringLiteral("Loose")));
    ASSERT_TRUE(testsupport::spinUntil([&] { return receive->uploadsInProgress() == 0; }));
    EXPECT_EQ(staging(), QStringList());
}

// Uploads that each fit alone do not together eat into the margin: each holds what it may still
// write, and so does a folder while it unpacks; what an upload held is free again once it ends.
TEST_F(ReceiveFilesTest, ConcurrentUploadsHoldTheirRoomAgainstTheMargin)
{
    constexpr qint64 kMiB = 1024 * 1024;
    const qint64 margin = std::max(TWSocketFileUpload::freeSpaceMargin, ReceiveFiles::freeSpaceMargin);
    platform::FreeSpaceLedger::shared().setFreeBytesSource([margin](const QString&) { return margin + 3 * kMiB; });
    start(ReceiveFiles::engineStore(engine.get()));

    auto [first, firstAnswer] = announce(info(QStringLiteral("One"), QStringLiteral("pdf"), 2 * kMiB));
    EXPECT_EQ(firstAnswer, std::optional<qint64>(TWWire::kUploadAccepted));
    auto [second, secondAnswer] = announce(info(QStringLiteral("Two"), QStringLiteral("pdf"), 2 * kMiB));
    EXPECT_EQ(secondAnswer, std::optional<qint64>(TWWire::kUploadRefused)) << "two uploads of 2 MiB in 3 MiB";
    second.reset();

    // A folder of 1.5 MiB packs small enough to arrive beside the first upload, but unpacks
    // to more than the room that upload leaves.
    ASSERT_TRUE(QDir().mkpath(temp.filePath(QStringLiteral("Text"))));
    QByteArray lines;
    while (lines.size() < 3 * kMiB / 2)
        lines += "line " + QByteArray::number(lines.size()) + " of a text that packs well\n";
    writeFile(QStringLiteral("Text/lines.txt"), lines);
    QVariantMap record;
    const QString zip = zipFolder(temp.filePath(QStringLiteral("Text")), &record);
    ASSERT_LT(QFileInfo(zip).size(), kMiB / 2);
    EXPECT_NE(send(record, zip), QString()) << "the unpack took room the first upload holds";

    // The first upload ends (its peer goes away): its room is free again.
    first.reset();
    ASSERT_TRUE(testsupport::spinUntil([&] { return receive->uploadsInProgress() == 0; }));
    EXPECT_EQ(platform::FreeSpaceLedger::shared().reservedOn(libraryPath), 0);
    EXPECT_EQ(send(record, zip), QString());
    auto [third, thirdAnswer] = announce(info(QStringLiteral("Three"), QStringLiteral("pdf"), 2 * kMiB));
    EXPECT_EQ(thirdAnswer, std::optional<qint64>(TWWire::kUploadAccepted));
    third.reset();
    ASSERT_TRUE(testsupport::spinUntil([&] { return receive->uploadsInProgress() == 0; }));
    EXPECT_EQ(receivedDocuments().size(), 1);
    EXPECT_EQ(platform::FreeSpaceLedger::shared().reservedOn(libraryPath), 0);
}

// Three folders that barely pack arrive together where the disk holds room for one at a time
// (each needs its archive and its unpacked copy at once): those that fit, in the order they
// came, are stored, and not all of them received and then all refused for want of room.
TEST_F(ReceiveFilesTest, FoldersArrivingTogetherAreStoredAsFarAsTheyFitInTheirOrder)
{
    constexpr qint64 kKiB = 1024;
    const qint64 margin = std::max(TWSocketFileUpload::freeSpaceMargin, ReceiveFiles::freeSpaceMargin);
    // The disk: 1500 KiB beyond the margin, less what receives wrote in the library since.
    auto written = [this] {
        qint64 bytes = 0;
        QDirIterator it(libraryPath, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.contains(QStringLiteral("library.db")))
                bytes += QFileInfo(path).size();
        }
        return bytes;
    };
    start(ReceiveFiles::engineStore(engine.get()));
    const qint64 before = written();
    platform::FreeSpaceLedger::shared().setFreeBytesSource(
        [=](const QString&) { return margin + 1500 * kKiB - (written() - before); });

    // Three folders of 400 KiB of noise.
    QStringList names{QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")};
    QList<QVariantMap> records;
    QList<QByteArray> archives;
    for (const QString& name : names) {
        ASSERT_TRUE(QDir().mkpath(temp.filePath(name)));
        QByteArray noise(400 * kKiB, Qt::Uninitialized);
        QRandomGenerator(quint32(name.size())).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        writeFile(name + QStringLiteral("/noise.bin"), noise);
        QVariantMap record;
        const QString zip = zipFolder(temp.filePath(name), &record);
        records << record;
        archives << testsupport::readFile(zip);
    }
    // They announce themselves together; each that is taken sends all but its last byte …
    std::vector<std::unique_ptr<RawPeer>> peers;
    QList<std::optional<qint64>> answers;
    for (const QVariantMap& record : records) {
        auto [peer, answer] = announce(record);
        peers.push_back(std::move(peer));
        answers << answer;
    }
    for (std::size_t i = 0; i < peers.size(); ++i) {
        if (answers[i] != std::optional<qint64>(TWWire::kUploadAccepted))
            continue;
        peers[i]->send(TWWire::u32(quint32(archives[i].size())));
        ASSERT_EQ(peers[i]->recv(1), QByteArray(1, TWWire::kAck));
        peers[i]->send(archives[i].chopped(1));
    }
    // … then, in their order, the last byte; the acknowledgement says the folder is stored.
    QStringList stored;
    for (std::size_t i = 0; i < peers.size(); ++i) {
        if (answers[i] != std::optional<qint64>(TWWire::kUploadAccepted))
            continue;
        peers[i]->send(archives[i].right(1));
        if (peers[i]->recv(1) == QByteArray(1, TWWire::kAck))
            stored << names[i];
    }
    EXPECT_EQ(stored, QStringList{QStringLiteral("One")});
    // The others, sent again one after the other: the second fits beside the first, the third no more.
    peers.clear();
    EXPECT_EQ(send(records[1], temp.filePath(QStringLiteral("Two.zip"))), QString());
    EXPECT_NE(send(records[2], temp.filePath(QStringLiteral("Three.zip"))), QString());
    ASSERT_TRUE(testsupport::spinUntil([&] { return receive->uploadsInProgress() == 0; }));
    QStringList documents;
    for (const DBFileInfo& d : receivedDocuments())
        documents << QFileInfo(d.path()).fileName();
    documents.sort();
    EXPECT_EQ(documents, (QStringList{QStringLiteral("One"), QStringLiteral("Two")}));
    EXPECT_EQ(platform::FreeSpaceLedger::shared().reservedOn(libraryPath), 0);
    EXPECT_EQ(staging(), QStringList());
}

// Quit while a received folder is unpacked and another upload is still arriving: the unpack
// stops, the arriving upload ends, the quit waits for both, nothing of them stays in the
// library, the folder's sender hears that it failed, and no upload is taken after.
TEST_F(ReceiveFilesTest, QuitStopsAnUnpackUnderWayAndWaitsForIt)
{
    // The arriving upload stays idle until the quit, however long the unpack takes to begin on
    // a loaded machine: the server's read limit (which it would otherwise run into) is not what
    // this case is about.
    TWTimeouts::shared().read = 3600;
    start(ReceiveFiles::engineStore(engine.get()));
    auto [arriving, accepted] = announce(info(QStringLiteral("Arriving"), QStringLiteral("pdf"), 1024));
    ASSERT_EQ(accepted, std::optional<qint64>(TWWire::kUploadAccepted));
    arriving->send(TWWire::u32(1024));
    ASSERT_EQ(arriving->recv(1), QByteArray(1, TWWire::kAck));
    arriving->send(QByteArray(100, 'a')); // and then nothing more, for now
    // Many small entries: unpacking them takes a while on any machine.
    const QString payload = writeFile(QStringLiteral("page.txt"), QByteArray(512, 'p'));
    const QString zip = temp.filePath(QStringLiteral("Many.zip"));
    {
        KPZipFile writer;
        ASSERT_TRUE(writer.CreateZipFile2(zip));
        for (int i = 0; i < 20000; ++i)
            ASSERT_TRUE(writer.addFileToZip(payload, QStringLiteral("d%1/page%2.txt").arg(i / 500).arg(i)));
        ASSERT_TRUE(writer.CloseZipFile2());
    }
    QVariantMap record = info(QStringLiteral("Many"), QString(), QFileInfo(zip).size());
    record[QStringLiteral("IsFolder")] = true;

    bool done = false;
    QString error;
    TWPeerExchange::uploadFile(QStringLiteral("127.0.0.1"), server->serverPort(), record, zip,
                               [&](const QString& e) { error = e, done = true; });
    // The unpack has begun once the folder beside the received archive holds a page.
    const auto unpacking = [&] {
        for (const QString& folder : staging()) {
            QDirIterator it(libraryPath + QLatin1Char('/') + folder, {QStringLiteral("page*.txt")}, QDir::Files,
                            QDirIterator::Subdirectories);
            if (it.hasNext())
                return true;
        }
        return false;
    };
    ASSERT_TRUE(testsupport::spinUntil(unpacking, 60000));
    EXPECT_EQ(receive->uploadsInProgress(), 2);
    EXPECT_TRUE(receive->finishReceivesForQuit());
    // Nothing runs any more: what the receive staged is gone, and nothing was stored.
    EXPECT_EQ(receive->uploadsInProgress(), 0);
    EXPECT_EQ(staging(), QStringList());
    EXPECT_TRUE(receivedDocuments().isEmpty());
    EXPECT_FALSE(QFile::exists(library->dayFolder() + QStringLiteral("Many")));
    ASSERT_TRUE(testsupport::spinUntil([&] { return done; }));
    EXPECT_NE(error, QString());
    EXPECT_TRUE(arriving->closedOrReset());

    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    EXPECT_NE(send(info(QStringLiteral("Late"), QStringLiteral("pdf"), 14), doc), QString());
    EXPECT_TRUE(receivedDocuments().isEmpty());
    EXPECT_EQ(staging(), QStringList());
}

// ---- the user notice

TEST_F(ReceiveFilesTest, EachStoredDocumentIsAnnouncedByTheDesktopsNotificationService)
{
    testsupport::PrivateSessionBus bus;
    QDBusConnection service = bus.connect(QStringLiteral("notifier"));
    ASSERT_TRUE(service.isConnected());
    testsupport::FakeNotificationService notifier;
    ASSERT_TRUE(notifier.serveOn(service));
    QDBusConnection program = bus.connect(QStringLiteral("program"));

    ReceiveFiles::Hooks hooks;
    QList<bool> delivered;
    hooks.notice = [&](const QString& title, const QString& text) {
        platform::UserNotifications::deliver(program, title, text, [&](bool ok) { delivered << ok; });
    };
    receive = std::make_shared<ReceiveFiles>(*library, ReceiveFiles::engineStore(engine.get()), std::move(hooks));
    owner->receive = receive;
    server = TWServer::create();
    server->setDelegate(owner);
    server->setUploadStagingRoot(libraryPath);
    ASSERT_TRUE(server->startServer().has_value());

    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    EXPECT_EQ(send(info(QStringLiteral("Report"), QStringLiteral("pdf"), 14), doc), QString());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !delivered.isEmpty(); }));
    EXPECT_EQ(delivered, QList<bool>{true});
    EXPECT_EQ(notifier.received,
              QStringList{QCoreApplication::applicationName() + QStringLiteral("|Received new files from alice|Report")});

    // A refused upload announces nothing.
    const QString empty = writeFile(QStringLiteral("empty.pdf"), QByteArray());
    EXPECT_NE(send(info(QStringLiteral("Empty"), QStringLiteral("pdf"), 0), empty), QString());
    // Without the service there is no notice, and nothing fails.
    service.unregisterService(platform::UserNotifications::kService);
    EXPECT_EQ(send(info(QStringLiteral("Second"), QStringLiteral("pdf"), 14), doc), QString());
    ASSERT_TRUE(testsupport::spinUntil([&] { return delivered.size() == 2; }, 15000))
        << delivered.size() << " " << receivedDocuments().size() << " " << notifier.received.join(';').toStdString();
    EXPECT_EQ(delivered.last(), false);
    EXPECT_EQ(notifier.received.size(), 1);
    EXPECT_EQ(receivedDocuments().size(), 2);
}

// The sender's name and its document's name are shown as written: a service that reads the
// body as markup gets "<", ">" and "&" escaped there, so no tag or link of the sender's takes
// effect; one that shows the body as it comes gets it unchanged. The summary is plain text.
TEST_F(ReceiveFilesTest, TheNoticeShowsMarkupInTheSendersNamesAsText)
{
    testsupport::PrivateSessionBus bus;
    QDBusConnection service = bus.connect(QStringLiteral("notifier"));
    ASSERT_TRUE(service.isConnected());
    testsupport::FakeNotificationService notifier;
    notifier.capabilities = QStringList{QStringLiteral("body"), QStringLiteral("body-markup")};
    ASSERT_TRUE(notifier.serveOn(service));
    QDBusConnection program = bus.connect(QStringLiteral("program"));

    ReceiveFiles::Hooks hooks;
    int delivered = 0;
    hooks.notice = [&](const QString& title, const QString& text) {
        platform::UserNotifications::deliver(program, title, text, [&](bool) { ++delivered; });
    };
    receive = std::make_shared<ReceiveFiles>(*library, ReceiveFiles::engineStore(engine.get()), std::move(hooks));
    owner->receive = receive;
    server = TWServer::create();
    server->setDelegate(owner);
    server->setUploadStagingRoot(libraryPath);
    ASSERT_TRUE(server->startServer().has_value());

    const QString doc = writeFile(QStringLiteral("src.pdf"), QByteArray("%PDF-1.4 hello"));
    QVariantMap record = info(QStringLiteral("<a href=\"http:x\">Click & win<b>"), QStringLiteral("pdf"), 14);
    record[QStringLiteral("From")] = QStringLiteral("<b>Mallory</b> & co");
    EXPECT_EQ(send(record, doc), QString());
    ASSERT_TRUE(testsupport::spinUntil([&] { return delivered == 1; }));
    const QString app = QCoreApplication::applicationName();
    ASSERT_EQ(notifier.received.size(), 1);
    EXPECT_EQ(notifier.received[0].toStdString(),
              (app + QStringLiteral("|Received new files from <b>Mallory</b> & co|"
                                    "&lt;a href=\"http:x\"&gt;Click &amp; win&lt;b&gt;")).toStdString());

    notifier.capabilities = QStringList{QStringLiteral("body")};
    EXPECT_EQ(send(record, doc), QString());
    ASSERT_TRUE(testsupport::spinUntil([&] { return delivered == 2; }));
    ASSERT_EQ(notifier.received.size(), 2);
    EXPECT_EQ(notifier.received[1].toStdString(),
              (app + QStringLiteral("|Received new files from <b>Mallory</b> & co|<a href=\"http:x\">Click & win<b>"))
                  .toStdString());
}

} // namespace

// The desktop's bus of a test is connected to the moment it is started: its daemon makes its
// socket a moment before it accepts on it, and a case must not start in that moment.
TEST(PrivateSessionBus, TakesAConnectionAsSoonAsItIsStarted)
{
    for (int start = 0; start < 30; ++start) {
        testsupport::PrivateSessionBus bus;
        const QDBusConnection connection = bus.connect(QStringLiteral("at once %1").arg(start));
        ASSERT_TRUE(connection.isConnected()) << "start " << start << ": " << connection.lastError().message().toStdString();
    }
}

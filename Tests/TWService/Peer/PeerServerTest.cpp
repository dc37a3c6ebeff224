// The server end byte by byte, driven by a raw blocking client on 127.0.0.1.
#include "PeerVectors.h"
#include "RawPeer.h"

#include "Platform/Foundation/FreeSpaceLedger.h"
#include "Support/TestSupport.h"
#include "TWService/Server/TWServer.h"
#include "TWService/Server/TWWire.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace TWWire;

namespace {

using Raw = RawPeer;

struct Owner : TWServerDelegate, TWSocketFileUploadDelegate, std::enable_shared_from_this<Owner> {
    QMutex mutex;
    QByteArray icon;
    QVariantMap lastParameter;
    QStringList uploaded; // file contents
    QStringList errors;
    int began = 0;
    std::vector<TWWire::TWUploadFileInfo> infos;

    QByteArray onClientRequestByParameter(TWSocketReader*, const QVariantMap& p) override
    {
        QMutexLocker lock(&mutex);
        lastParameter = p;
        // A copy of its own: the server thread releases it whenever it is done with the
        // answer, while the test may already be changing the icon.
        return QByteArray(icon.constData(), icon.size());
    }
    void setIcon(const QByteArray& bytes)
    {
        QMutexLocker lock(&mutex);
        icon = bytes;
    }
    void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& reader) override
    {
        reader->setDelegate(std::static_pointer_cast<TWSocketFileUploadDelegate>(shared_from_this()));
    }
    void onClientWillUploadFile(const std::shared_ptr<TWSocketFileUpload>&) override
    {
        QMutexLocker lock(&mutex);
        ++began;
    }
    bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& reader, const QString& path) override
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QMutexLocker lock(&mutex);
        uploaded << QString::fromLatin1(f.readAll().toHex());
        infos.push_back(reader->fileInfo());
        QDir(reader->stagingFolder()).removeRecursively();
        return true;
    }
    void onClientUploadedFileError(const std::shared_ptr<TWSocketFileUpload>&, const platform::Error& e) override
    {
        QMutexLocker lock(&mutex);
        errors << e.message;
    }
    int count(const QStringList& l)
    {
        QMutexLocker lock(&mutex);
        return int(l.size());
    }
};

struct ServerFixture : ::testing::Test {
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
    std::shared_ptr<TWServer> server = TWServer::create();
    QString staging;
    TWTimeouts saved = TWTimeouts::shared();
    // Every test peer is on 127.0.0.1: the server tells "addresses" apart by these names, given
    // by the local port a connection comes from.
    QMutex labelsMutex;
    std::map<quint16, QString> labels;
    void SetUp() override
    {
        staging = testsupport::makeTempDir(QStringLiteral("staging"));
        server->setDelegate(owner);
        server->setUploadStagingRoot(staging);
        server->setPeerAddressOf([this](const KPAsyncSocketPtr& socket) {
            QMutexLocker lock(&labelsMutex);
            const auto found = labels.find(socket->connectedPort());
            return found == labels.end() ? socket->connectedHost() : found->second;
        });
        ASSERT_TRUE(server->startServer().has_value());
    }
    // A raw client that the server takes for one at the given address.
    std::unique_ptr<Raw> from(const QString& address)
    {
        return std::make_unique<Raw>(server->serverPort(), [&](quint16 local) {
            QMutexLocker lock(&labelsMutex);
            labels[local] = address;
        });
    }
    std::unique_ptr<Raw> openedFrom(const QString& address, quint32 type)
    {
        auto raw = from(address);
        raw->send(u32(type));
        EXPECT_EQ(raw->recv(4), u32(TWConnectAccepted)) << qPrintable(address);
        return raw;
    }
    // Sends one byte every 50 ms until the server closes; how many it sent by then, or -1 when
    // it was still open after `bytes` of them. Counted in the peer's own bytes, not in time: on
    // a loaded machine the peer is slowed as much as the server is.
    static int trickleUntilClosed(Raw& raw, int bytes)
    {
        for (int i = 0; i < bytes; ++i) {
            if (raw.closedYet())
                return i;
            raw.send("x");
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the peer's own pace
        }
        return raw.closedYet() ? bytes : -1;
    }
    void TearDown() override
    {
        server->stopServer();
        TWTimeouts::shared() = saved;
    }
    // A raw client past the opening: type sent, accepted reply read.
    std::unique_ptr<Raw> opened(quint32 type)
    {
        auto raw = std::make_unique<Raw>(server->serverPort());
        raw->send(u32(type));
        EXPECT_EQ(raw->recv(4), u32(TWConnectAccepted));
        return raw;
    }
    QByteArray uploadBody(qint64 size, const QString& name = QStringLiteral("Report"))
    {
        return *frameBody({{QStringLiteral("Name"), name}, {QStringLiteral("Extention"), QStringLiteral("pdf")},
                           {QStringLiteral("Size"), size}, {QStringLiteral("From"), QStringLiteral("alice")},
                           {QStringLiteral("Tags"), QStringLiteral("a, b")}});
    }
    // The same, once the server holds no request of that kind: one that ended has its slot
    // until the server has seen its close, a moment after the peer has, so a test that makes
    // requests one after another from one address waits for that.
    std::unique_ptr<Raw> openedAlone(quint32 type)
    {
        const QString kind = type == TWRequestTypeDataInfo ? QStringLiteral("DataInfoReader")
            : type == TWRequestTypeFile                    ? QStringLiteral("FileReader")
                                                           : QStringLiteral("FileUploader");
        EXPECT_TRUE(testsupport::spinUntil([&] { return server->readerCount(kind) == 0; })) << qPrintable(kind);
        return opened(type);
    }
    bool stagingEmpty() const { return QDir(staging).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty(); }
};

} // namespace

TEST(PeerWire, ForeignArchivesDecodeAndPeerNamesAreMadeSafe)
{
    const auto a = decodeBody(peervectors::vectorA());
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(*a, (QVariantMap{{QStringLiteral("Type"), QStringLiteral("Icon")}}));
    const auto b = decodeBody(peervectors::vectorB());
    ASSERT_TRUE(b.has_value());
    const auto info = TWUploadFileInfo::fromDictionary(*b);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->fileName(), QStringLiteral("Report.pdf"));
    EXPECT_EQ(info->size, 5);
    EXPECT_EQ(info->from, QStringLiteral("alice"));
    EXPECT_EQ(info->tags, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(info->isFolder, std::optional<bool>(false));
    EXPECT_EQ(u32(quint32(peervectors::vectorA().size())), QByteArray::fromHex("03010000"));

    auto made = [](QVariantMap d) {
        d.insert(QStringLiteral("Size"), 1);
        return *TWUploadFileInfo::fromDictionary(d);
    };
    EXPECT_EQ(made({{QStringLiteral("Name"), QStringLiteral("../../x")}}).fileName(), QStringLiteral("_.._x"));
    EXPECT_EQ(made({{QStringLiteral("Name"), QStringLiteral("..")}}).fileName(), QStringLiteral("Untitled"));
    // Never hidden, never a working name of the receiver's that its clean-up removes: the
    // leading dots go, and a name of dots alone becomes "Untitled".
    const auto named = [&](const char* name, const char* extension) {
        return made({{QStringLiteral("Name"), QString::fromUtf8(name)}, {QStringLiteral("Extention"), QString::fromUtf8(extension)}})
            .fileName()
            .toStdString();
    };
    EXPECT_EQ(named(".folivo-0123456789abcdef", "part"), "folivo-0123456789abcdef.part");
    EXPECT_EQ(named(".secret", ""), "secret");
    EXPECT_EQ(named(".bashrc", ""), "bashrc");
    EXPECT_EQ(named("....txt", ""), "txt");
    EXPECT_EQ(named("....", "txt"), "Untitled.txt");
    EXPECT_EQ(named("../x", "txt"), "_x.txt");
    EXPECT_EQ(made({{QStringLiteral("Name"), QStringLiteral("a/b\nc")}, {QStringLiteral("Extention"), QStringLiteral("../sh")}})
                  .fileName(),
              QStringLiteral("a_b_c.sh"));
    const auto longName = made({{QStringLiteral("Name"), QString(400, QChar(0x00E9))}, {QStringLiteral("Extention"), QStringLiteral("pdf")}});
    EXPECT_LE(longName.fileName().toUtf8().size(), 255);
    EXPECT_TRUE(longName.fileName().endsWith(QStringLiteral(".pdf")));
    QStringList many;
    for (int i = 0; i < 100; ++i)
        many << QStringLiteral("t%1").arg(i);
    EXPECT_EQ(made({{QStringLiteral("Tags"), many.join(QStringLiteral(", ")) + QStringLiteral(", , \x01")}}).tags.size(), 64);
    EXPECT_FALSE(TWUploadFileInfo::fromDictionary({{QStringLiteral("Name"), QStringLiteral("x")}}).has_value());
}

TEST_F(ServerFixture, DataRequestsAreAnsweredWithinTheirLimitsAndBadBodiesAreRefused)
{
    owner->setIcon("ICON");
    {
        auto raw = openedAlone(TWRequestTypeDataInfo);
        raw->send(u32(quint32(peervectors::vectorA().size())) + peervectors::vectorA());
        EXPECT_EQ(raw->recv(8), u32(4) + "ICON");
    }
    owner->setIcon({});
    {
        auto raw = openedAlone(TWRequestTypeDataInfo);
        raw->send(*frameBody({{QStringLiteral("Type"), QStringLiteral("Other")}}));
        EXPECT_EQ(raw->recv(4), u32(0));
    }
    {
        auto raw = openedAlone(TWRequestTypeDataInfo);
        raw->send(u32(kMaxBodyLength + 1));
        EXPECT_EQ(raw->recv(4), u32(kBodyTooLong));
        EXPECT_TRUE(raw->closedByServer());
    }
    {
        auto raw = openedAlone(TWRequestTypeDataInfo);
        raw->send(u32(5) + "junk!");
        EXPECT_EQ(raw->recv(4), u32(kBodyUnreadable));
        EXPECT_TRUE(raw->closedByServer());
    }
    for (quint32 type : {0u, 4u}) {
        Raw raw(server->serverPort());
        raw.send(u32(type));
        EXPECT_TRUE(raw.closedByServer());
    }
    {
        auto raw = openedAlone(TWRequestTypeFile); // a download nobody serves
        raw->send(*frameBody({{QStringLiteral("Path"), QStringLiteral("x")}}));
        EXPECT_EQ(raw->recv(8), i64(0));
        EXPECT_TRUE(raw->closedByServer());
    }

    // One address may hold all data slots but one; that one is kept for another address.
    // The requests above hold theirs until the server has seen their close.
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->readerCount(QStringLiteral("DataInfoReader")) == 0; }));
    std::vector<std::unique_ptr<Raw>> held;
    for (int i = 0; i < TWServer::readersPerAddress(TWServer::kMaxDataInfoReaders); ++i)
        held.push_back(opened(TWRequestTypeDataInfo));
    {
        Raw tenth(server->serverPort());
        tenth.send(u32(TWRequestTypeDataInfo));
        EXPECT_EQ(tenth.recv(4), u32(TWConnectTooManyConnections));
        EXPECT_TRUE(tenth.closedByServer());
    }
    held.push_back(openedFrom(QStringLiteral("other"), TWRequestTypeDataInfo));
    {
        auto eleventh = from(QStringLiteral("third"));
        eleventh->send(u32(TWRequestTypeDataInfo));
        EXPECT_EQ(eleventh->recv(4), u32(TWConnectTooManyConnections));
        EXPECT_TRUE(eleventh->closedByServer());
    }
    held.front()->close();
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->readerCount(QStringLiteral("DataInfoReader")) < 10; }));
    opened(TWRequestTypeDataInfo);
}

TEST_F(ServerFixture, UploadsOfOneByteAndOverTheLimitsAndConnectionsThatNeverSpeak)
{
    {
        auto raw = openedAlone(TWRequestTypeFileUpload);
        raw->send(uploadBody(1));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        raw->send(u32(1));
        EXPECT_EQ(raw->recv(1), QByteArray(1, kAck));
        raw->send("Z");
        EXPECT_EQ(raw->recv(1), QByteArray(1, kAck));
        EXPECT_TRUE(raw->closedByServer());
        ASSERT_TRUE(testsupport::spinUntil([&] { return owner->count(owner->uploaded) == 1; }));
        EXPECT_EQ(owner->uploaded[0], QStringLiteral("5a"));
        EXPECT_EQ(owner->infos[0].tags, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    }
    for (qint64 size : {qint64(0), qint64(-5), std::numeric_limits<qint64>::max()}) {
        auto raw = openedAlone(TWRequestTypeFileUpload);
        raw->send(uploadBody(size));
        EXPECT_EQ(raw->recv(8), i64(kUploadRefused)) << size;
        EXPECT_TRUE(raw->closedByServer());
    }
    // An upload record that cannot be read, or an empty one, is refused with a value that no
    // sender can take for "accepted, send your file".
    for (const QByteArray& body : {u32(5) + "junk!", u32(0)}) {
        auto raw = openedAlone(TWRequestTypeFileUpload);
        raw->send(body);
        const QByteArray reply = raw->recv(8);
        EXPECT_NE(reply, i64(kUploadAccepted));
        EXPECT_EQ(reply, i64(kUploadBodyUnreadable));
        EXPECT_TRUE(raw->closedByServer());
    }
    {
        auto raw = openedAlone(TWRequestTypeFileUpload); // a record without Size: nothing to do
        raw->send(*frameBody({{QStringLiteral("Name"), QStringLiteral("x")}}));
        EXPECT_TRUE(raw->closedByServer());
    }
    {
        auto raw = openedAlone(TWRequestTypeFileUpload); // a chunk beyond the announced size
        raw->send(uploadBody(3));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        raw->send(u32(4));
        EXPECT_TRUE(raw->closedByServer());
    }
    // Sixteen silent connections from one address are all it may hold open.
    std::vector<std::unique_ptr<Raw>> silent;
    for (int i = 0; i < TWServer::kMaxWaitingPerAddress; ++i)
        silent.push_back(std::make_unique<Raw>(server->serverPort()));
    Raw extra(server->serverPort());
    EXPECT_TRUE(extra.closedByServer());
    EXPECT_EQ(owner->count(owner->errors), 1); // only the upload that began and broke
    ASSERT_TRUE(testsupport::spinUntil([&] { return stagingEmpty(); }));
}

TEST_F(ServerFixture, AnUploadsSlotIsFreeOnceItsSenderHearsItStored)
{
    // A sender that keeps as many uploads running as one address may hold (all five) starts the
    // next one the moment it hears one stored: that one must find its slot free, however late
    // the server gets round to the finished connection's close.
    const int perAddress = TWServer::kMaxFileUploaders;
    auto begun = [&] {
        auto raw = openedFrom(QStringLiteral("A"), TWRequestTypeFileUpload);
        raw->send(uploadBody(1));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        return raw;
    };
    std::deque<std::unique_ptr<Raw>> running;
    for (int i = 0; i < perAddress; ++i)
        running.push_back(begun());
    for (int round = 0; round < 40 && !HasFailure(); ++round) {
        // The next connection is made beforehand, as a sender's may be: only its request
        // type is left to say once the last acknowledgement came.
        auto next = from(QStringLiteral("A"));
        auto done = std::move(running.front());
        running.pop_front();
        done->send(u32(1));
        ASSERT_EQ(done->recv(1), QByteArray(1, kAck));
        done->send("Z");
        ASSERT_EQ(done->recv(1), QByteArray(1, kAck)) << round; // stored
        next->send(u32(TWRequestTypeFileUpload));
        ASSERT_EQ(next->recv(4), u32(TWConnectAccepted)) << "round " << round;
        next->send(uploadBody(1));
        ASSERT_EQ(next->recv(8), i64(kUploadAccepted));
        running.push_back(std::move(next));
    }
    EXPECT_EQ(owner->count(owner->uploaded), 40);
}

TEST_F(ServerFixture, StallsAndEarlyEndsReportOnceAndLeaveNoPartialFile)
{
    TWTimeouts::shared().read = 0.2;
    {
        auto raw = openedAlone(TWRequestTypeFileUpload); // stalls at the chunk header
        raw->send(uploadBody(10));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        EXPECT_TRUE(raw->closedByServer());
    }
    {
        auto raw = openedAlone(TWRequestTypeFileUpload); // stalls in the middle of a chunk
        raw->send(uploadBody(10));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        raw->send(u32(10));
        EXPECT_EQ(raw->recv(1), QByteArray(1, kAck));
        raw->send("12345");
        EXPECT_TRUE(raw->closedByServer());
    }
    {
        auto raw = openedAlone(TWRequestTypeFileUpload); // goes away in the middle of a chunk
        raw->send(uploadBody(10));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        raw->send(u32(10));
        EXPECT_EQ(raw->recv(1), QByteArray(1, kAck));
        raw->send("123");
    }
    {
        Raw silent(server->serverPort()); // never says which request
        EXPECT_TRUE(silent.closedByServer());
    }
    // Part of a read, then silence: the bytes that came once do not keep the read alive.
    {
        QElapsedTimer clock;
        clock.start();
        auto raw = openedAlone(TWRequestTypeDataInfo); // part of a body
        raw->send(u32(100) + QByteArray(10, 'b'));
        EXPECT_TRUE(raw->closedOrReset());
        EXPECT_LT(clock.elapsed(), 5000);
    }
    {
        QElapsedTimer clock;
        clock.start();
        auto raw = openedAlone(TWRequestTypeFileUpload); // half a chunk header
        raw->send(uploadBody(10));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        raw->send(u32(10).left(2));
        EXPECT_TRUE(raw->closedOrReset());
        EXPECT_LT(clock.elapsed(), 5000);
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->count(owner->errors) == 4; }));
    QStringList errors;
    {
        QMutexLocker lock(&owner->mutex);
        errors = owner->errors;
    }
    errors.sort();
    EXPECT_EQ(errors, (QStringList{QStringLiteral("connection closed before upload completed"),
                                   QStringLiteral("time out read with tag: 5002"),
                                   QStringLiteral("time out read with tag: 5002"),
                                   QStringLiteral("time out read with tag: 5003")}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return stagingEmpty(); }));
    EXPECT_EQ(owner->count(owner->uploaded), 0);
}

TEST_F(ServerFixture, PeersThatTrickleLoseTheirSlotWhateverTheyKeepSending)
{
    TWTimeouts::shared().read = 0.3; // how often the body's deadline is looked at
    TWTimeouts::shared().requestDeadline = 1.0;
    TWTimeouts::shared().uploadMinimumRate = 2000;
    TWTimeouts::shared().uploadRateGrace = 0.5;
    {
        auto raw = openedAlone(TWRequestTypeDataInfo); // a body a byte at a time
        raw->send(u32(1000));
        const int sent = trickleUntilClosed(*raw, 100);
        EXPECT_GE(sent, 0) << "the body was never cut off";
        EXPECT_LT(sent, 80); // 4 s of the peer's pace, four times the deadline
    }
    // From here no read limit ends anything while the test thread makes its connections: the
    // trickle is cut by the server's own judgement of its pace, which each byte it sends asks.
    // The limits change once the server is done with the body's connection, which reads them.
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->readerCount(QStringLiteral("DataInfoReader")) == 0; }));
    TWTimeouts::shared().read = 60;
    TWTimeouts::shared().closeWait = 0.3;
    TWTimeouts::shared().uploadSlotWait = 60;
    {
        auto raw = openedAlone(TWRequestTypeFileUpload); // a chunk a byte at a time
        raw->send(uploadBody(10000));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted));
        raw->send(u32(10000));
        EXPECT_EQ(raw->recv(1), QByteArray(1, kAck));
        // The rate holds while another sender waits for a slot: four uploads well ahead of it
        // fill the others (from four addresses, so that none holds more than the trickle's),
        // and a sixth address waits.
        std::vector<std::unique_ptr<Raw>> ahead;
        for (int i = 0; i < TWServer::kMaxFileUploaders - 1; ++i) {
            ahead.push_back(openedFrom(QStringLiteral("ahead%1").arg(i), TWRequestTypeFileUpload));
            ahead.back()->send(uploadBody(1 << 20));
            EXPECT_EQ(ahead.back()->recv(8), i64(kUploadAccepted));
            ahead.back()->send(u32(1 << 20));
            EXPECT_EQ(ahead.back()->recv(1), QByteArray(1, kAck));
            ahead.back()->send(QByteArray(512 * 1024, 'a'));
        }
        auto waiting = from(QStringLiteral("waiting"));
        waiting->send(u32(TWRequestTypeFileUpload));
        const int sent = trickleUntilClosed(*raw, 100);
        EXPECT_GE(sent, 0) << "the upload was never cut off";
        EXPECT_LT(sent, 80);
    }
    // The trickling upload's error first, then those of the four that went away with the block.
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->count(owner->errors) == TWServer::kMaxFileUploaders; }));
    EXPECT_TRUE(owner->errors[0].startsWith(QStringLiteral("upload too slow"))) << qPrintable(owner->errors[0]);
    ASSERT_TRUE(testsupport::spinUntil([&] { return stagingEmpty(); }));
    EXPECT_EQ(owner->count(owner->uploaded), 0);
}

TEST_F(ServerFixture, BusyAddressesLeaveRoomForOthers)
{
    // Uploads: one address may hold every slot (a sender starts one per document) …
    std::vector<std::unique_ptr<Raw>> uploads;
    for (int i = 0; i < TWServer::readersPerAddress(TWServer::kMaxFileUploaders); ++i) {
        uploads.push_back(openedFrom(QStringLiteral("A"), TWRequestTypeFileUpload));
        uploads.back()->send(uploadBody(10));
        EXPECT_EQ(uploads.back()->recv(8), i64(kUploadAccepted));
    }
    {
        auto more = from(QStringLiteral("A"));
        more->send(u32(TWRequestTypeFileUpload));
        EXPECT_EQ(more->recv(4), u32(TWConnectAccepted));
    }
    // … and another address still gets in: it waits for the slot the last one gave back.
    uploads.push_back(openedFrom(QStringLiteral("B"), TWRequestTypeFileUpload));

    // Connections that never say what they want: four addresses fill the table …
    std::vector<std::unique_ptr<Raw>> silent;
    for (const char* address : {"C", "D", "E", "F"}) {
        for (int i = 0; i < TWServer::kMaxWaitingPerAddress; ++i)
            silent.push_back(from(QString::fromLatin1(address)));
    }
    // … and a fifth address is still heard: the busiest gives up its oldest connection.
    auto newcomer = from(QStringLiteral("G"));
    newcomer->send(u32(TWRequestTypeDataInfo));
    EXPECT_EQ(newcomer->recv(4), u32(TWConnectAccepted));
    auto closed = [&] {
        int n = 0;
        for (auto& raw : silent)
            n += raw->closedYet() ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(testsupport::spinUntil([&] { return closed() >= 1; }));
    EXPECT_EQ(closed(), 1);
}

// A sender starts one upload per document, all at once: five from one computer are all taken.
// Room for the others is kept by letting another address in at once: the address holding all
// five gives way with one, at whatever pace it sends, and its sender hears why and may send that
// one again once a slot is free. A sixth from the address holding all five hears "too many".
TEST_F(ServerFixture, FiveUploadsFromOneAddressAreTakenAndAnotherAddressGetsInAtAnyPace)
{
    TWTimeouts::shared().read = 120;             // idle uploads stay while the test runs
    TWTimeouts::shared().uploadRateGrace = 1e6;  // and none falls short of any rate
    std::vector<std::unique_ptr<Raw>> uploads;
    int named = 0;
    auto begin = [&] {
        uploads.push_back(openedFrom(QStringLiteral("A"), TWRequestTypeFileUpload));
        uploads.back()->send(uploadBody(10, QStringLiteral("Doc%1").arg(named++)));
        EXPECT_EQ(uploads.back()->recv(8), i64(kUploadAccepted));
    };
    for (int i = 0; i < TWServer::kMaxFileUploaders; ++i)
        begin();
    {
        auto sixth = from(QStringLiteral("A")); // the sixth from the address holding all five
        sixth->send(u32(TWRequestTypeFileUpload));
        EXPECT_EQ(sixth->recv(4), u32(TWConnectTooManyConnections));
        EXPECT_TRUE(sixth->closedByServer());
    }
    // Five small documents from B, one after the other, while A keeps five going.
    for (int round = 0; round < 5 && !HasFailure(); ++round) {
        auto other = from(QStringLiteral("B"));
        other->send(u32(TWRequestTypeFileUpload));
        ASSERT_EQ(other->recv(4), u32(TWConnectAccepted)) << "round " << round;
        std::size_t gaveWay = 0;
        ASSERT_TRUE(testsupport::spinUntil([&] {
            for (gaveWay = 0; gaveWay < uploads.size(); ++gaveWay) {
                char c = 0;
                if (::recv(uploads[gaveWay]->fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) == 1)
                    return c == kUploadGaveWay;
            }
            return false;
        })) << "none of A's uploads gave way";
        uploads.erase(uploads.begin() + qsizetype(gaveWay));
        other->send(uploadBody(1, QStringLiteral("B%1").arg(round)));
        ASSERT_EQ(other->recv(8), i64(kUploadAccepted));
        other->send(u32(1));
        ASSERT_EQ(other->recv(1), QByteArray(1, kAck));
        other->send("Z");
        ASSERT_EQ(other->recv(1), QByteArray(1, kAck)) << "round " << round;
        begin(); // A's sender sends the one that gave way again, in the slot B left
    }
    EXPECT_EQ(owner->count(owner->uploaded), 5);
    EXPECT_EQ(server->readerCount(QStringLiteral("FileUploader")), TWServer::kMaxFileUploaders);
    EXPECT_EQ(server->waitingForUploadSlot(), 0);
}

// Two addresses wait at once: the slot goes to the one holding the fewest, not to the one that
// came first. No upload is made to give way where no address holds two more than the waiting
// one; the waiting one then hears "too many" when its wait is over.
TEST_F(ServerFixture, AFreedSlotGoesToTheWaitingAddressHoldingTheFewest)
{
    TWTimeouts::shared().read = 120;
    TWTimeouts::shared().uploadRateGrace = 1e6;
    TWTimeouts::shared().uploadSlotWait = 120; // waiting ones get their slot by an event
    std::map<QString, std::vector<std::unique_ptr<Raw>>> held;
    auto begin = [&](const QString& address) {
        held[address].push_back(openedFrom(address, TWRequestTypeFileUpload));
        held[address].back()->send(uploadBody(10));
        EXPECT_EQ(held[address].back()->recv(8), i64(kUploadAccepted));
    };
    for (int i = 0; i < 3; ++i)
        begin(QStringLiteral("A"));
    for (int i = 0; i < 2; ++i)
        begin(QStringLiteral("B"));
    auto fromB = from(QStringLiteral("B")); // B holds 2, A 3: nobody need give way
    fromB->send(u32(TWRequestTypeFileUpload));
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->waitingForUploadSlot() == 1; }));
    auto fromC = from(QStringLiteral("C")); // C holds none: one of A's gives way for it
    fromC->send(u32(TWRequestTypeFileUpload));
    EXPECT_EQ(fromC->recv(4), u32(TWConnectAccepted));
    EXPECT_EQ(server->waitingForUploadSlot(), 1);
    auto gaveWay = [&] {
        int n = 0;
        for (auto& raw : held[QStringLiteral("A")]) {
            char c = 0;
            n += ::recv(raw->fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) == 1 && c == kUploadGaveWay ? 1 : 0;
        }
        return n;
    };
    ASSERT_TRUE(testsupport::spinUntil([&] { return gaveWay() > 0; }));
    EXPECT_EQ(gaveWay(), 1);
    for (auto& raw : held[QStringLiteral("B")])
        EXPECT_FALSE(raw->closedYet());
    // Now A, B and C hold 2, 2 and 1; B still waits, and gets the next slot that ends.
    held[QStringLiteral("B")].front().reset();
    EXPECT_EQ(fromB->recv(4), u32(TWConnectAccepted));

    // Five addresses holding one each: a sixth waits and is refused when its wait is over.
    held.clear();
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->readerCount(QStringLiteral("FileUploader")) == 2; }));
    fromB.reset();
    fromC.reset();
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->readerCount(QStringLiteral("FileUploader")) == 0; }));
    for (const char* address : {"P", "Q", "R", "S", "T"})
        begin(QString::fromLatin1(address));
    TWTimeouts::shared().uploadSlotWait = 0.2;
    auto late = from(QStringLiteral("U"));
    late->send(u32(TWRequestTypeFileUpload));
    EXPECT_EQ(late->recv(4), u32(TWConnectTooManyConnections));
    EXPECT_TRUE(late->closedByServer());
    EXPECT_EQ(server->waitingForUploadSlot(), 0);
    for (auto& [address, raws] : held)
        EXPECT_FALSE(raws.front()->closedYet()) << qPrintable(address);
}

// An upload takes room for all it declared when it is taken. One that trickles gives way
// (whether anyone waits or not), and one that arrives below the minimum rate gives its room to
// an upload that does not fit beside it, which waits for that room instead of being refused.
TEST_F(ServerFixture, UploadsThatTrickleOrLagGiveTheirRoomUp)
{
    const qint64 margin = TWSocketFileUpload::freeSpaceMargin;
    platform::FreeSpaceLedger::shared().setFreeBytesSource([margin](const QString&) { return margin + 150000; });
    struct Restore {
        ~Restore() { platform::FreeSpaceLedger::shared().setFreeBytesSource({}); }
    } restore;
    TWTimeouts::shared().read = 120;
    TWTimeouts::shared().closeWait = 0.3;
    TWTimeouts::shared().uploadMinimumRate = 2000;
    TWTimeouts::shared().uploadTrickleRate = 1000;
    TWTimeouts::shared().uploadRateGrace = 0.3;
    auto begun = [&](const QString& address, qint64 size) {
        auto raw = openedFrom(address, TWRequestTypeFileUpload);
        raw->send(uploadBody(size));
        EXPECT_EQ(raw->recv(8), i64(kUploadAccepted)) << qPrintable(address);
        raw->send(u32(quint32(size)));
        EXPECT_EQ(raw->recv(1), QByteArray(1, kAck));
        return raw;
    };
    {
        // A byte every 50 ms (20 a second), nobody else about: cut once the grace is over.
        auto trickle = begun(QStringLiteral("A"), 100000);
        int sent = 0;
        for (; sent < 400; ++sent) {
            char c = 0;
            const ssize_t r = ::recv(trickle->fd, &c, 1, MSG_DONTWAIT);
            if (r == 1) {
                EXPECT_EQ(c, kUploadGaveWay);
                break;
            }
            ASSERT_NE(r, 0) << "closed without a word";
            trickle->send("x");
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the peer's own pace
        }
        EXPECT_LT(sent, 400) << "a trickle kept its room";
        ASSERT_TRUE(testsupport::spinUntil([&] { return owner->count(owner->errors) == 1; }));
        EXPECT_EQ(platform::FreeSpaceLedger::shared().reservedOn(staging), 0);
    }
    // Judged on the minimum rate from the start, never as a trickle.
    TWTimeouts::shared().uploadRateGrace = 0;
    TWTimeouts::shared().uploadTrickleRate = 0;
    auto lagging = begun(QStringLiteral("A"), 100000);
    auto fits = begun(QStringLiteral("B"), 100000); // does not fit beside it: waits for its room
    EXPECT_EQ(lagging->recv(1), QByteArray(1, kUploadGaveWay));
    fits->send(QByteArray(100000, 'f'));
    EXPECT_EQ(fits->recv(1), QByteArray(1, kAck));
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->count(owner->uploaded) == 1; }));
    EXPECT_EQ(server->waitingForRoom(), 0);
    {
        QMutexLocker lock(&owner->mutex);
        ASSERT_EQ(owner->errors.size(), 2);
        EXPECT_TRUE(owner->errors[0].startsWith(QStringLiteral("upload too slow: "))) << qPrintable(owner->errors[0]);
        EXPECT_TRUE(owner->errors[1].startsWith(QStringLiteral("upload too slow while another sender waits for room")))
            << qPrintable(owner->errors[1]);
    }
}

// A slow link is no fault: an upload below the minimum rate keeps its slot while nobody waits.
// Once another sender waits for a slot, the slowest upload below the rate gives it up, and its
// sender reads why before the connection closes.
TEST_F(ServerFixture, ASlowUploadGivesWayOnlyToAWaitingSenderAndIsToldWhy)
{
    TWTimeouts::shared().read = 120;
    TWTimeouts::shared().uploadMinimumRate = 2000;
    TWTimeouts::shared().uploadTrickleRate = 1; // slow, but no trickle
    TWTimeouts::shared().uploadRateGrace = 0.2;
    TWTimeouts::shared().uploadSlotWait = 120;
    auto slow = openedFrom(QStringLiteral("A"), TWRequestTypeFileUpload);
    slow->send(uploadBody(100000, QStringLiteral("Slow")));
    ASSERT_EQ(slow->recv(8), i64(kUploadAccepted));
    slow->send(u32(100000));
    ASSERT_EQ(slow->recv(1), QByteArray(1, kAck));
    // Four that have sent far more than the rate asks of them for minutes to come.
    std::vector<std::unique_ptr<Raw>> fast;
    for (int i = 0; i < TWServer::kMaxFileUploaders - 1; ++i) {
        fast.push_back(openedFrom(QStringLiteral("B"), TWRequestTypeFileUpload));
        fast.back()->send(uploadBody(1 << 20, QStringLiteral("Fast%1").arg(i)));
        ASSERT_EQ(fast.back()->recv(8), i64(kUploadAccepted));
        fast.back()->send(u32(1 << 20));
        ASSERT_EQ(fast.back()->recv(1), QByteArray(1, kAck));
        fast.back()->send(QByteArray(512 * 1024, 'f'));
    }
    // 40 bytes at 20 a second: far below the rate once the grace has passed.
    EXPECT_EQ(trickleUntilClosed(*slow, 40), -1) << "a slow upload was cut off while nobody waited";
    EXPECT_EQ(owner->count(owner->errors), 0);

    auto waiting = from(QStringLiteral("C"));
    waiting->send(u32(TWRequestTypeFileUpload));
    EXPECT_EQ(waiting->recv(4), u32(TWConnectAccepted));
    EXPECT_EQ(slow->recv(1), QByteArray(1, kUploadGaveWay));
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->count(owner->errors) == 1; }));
    {
        QMutexLocker lock(&owner->mutex);
        EXPECT_TRUE(owner->errors[0].startsWith(QStringLiteral("upload too slow while another sender waits")))
            << qPrintable(owner->errors[0]);
    }
    slow->close();
    for (auto& f : fast)
        EXPECT_FALSE(f->closedYet());
    EXPECT_EQ(server->waitingForUploadSlot(), 0);
}

// A flood of connections from five addresses: the server never holds more descriptors than its
// share, closing what it cannot keep as it accepts it, so the rest of the process keeps its
// files; an honest sender still gets in, and once the flood is gone so are its descriptors.
TEST_F(ServerFixture, AConnectionFloodKeepsToTheServersShareOfDescriptors)
{
    server->stopServer();
    TWTimeouts::shared().connectionLimit = 40;
    TWTimeouts::shared().read = 120; // the flood's connections are not timed out meanwhile
    ASSERT_TRUE(server->startServer().has_value());
    const int before = sockettest::openDescriptorCount();
    const int socketsBefore = sockettest::openInternetSocketCount();
    std::atomic<int> clients{0};
    std::atomic<bool> flooding{true};
    std::atomic<int> peak{0};
    // The descriptors the process holds beyond the flood's own ends, sampled as it goes.
    std::thread sampler([&] {
        while (flooding.load()) {
            const int now = sockettest::openDescriptorCount() - clients.load() - before;
            peak.store(std::max(peak.load(), now));
        }
    });
    std::vector<std::unique_ptr<Raw>> flood;
    for (int i = 0; i < 300; ++i) {
        flood.push_back(from(QStringLiteral("flood%1").arg(i % 5)));
        ++clients;
    }
    // A sender from elsewhere during the flood.
    auto honest = from(QStringLiteral("honest"));
    ++clients;
    honest->send(u32(TWRequestTypeFileUpload));
    EXPECT_EQ(honest->recv(4), u32(TWConnectAccepted));
    honest->send(uploadBody(1));
    EXPECT_EQ(honest->recv(8), i64(kUploadAccepted));
    honest->send(u32(1));
    EXPECT_EQ(honest->recv(1), QByteArray(1, kAck));
    honest->send("Z");
    EXPECT_EQ(honest->recv(1), QByteArray(1, kAck));
    flooding = false;
    sampler.join();
    EXPECT_EQ(owner->count(owner->uploaded), 1);
    // The server's share, and a few the process opens meanwhile (the staging file).
    EXPECT_LE(peak.load(), TWServer::connectionLimit() + 8);
    EXPECT_LE(server->openConnections(), TWServer::connectionLimit());

    flood.clear();
    honest.reset();
    EXPECT_TRUE(testsupport::spinUntil([&] { return server->openConnections() == 0; })) << server->openConnections();
    // Network sockets, not every descriptor: the log that the flood's refusals start keeps a file,
    // a watch and a local socket of its own open.
    EXPECT_TRUE(testsupport::spinUntil([&] { return sockettest::openInternetSocketCount() <= socketsBefore; }));
}

TEST(PeerServerStop, StoppingWhileConnectionsEndIsSafe)
{
    // The connection queues take readers out of the server's list while stopServer goes through
    // it on this thread; run under the thread sanitizer, this shows any sharing between the two.
    for (int round = 0; round < 20; ++round) {
        auto server = TWServer::create();
        ASSERT_TRUE(server->startServer().has_value());
        std::vector<std::unique_ptr<RawPeer>> peers;
        for (int i = 0; i < TWServer::readersPerAddress(TWServer::kMaxDataInfoReaders); ++i) {
            peers.push_back(std::make_unique<RawPeer>(server->serverPort()));
            peers.back()->send(u32(TWRequestTypeDataInfo));
            EXPECT_EQ(peers.back()->recv(4), u32(TWConnectAccepted));
        }
        ASSERT_EQ(server->readerCount(QStringLiteral("DataInfoReader")), int(peers.size()));
        for (auto& peer : peers)
            peer->close();
        server->stopServer();
        ASSERT_TRUE(testsupport::spinUntil([&] { return server->readerCount(QStringLiteral("DataInfoReader")) == 0; }));
    }
}

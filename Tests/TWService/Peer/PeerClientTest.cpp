// The client requests against the real server and against raw servers that misbehave: each
// request completes exactly once, whichever way its connection ends.
#include "Support/TestSupport.h"
#include "TWService/Client/TWBaseRequest.h"
#include "TWService/Server/TWDataReader.h"
#include "TWService/Server/TWServer.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace TWWire;

namespace {

struct Outcome {
    QMutex mutex;
    int calls = 0;
    std::optional<platform::Error> error;
    QByteArray data;
    void record(const std::optional<platform::Error>& e, const QByteArray& d = {})
    {
        QMutexLocker lock(&mutex);
        ++calls;
        error = e;
        data = d;
    }
    int count()
    {
        QMutexLocker lock(&mutex);
        return calls;
    }
};

struct Receiver : TWServerDelegate, TWSocketFileUploadDelegate, std::enable_shared_from_this<Receiver> {
    QMutex mutex;
    QList<QByteArray> files;
    QByteArray icon = "PICTURE";
    QByteArray download;
    QByteArray onClientRequestByParameter(TWSocketReader*, const QVariantMap&) override { return icon; }
    std::shared_ptr<TWDataReader> onClientRequestFileByParameter(TWSocketReader*, const QVariantMap&) override
    {
        return download.isEmpty() ? nullptr : std::make_shared<TWNSDataReader>(download);
    }
    void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& r) override
    {
        r->setDelegate(std::static_pointer_cast<TWSocketFileUploadDelegate>(shared_from_this()));
    }
    bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& r, const QString& path) override
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QMutexLocker lock(&mutex);
        files << f.readAll();
        QDir(r->stagingFolder()).removeRecursively();
        return true;
    }
};

// A receiver whose store takes as long as the test says: each finished upload waits in the
// store until the test opens it.
struct SlowStore : TWServerDelegate, TWSocketFileUploadDelegate, std::enable_shared_from_this<SlowStore> {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int inStore = 0;
    int stored = 0;
    void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& r) override
    {
        r->setDelegate(std::static_pointer_cast<TWSocketFileUploadDelegate>(shared_from_this()));
    }
    bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& r, const QString&) override
    {
        std::unique_lock lock(mutex);
        ++inStore;
        changed.wait(lock, [&] { return open; });
        --inStore;
        ++stored;
        QDir(r->stagingFolder()).removeRecursively();
        return true;
    }
    void openStore()
    {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    int storing()
    {
        std::lock_guard lock(mutex);
        return inStore;
    }
    int storedCount()
    {
        std::lock_guard lock(mutex);
        return stored;
    }
};

// A listener run by hand on a thread: accepts one connection and plays a script on it.
struct RawServer {
    int fd = -1;
    quint16 port = 0;
    std::thread thread;
    explicit RawServer(std::function<void(int)> script, int backlog = 8)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, backlog);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        if (script) {
            thread = std::thread([this, script] {
                const int c = ::accept(fd, nullptr, nullptr);
                if (c >= 0) {
                    script(c);
                    ::close(c);
                }
            });
        }
    }
    ~RawServer()
    {
        ::shutdown(fd, SHUT_RDWR);
        if (thread.joinable())
            thread.join();
        ::close(fd);
    }
};

QByteArray recvSome(int fd, qsizetype n)
{
    QByteArray out(n, '\0');
    qsizetype got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, out.data() + got, std::size_t(n - got), 0);
        if (r <= 0)
            break;
        got += r;
    }
    out.resize(got);
    return out;
}

} // namespace

TEST(PeerClient, UploadsAndDataRequestsCompleteOnceAgainstTheRealServer)
{
    auto receiver = std::make_shared<Receiver>();
    auto server = TWServer::create();
    server->setDelegate(receiver);
    server->setUploadStagingRoot(testsupport::makeTempDir(QStringLiteral("staging")));
    ASSERT_TRUE(server->startServer().has_value());
    const TWServerInfo peer{QStringLiteral("127.0.0.1"), server->serverPort(), {}};

    auto icon = std::make_shared<Outcome>();
    TWDataRequest::create(peer, {{QStringLiteral("Type"), QStringLiteral("Icon")}})
        ->requestWithCompltedBlock([icon](TWDataRequest*, const QByteArray& d, const std::optional<platform::Error>& e) {
            icon->record(e, d);
        });

    // 2.5 MiB: chunks of 1 MiB, 1 MiB and 0.5 MiB.
    QByteArray bytes(5 * 512 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 31) >> 3);
    const QString path = testsupport::makeTempDir() + QStringLiteral("/doc.pdf");
    testsupport::writeFile(path, bytes);
    auto upload = std::make_shared<Outcome>();
    TWFileUploadRequest::create(peer, {{QStringLiteral("Name"), QStringLiteral("doc")}, {QStringLiteral("Extention"), QStringLiteral("pdf")}},
                                path)
        ->requestWithCompltedBlock([upload](TWFileUploadRequest*, const std::optional<platform::Error>& e) { upload->record(e); });

    // A 0-byte file is refused by the receiver and reported as such by the sender.
    const QString empty = testsupport::makeTempDir() + QStringLiteral("/empty.txt");
    testsupport::writeFile(empty, {});
    auto refused = std::make_shared<Outcome>();
    TWFileUploadRequest::create(peer, {{QStringLiteral("Name"), QStringLiteral("empty")}}, empty)
        ->requestWithCompltedBlock([refused](TWFileUploadRequest*, const std::optional<platform::Error>& e) { refused->record(e); });

    ASSERT_TRUE(testsupport::spinUntil([&] { return icon->count() && upload->count() && refused->count(); }));
    EXPECT_FALSE(icon->error.has_value());
    EXPECT_EQ(icon->data, QByteArray("PICTURE"));
    EXPECT_FALSE(upload->error.has_value()) << qPrintable(upload->error ? upload->error->toString() : QString());
    ASSERT_TRUE(testsupport::spinUntil([&] {
        QMutexLocker lock(&receiver->mutex);
        return receiver->files.size() == 1;
    }));
    EXPECT_TRUE(receiver->files[0] == bytes);
    ASSERT_TRUE(refused->error.has_value());
    EXPECT_EQ(refused->error->domain, QStringLiteral("TWFileUploadRequest"));
    EXPECT_EQ(refused->error->message, QStringLiteral("upload refused by server (-3)"));

    // A download in chunks, and one the server has nothing for.
    receiver->download = bytes;
    QString downloaded;
    auto fetched = std::make_shared<Outcome>();
    TWFileRequest::create(peer, {{QStringLiteral("Path"), QStringLiteral("x")}})
        ->requestWithCompltedBlock([&downloaded, fetched](TWFileRequest*, const QString& p, const std::optional<platform::Error>& e) {
            downloaded = p; // read after the completion count is seen, under its lock
            fetched->record(e);
        });
    ASSERT_TRUE(testsupport::spinUntil([&] { return fetched->count() == 1; }));
    EXPECT_FALSE(fetched->error.has_value());
    EXPECT_TRUE(testsupport::readFile(downloaded) == bytes);
    QFile::remove(downloaded);
    receiver->download.clear();
    auto nothing = std::make_shared<Outcome>();
    TWFileRequest::create(peer, {{QStringLiteral("Path"), QStringLiteral("x")}})
        ->requestWithCompltedBlock([nothing](TWFileRequest*, const QString&, const std::optional<platform::Error>& e) { nothing->record(e); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return nothing->count() == 1; }));
    ASSERT_TRUE(nothing->error.has_value());
    EXPECT_EQ(nothing->error->message, QStringLiteral("read file data size == 0, disconnect by client!"));

    EXPECT_EQ(icon->count() + upload->count() + refused->count(), 3);
    server->stopServer();
}

TEST(PeerClient, EveryWayAConnectionEndsCompletesExactlyOnce)
{
    TWTimeouts saved = TWTimeouts::shared();
    TWTimeouts::shared().connect = 0.2;
    TWTimeouts::shared().read = 0.3;
    const TWFileUploadRequest::Resend savedResend = TWFileUploadRequest::resend();
    TWFileUploadRequest::resend().pause = 0.05; // the silent receiver is tried again
    std::vector<std::shared_ptr<Outcome>> outcomes;
    auto upload = [&](quint16 port, const QString& file) {
        auto o = std::make_shared<Outcome>();
        outcomes.push_back(o);
        auto r = TWFileUploadRequest::create({QStringLiteral("127.0.0.1"), port, {}}, {{QStringLiteral("Name"), QStringLiteral("x")}}, file);
        r->requestWithCompltedBlock([o](TWFileUploadRequest*, const std::optional<platform::Error>& e) { o->record(e); });
        return r;
    };
    const QString file = testsupport::makeTempDir() + QStringLiteral("/f.bin");
    testsupport::writeFile(file, QByteArray(3000, 'f'));

    const quint16 refusedPort = [] {
        RawServer probe(nullptr);
        return probe.port;
    }();
    upload(refusedPort, file); // 0: refused connection

    RawServer closesMidUpload([](int c) { // 1: the server goes away after the first header
        recvSome(c, 4);
        ::send(c, u32(0).constData(), 4, MSG_NOSIGNAL);
        const quint32 n = *readU32(recvSome(c, 4));
        recvSome(c, n);
        ::send(c, i64(kUploadAccepted).constData(), 8, MSG_NOSIGNAL);
        recvSome(c, 4);
    });
    upload(closesMidUpload.port, file);

    RawServer wrongAck([](int c) { // 2: an acknowledgement that is not 0x0A
        recvSome(c, 4);
        ::send(c, u32(0).constData(), 4, MSG_NOSIGNAL);
        const quint32 n = *readU32(recvSome(c, 4));
        recvSome(c, n);
        ::send(c, i64(kUploadAccepted).constData(), 8, MSG_NOSIGNAL);
        recvSome(c, 4);
        ::send(c, "X", 1, MSG_NOSIGNAL);
        recvSome(c, 1);
    });
    upload(wrongAck.port, file);

    RawServer silent([](int c) { recvSome(c, 4); }); // 3: never answers the type
    upload(silent.port, file);

    RawServer full(nullptr, 0); // 4: a backlog that never drains: the connect time-out
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(full.port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }
    upload(full.port, file);

    auto cancelled = upload(full.port, file); // 5: cancelled while its connect is pending
    cancelled->cancel();

    auto zeroAnswer = std::make_shared<Outcome>(); // a data answer of u32 0: no data, no error
    RawServer zero([](int c) {
        recvSome(c, 4);
        ::send(c, u32(0).constData(), 4, MSG_NOSIGNAL);
        const quint32 n = *readU32(recvSome(c, 4));
        recvSome(c, n);
        ::send(c, u32(0).constData(), 4, MSG_NOSIGNAL);
        recvSome(c, 1);
    });
    TWDataRequest::create({QStringLiteral("127.0.0.1"), zero.port, {}}, {{QStringLiteral("Type"), QStringLiteral("Icon")}})
        ->requestWithCompltedBlock([zeroAnswer](TWDataRequest*, const QByteArray& d, const std::optional<platform::Error>& e) {
            zeroAnswer->record(e, d);
        });

    ASSERT_TRUE(testsupport::spinUntil([&] {
        for (auto& o : outcomes)
            if (o->count() == 0)
                return false;
        return zeroAnswer->count() == 1;
    }));
    bool looked = false;
    platform::DispatchQueue::main().after(std::chrono::milliseconds(500), [&] { looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return looked; }));
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        EXPECT_EQ(outcomes[i]->count(), 1) << i;
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_TRUE(outcomes[i]->error.has_value()) << i;
    EXPECT_EQ(outcomes[0]->error->code, ECONNREFUSED);
    EXPECT_EQ(outcomes[4]->error->domain, KPAsyncSocket::ErrorDomain);
    EXPECT_EQ(outcomes[4]->error->code, KPAsyncSocket::ConnectTimeoutError);
    EXPECT_FALSE(outcomes[5]->error.has_value());
    EXPECT_FALSE(zeroAnswer->error.has_value());
    EXPECT_TRUE(zeroAnswer->data.isEmpty());
    for (int fd : fillers)
        ::close(fd);
    TWTimeouts::shared() = saved;
    TWFileUploadRequest::resend() = savedResend;
}

TEST(PeerClient, AnUploadIsReportedDoneOnceStoredHoweverLongTheStoreTakesAndFailedWhenItNeverEnds)
{
    TWTimeouts saved = TWTimeouts::shared();
    TWTimeouts::shared().read = 0.5;
    auto store = std::make_shared<SlowStore>();
    auto server = TWServer::create();
    server->setDelegate(store);
    server->setUploadStagingRoot(testsupport::makeTempDir(QStringLiteral("staging")));
    ASSERT_TRUE(server->startServer().has_value());
    const TWServerInfo peer{QStringLiteral("127.0.0.1"), server->serverPort(), {}};
    const QString file = testsupport::makeTempDir() + QStringLiteral("/f.bin");
    testsupport::writeFile(file, QByteArray(3000, 'f'));

    // Many more uploads to one peer than its server gives one address, each stored slowly; those
    // waiting for their turn hold no descriptor (a thousand documents sent at once would
    // otherwise use up the process's).
    const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size(); };
    const qsizetype before = descriptors();
    std::vector<std::shared_ptr<Outcome>> outcomes;
    for (int i = 0; i < TWFileUploadRequest::kUploadsPerPeer + 200; ++i) {
        auto o = std::make_shared<Outcome>();
        outcomes.push_back(o);
        TWFileUploadRequest::create(peer, {{QStringLiteral("Name"), QStringLiteral("f%1").arg(i)}}, file)
            ->requestWithCompltedBlock([o](TWFileUploadRequest*, const std::optional<platform::Error>& e) { o->record(e); });
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return store->storing() == TWFileUploadRequest::kUploadsPerPeer; }));
    EXPECT_LT(descriptors() - before, 100);
    // The store takes many times the senders' read time-out; nobody has given up meanwhile.
    bool waited = false;
    platform::DispatchQueue::main().after(std::chrono::milliseconds(2500), [&] { waited = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return waited; }));
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i]->count(), 0) << i << ": "
                                           << qPrintable(outcomes[i]->error ? outcomes[i]->error->toString() : QString());
    }
    store->openStore();
    ASSERT_TRUE(testsupport::spinUntil([&] {
        for (auto& o : outcomes)
            if (o->count() == 0)
                return false;
        return true;
    }));
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        EXPECT_FALSE(outcomes[i]->error.has_value()) << i << ": " << qPrintable(outcomes[i]->error->toString());
    EXPECT_EQ(store->storedCount(), int(outcomes.size()));
    server->stopServer();

    // A receiver that never finishes storing: the sender's wait is long, but it ends.
    TWTimeouts::shared().storeWait = 0.3;
    TWTimeouts::shared().storeWaitPerMiB = 0;
    auto hung = std::make_shared<SlowStore>();
    auto second = TWServer::create();
    second->setDelegate(hung);
    second->setUploadStagingRoot(testsupport::makeTempDir(QStringLiteral("staging")));
    ASSERT_TRUE(second->startServer().has_value());
    auto never = std::make_shared<Outcome>();
    TWFileUploadRequest::create({QStringLiteral("127.0.0.1"), second->serverPort(), {}}, {{QStringLiteral("Name"), QStringLiteral("h")}}, file)
        ->requestWithCompltedBlock([never](TWFileUploadRequest*, const std::optional<platform::Error>& e) { never->record(e); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return never->count() == 1; }, 10000));
    EXPECT_TRUE(never->error.has_value());
    hung->openStore();
    second->stopServer();
    TWTimeouts::shared() = saved;
}

// Plays the receiving end of one upload of a file that fits one chunk: takes it and answers it
// stored, or stops it after its chunk as a receiver making way for another sender does.
QByteArray playUpload(int c, bool giveWay)
{
    recvSome(c, 4);
    ::send(c, u32(0).constData(), 4, MSG_NOSIGNAL);
    const quint32 n = readU32(recvSome(c, 4)).value_or(0);
    recvSome(c, n);
    ::send(c, i64(kUploadAccepted).constData(), 8, MSG_NOSIGNAL);
    const quint32 length = readU32(recvSome(c, 4)).value_or(0);
    ::send(c, &kAck, 1, MSG_NOSIGNAL);
    const QByteArray chunk = recvSome(c, length);
    if (giveWay) {
        ::send(c, &kUploadGaveWay, 1, MSG_NOSIGNAL);
        recvSome(c, 1 << 20); // what the sender still sends, until it closes
        return {};
    }
    ::send(c, &kAck, 1, MSG_NOSIGNAL);
    recvSome(c, 1); // until the sender closes
    return chunk;
}

// A receiver that stops an upload to let another sender in has not lost the document: the
// sender sends it again and it arrives. One that stops it every time is answered after a few
// tries, and the sender's user reads why.
TEST(PeerClient, AnUploadThatGaveWayIsSentAgainUntilItArrivesOrTheTriesRunOut)
{
    const TWFileUploadRequest::Resend saved = TWFileUploadRequest::resend();
    TWFileUploadRequest::resend().tries = 2;
    TWFileUploadRequest::resend().pause = 0.05;
    const QString file = testsupport::makeTempDir() + QStringLiteral("/f.bin");
    QByteArray bytes(3000, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    testsupport::writeFile(file, bytes);

    for (const bool everyTime : {false, true}) {
        QMutex mutex;
        int connections = 0;
        QByteArray arrived;
        RawServer receiver(nullptr);
        std::thread serving([&] {
            for (int i = 0; i < TWFileUploadRequest::resend().tries + 1; ++i) {
                const int c = ::accept(receiver.fd, nullptr, nullptr);
                if (c < 0)
                    return;
                const QByteArray chunk = playUpload(c, everyTime || i == 0);
                ::close(c);
                QMutexLocker lock(&mutex);
                ++connections;
                if (!chunk.isEmpty()) {
                    arrived = chunk;
                    return;
                }
            }
        });
        auto outcome = std::make_shared<Outcome>();
        TWFileUploadRequest::create({QStringLiteral("127.0.0.1"), receiver.port, {}}, {{QStringLiteral("Name"), QStringLiteral("x")}}, file)
            ->requestWithCompltedBlock([outcome](TWFileUploadRequest*, const std::optional<platform::Error>& e) { outcome->record(e); });
        const bool completed = testsupport::spinUntil([&] { return outcome->count() == 1; });
        ::shutdown(receiver.fd, SHUT_RDWR); // a connection that never comes is not waited for
        serving.join();
        ASSERT_TRUE(completed);
        QMutexLocker lock(&mutex);
        if (!everyTime) {
            EXPECT_FALSE(outcome->error.has_value()) << qPrintable(outcome->error->toString());
            EXPECT_EQ(connections, 2);
            EXPECT_TRUE(arrived == bytes);
            continue;
        }
        EXPECT_EQ(connections, TWFileUploadRequest::resend().tries + 1);
        ASSERT_TRUE(outcome->error.has_value());
        EXPECT_EQ(outcome->error->code, TWFileUploadRequest::GaveWay);
        EXPECT_TRUE(TWFileUploadRequest::reasonForUser(*outcome->error).contains(QStringLiteral("too slowly")))
            << qPrintable(outcome->error->message);
    }
    TWFileUploadRequest::resend() = saved;
}

// A folder's archive of many small entries costs the receiver per entry, whatever its size:
// the sender waits for the store in proportion to the entries it sent.
TEST(PeerClient, TheWaitForAFolderToBeStoredGrowsWithItsEntries)
{
    TWTimeouts saved = TWTimeouts::shared();
    TWTimeouts::shared().read = 0.3;
    TWTimeouts::shared().storeWait = 0.3;
    TWTimeouts::shared().storeWaitPerMiB = 0;
    TWTimeouts::shared().storeWaitPerMiBFolder = 0;
    TWTimeouts::shared().storeWaitPerEntry = 100; // per entry, a wait the test never reaches
    auto store = std::make_shared<SlowStore>();
    auto server = TWServer::create();
    server->setDelegate(store);
    server->setUploadStagingRoot(testsupport::makeTempDir(QStringLiteral("staging")));
    ASSERT_TRUE(server->startServer().has_value());
    const QString file = testsupport::makeTempDir() + QStringLiteral("/folder.zip");
    testsupport::writeFile(file, QByteArray(3000, 'z'));
    auto outcome = std::make_shared<Outcome>();
    auto request = TWFileUploadRequest::create({QStringLiteral("127.0.0.1"), server->serverPort(), {}},
                                               {{QStringLiteral("Name"), QStringLiteral("Album")},
                                                {QStringLiteral("IsFolder"), true}},
                                               file);
    request->setArchiveEntries(3);
    request->requestWithCompltedBlock([outcome](TWFileUploadRequest*, const std::optional<platform::Error>& e) { outcome->record(e); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return store->storing() == 1; }));
    // Many times what the wait would be without the entries: the sender still waits.
    bool waited = false;
    platform::DispatchQueue::main().after(std::chrono::milliseconds(2500), [&] { waited = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return waited; }));
    EXPECT_EQ(outcome->count(), 0) << qPrintable(outcome->error ? outcome->error->toString() : QString());
    store->openStore();
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome->count() == 1; }));
    EXPECT_FALSE(outcome->error.has_value()) << qPrintable(outcome->error->toString());
    server->stopServer();
    TWTimeouts::shared() = saved;
}

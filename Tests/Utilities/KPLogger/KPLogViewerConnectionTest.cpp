#include "LogTestHelpers.h"
#include "Support/TestSupport.h"
#include "TestViewer.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/KPLogger/KPLogClientInfo.h"
#include "Utilities/KPLogger/KPLogConsole.h"
#include "Utilities/KPLogger/Logger.h"

#include "Platform/Bonjour/DirectoryServiceBackend.h"

#include <QFile>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint32_t kQuiet = kKPLogDefaultOptions & ~uint32_t(kKPLogOptionCaptureSystemConsole);
constexpr uint32_t kDirectOnly = kQuiet & ~uint32_t(kKPLogOptionBrowseBonjour);

// Declared after the viewers it talks to, so its worker stops first also when an assertion
// leaves the test early; the discovery it browses is shared with it.
using LoggerPtr = std::unique_ptr<Logger>;

LoggerPtr makeLogger(uint32_t options, const QString& bufferFile = QString())
{
    auto logger = std::make_unique<Logger>();
    logger->setOptions(options);
    if (!bufferFile.isEmpty())
        logger->setBufferFilePath(bufferFile);
    return logger;
}

void log(const LoggerPtr& logger, const QString& text)
{
    KPLogLogText(logger.get(), nullptr, 0, nullptr, QString(), 0, text);
}

// A loopback port nothing listens on.
quint16 refusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Keeps the client's console lines (warnings, printed records) out of the test's output.
class QuietConsole {
public:
    QuietConsole()
        : m_fd(::open("/dev/null", O_WRONLY | O_CLOEXEC))
        , m_previous(KPLogConsole::outputDescriptor())
    {
        KPLogConsole::setOutputDescriptor(m_fd);
    }
    ~QuietConsole()
    {
        KPLogConsole::setOutputDescriptor(m_previous);
        ::close(m_fd);
    }

private:
    int m_fd;
    int m_previous;
};

// Discovery that reports a fixed list of services; how they resolve is up to each service.
class FakeDiscovery : public platform::ServiceBackend {
public:
    QList<platform::NetService> services;
    QStringList removedAtOnce; // found and reported gone before the others are found
    bool browseFails = false;
    std::atomic<int> resolves{0};
    platform::BrowseCallbacks lastCallbacks;

    // A service reported at once by the last browse, as a late answer of discovery would be.
    void announce(const QString& name, quint16 port)
    {
        lastCallbacks.found(service(name, port, true));
    }

    QString backendName() const override { return QStringLiteral("fake"); }
    platform::Result<std::unique_ptr<platform::ServiceHandle>> publish(
        const platform::NetService&, platform::DispatchQueue, std::function<void(const platform::NetService&)>) override
    {
        return platform::fail(QStringLiteral("Bonjour"), 1, QStringLiteral("not here"));
    }
    platform::Result<std::unique_ptr<platform::ServiceHandle>> browse(const QString&, const QString&,
                                                                      platform::DispatchQueue queue,
                                                                      platform::BrowseCallbacks callbacks) override
    {
        if (browseFails)
            return platform::fail(QStringLiteral("Bonjour"), 2, QStringLiteral("no daemon"));
        lastCallbacks = callbacks;
        // A service gone at once is found and removed while browse() still runs on the worker,
        // so the worker cannot try it in between, however the threads are scheduled.
        for (const platform::NetService& s : services) {
            if (removedAtOnce.contains(s.name)) {
                callbacks.found(s);
                callbacks.removed(s);
            }
        }
        for (const platform::NetService& s : services)
            if (!removedAtOnce.contains(s.name))
                queue.async([callbacks, s] { callbacks.found(s); });
        return std::make_unique<platform::ServiceHandle>();
    }
    std::unique_ptr<platform::ServiceHandle> resolve(const platform::NetService& service, platform::DispatchQueue queue,
                                                     std::function<void(platform::Result<platform::NetService>)> done) override
    {
        ++resolves;
        for (const platform::NetService& s : services)
            if (s.name == service.name)
                queue.async([done, s] { done(s); });
        return std::make_unique<platform::ServiceHandle>();
    }

    void add(const QString& name, quint16 port, bool isLocal) { services.append(service(name, port, isLocal)); }

    static platform::NetService service(const QString& name, quint16 port, bool isLocal)
    {
        platform::NetService s;
        s.name = name;
        s.type = QStringLiteral("_kplogger-ssl._tcp");
        s.port = port;
        s.addresses = {QHostAddress(QHostAddress::LocalHost)};
        s.isLocal = isLocal;
        return s;
    }
};

std::unique_ptr<platform::ServiceHandle> publishViewer(platform::DirectoryServiceBackend& backend,
                                                       const QString& name, quint16 port)
{
    platform::NetService s;
    s.name = name;
    s.type = QStringLiteral("_kplogger-ssl._tcp");
    s.port = port;
    auto handle = backend.publish(s, platform::DispatchQueue::main(), nullptr);
    EXPECT_TRUE(handle.has_value());
    return handle ? std::move(*handle) : nullptr;
}

} // namespace

TEST(KPLogViewerConnection, ReplaysTheFileFirstKeepsItAndReplaysOnlyWhatIsNewAfterADrop)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/Folivo 2.log");
    LoggerPtr logger = makeLogger(kDirectOnly, path);
    log(logger, QStringLiteral("old 1"));
    log(logger, QStringLiteral("old 2"));
    KPLogWaitForQueue(logger.get(), false);
    const QByteArray fileBefore = testsupport::readFile(path);
    ASSERT_EQ(logtest::splitRecords(fileBefore).value_or(QList<QByteArray>()).size(), 3);

    TestViewer viewer;
    KPLogSetRemoteHost(logger.get(), QStringLiteral("127.0.0.1"), viewer.port());
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->connected(); }));
    log(logger, QStringLiteral("new 1"));
    log(logger, QStringLiteral("new 2"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return viewer.messages(0).contains(QStringLiteral("new 2")); }));

    const QList<QByteArray> first = viewer.records(0);
    ASSERT_EQ(first.size(), 6);
    EXPECT_EQ(logtest::recordType(first[0]), KPLogRecord::TypeClientInfo);
    EXPECT_EQ(logtest::recordType(first[3]), KPLogRecord::TypeClientInfo);
    EXPECT_EQ(viewer.messages(0), (QStringList{QString(), QStringLiteral("old 1"), QStringLiteral("old 2"), QString(),
                                               QStringLiteral("new 1"), QStringLiteral("new 2")}));
    // The file is still there, untouched while the viewer took the records.
    EXPECT_EQ(testsupport::readFile(path), fileBefore);

    // The viewer drops; the logger goes back to the file and, the viewer still listening,
    // connects again at once. The records replayed before are not sent a second time.
    viewer.dropConnection();
    ASSERT_TRUE(testsupport::spinUntil([&] { return viewer.connectionCount() == 2 && logger->connected(); }));
    log(logger, QStringLiteral("new 3"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return viewer.messages(1).contains(QStringLiteral("new 3")); }));
    const QList<QByteArray> second = viewer.records(1);
    ASSERT_FALSE(second.isEmpty());
    EXPECT_EQ(logtest::recordType(second.first()), KPLogRecord::TypeClientInfo);
    EXPECT_FALSE(viewer.messages(1).contains(QStringLiteral("old 1")));
    EXPECT_EQ(viewer.messages(1).last(), QStringLiteral("new 3"));
    EXPECT_TRUE(testsupport::readFile(path).startsWith(fileBefore));
}

TEST(KPLogViewerConnection, WithoutAFileTheFirstRecordIsTheClientInformationQueuedAtConnection)
{
    // Plain TCP this time; records made before the viewer came wait in memory.
    LoggerPtr logger = makeLogger(kDirectOnly & ~uint32_t(kKPLogOptionUseSSL));
    TestViewer viewer(false);
    KPLogSetRemoteHost(logger.get(), QStringLiteral("localhost"), viewer.port());
    log(logger, QStringLiteral("before")); // starts the worker, which connects
    ASSERT_TRUE(testsupport::spinUntil([&] { return viewer.messages(0).contains(QStringLiteral("before")); }));
    log(logger, QStringLiteral("after"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return viewer.messages(0).contains(QStringLiteral("after")); }));
    const QList<QByteArray> records = viewer.records(0);
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(logtest::recordType(records[0]), KPLogRecord::TypeClientInfo);
    EXPECT_FALSE(logtest::number(records[0], KPLogRecord::KeySequence).has_value());
    EXPECT_EQ(logtest::number(records[1], KPLogRecord::KeySequence), 1);
    EXPECT_EQ(logtest::number(records[2], KPLogRecord::KeySequence), 2);
}

TEST(KPLogViewerConnection, ALinkDroppedInsideARecordLeavesOnlyWholeRecordsInTheFile)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/Folivo 2.log");
    TestViewer viewer;
    viewer.setReading(false);
    LoggerPtr logger = makeLogger(kDirectOnly, path);
    KPLogSetRemoteHost(logger.get(), QStringLiteral("127.0.0.1"), viewer.port());
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->connected(); }));

    // Far more than the socket buffers hold: the write stops inside this record. The file
    // may hold it whole.
    const QByteArray big(16 * 1024 * 1024, 'x');
    KPLogSetBufferFileCap(logger.get(), 4 * big.size(), 0);
    KPLogLogData(logger.get(), nullptr, 0, nullptr, QString(), 0, big);
    for (int i = 0; i < 50; ++i)
        log(logger, QStringLiteral("small %1").arg(i));
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->viewerStats().recordPartlySent; }));
    viewer.dropConnection(true);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !logger->connected(); }));
    log(logger, QStringLiteral("after the drop"));
    logger.reset();

    const auto records = logtest::splitRecords(testsupport::readFile(path));
    ASSERT_TRUE(records.has_value()) << "the file holds part of a record";
    int bigOnes = 0;
    QStringList texts;
    for (const QByteArray& r : *records) {
        const auto parts = KPLogRecord::parse(r);
        ASSERT_TRUE(parts.has_value());
        for (const auto& p : *parts)
            if (p.key == KPLogRecord::KeyMessage && p.type == KPLogRecord::PartBinary)
                bigOnes += p.bytes == big ? 1 : 100;
        if (auto t = logtest::text(r, KPLogRecord::KeyMessage))
            texts.append(*t);
    }
    // The record the viewer got only part of is written whole, once, with everything after it.
    EXPECT_EQ(bigOnes, 1);
    ASSERT_EQ(texts.size(), 51);
    EXPECT_EQ(texts.first(), QStringLiteral("small 0"));
    EXPECT_EQ(texts.last(), QStringLiteral("after the drop"));
}

TEST(KPLogViewerConnection, ReplayStopsAtDamageInTheFileAndSendsOnlyWholeRecords)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/Folivo 2.log");
    // A record length no record has: what follows it cannot be found again.
    testsupport::writeFile(path, KPLogClientInfo::record()
                                     + KPLogRecord::log(KPLogRecord::Stamp::now(), 1, {}, QString(), 0, QStringLiteral("before damage"))
                                     + QByteArray(8, '\xFF'));
    TestViewer viewer;
    LoggerPtr logger = makeLogger(kDirectOnly, path);
    KPLogSetRemoteHost(logger.get(), QStringLiteral("127.0.0.1"), viewer.port());
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->connected(); }));
    log(logger, QStringLiteral("live"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return viewer.messages(0).contains(QStringLiteral("live")); }));
    EXPECT_EQ(viewer.messages(0), (QStringList{QString(), QStringLiteral("before damage"), QString(), QStringLiteral("live")}));
    EXPECT_TRUE(logtest::splitRecords(viewer.received(0)).has_value());
}

TEST(KPLogViewerConnection, OnlyOneViewerIsConnectedToAndOneFoundLaterIsIgnored)
{
    TestViewer a;
    TestViewer b;
    TestViewer late;
    auto discovery = std::make_shared<FakeDiscovery>();
    discovery->add(QStringLiteral("Viewer A"), a.port(), true);
    discovery->add(QStringLiteral("Viewer B"), b.port(), true);
    LoggerPtr logger = makeLogger(kQuiet);
    logger->setServiceBackend(discovery);
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return a.isConnected() && logger->connected(); }));
    EXPECT_EQ(logger->viewerStats().servicesFound, 2);

    // Found while connected: the record logged after it shows that the logger has seen it.
    discovery->announce(QStringLiteral("Late viewer"), late.port());
    log(logger, QStringLiteral("hello"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return a.messages(0).contains(QStringLiteral("hello")); }));
    EXPECT_EQ(a.connectionCount(), 1);
    EXPECT_EQ(b.connectionCount(), 0);
    EXPECT_EQ(late.connectionCount(), 0);
    EXPECT_EQ(logger->viewerStats().attempts, 1);
}

TEST(KPLogViewerConnection, ADirectoryPublishedViewerIsFoundAndTakesTheRecords)
{
    auto discovery = std::make_shared<platform::DirectoryServiceBackend>(testsupport::makeTempDir());
    TestViewer viewer;
    auto published = publishViewer(*discovery, QStringLiteral("Log Viewer"), viewer.port());
    LoggerPtr logger = makeLogger(kQuiet);
    logger->setServiceBackend(discovery);
    log(logger, QStringLiteral("found you"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return viewer.messages(0).contains(QStringLiteral("found you")); }));
    EXPECT_EQ(logtest::recordType(viewer.records(0).first()), KPLogRecord::TypeClientInfo);
}

TEST(KPLogViewerConnection, ServicesElsewhereOrWithAnotherNameAreNeverConnectedTo)
{
    TestViewer remote;
    TestViewer local;
    auto discovery = std::make_shared<FakeDiscovery>();
    auto named = std::make_shared<FakeDiscovery>();
    // The remote one is reported first and reaches a listening viewer, so only the check on
    // where the service runs keeps the records from it.
    discovery->add(QStringLiteral("Remote"), remote.port(), false);
    discovery->add(QStringLiteral("Local"), local.port(), true);
    LoggerPtr logger = makeLogger(kQuiet);
    logger->setServiceBackend(discovery);
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return local.isConnected() && logger->connected(); }));
    EXPECT_EQ(remote.connectionCount(), 0);
    EXPECT_EQ(logger->viewerStats().servicesRefused, 1);
    logger.reset();

    // A name set on the logger picks the viewer, ignoring case and accents.
    named->add(QStringLiteral("Other"), remote.port(), true);
    named->add(QStringLiteral("Viewér"), local.port(), true);
    logger = makeLogger(kQuiet);
    logger->setServiceBackend(named);
    KPLogSetBonjourService(logger.get(), QString(), QStringLiteral("VIEWER"));
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return local.connectionCount() == 2 && logger->connected(); }));
    EXPECT_EQ(remote.connectionCount(), 0);
    EXPECT_EQ(named->resolves.load(), 1);
}

TEST(KPLogViewerConnection, AViewerGoneBeforeItWasConnectedToIsSkipped)
{
    TestViewer gone;
    TestViewer next;
    auto discovery = std::make_shared<FakeDiscovery>();
    discovery->add(QStringLiteral("Gone"), gone.port(), true);
    discovery->add(QStringLiteral("Next"), next.port(), true);
    discovery->removedAtOnce = {QStringLiteral("Gone")};
    LoggerPtr logger = makeLogger(kQuiet);
    logger->setServiceBackend(discovery);
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return next.isConnected() && logger->connected(); }));
    EXPECT_EQ(gone.connectionCount(), 0);
}

TEST(KPLogViewerConnection, OnlyADirectHostIsRetriedOnATimer)
{
    QuietConsole quiet;
    auto discovery = std::make_shared<platform::DirectoryServiceBackend>(testsupport::makeTempDir());
    const quint16 port = refusedPort();
    auto published = publishViewer(*discovery, QStringLiteral("Gone"), port);
    LoggerPtr logger = makeLogger(kQuiet, testsupport::makeTempDir() + QStringLiteral("/Folivo 2.log"));
    logger->setServiceBackend(discovery);
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->viewerStats().failedAttempts >= 1; }));
    EXPECT_EQ(logger->viewerStats().reconnectTimerStarts, 0);
    EXPECT_FALSE(logger->viewerStats().reconnectTimerRunning);

    KPLogSetRemoteHost(logger.get(), QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->viewerStats().reconnectTimerRunning; }));
    EXPECT_EQ(logger->viewerStats().reconnectTimerStarts, 1);

    // A host that is not this machine is not even tried, nor retried.
    const int attempts = logger->viewerStats().attempts;
    KPLogSetRemoteHost(logger.get(), QStringLiteral("192.0.2.7"), port);
    log(logger, QStringLiteral("after the change")); // handled after the change, in the file
    KPLogWaitForQueue(logger.get(), false);
    EXPECT_EQ(logger->viewerStats().attempts, attempts);
    EXPECT_FALSE(logger->viewerStats().reconnectTimerRunning);
}

TEST(KPLogViewerConnection, DiscoveryThatCannotStartKeepsTheLogFile)
{
    QuietConsole quiet;
    auto broken = std::make_shared<FakeDiscovery>();
    broken->browseFails = true;
    const QString path = testsupport::makeTempDir() + QStringLiteral("/Folivo 2.log");
    LoggerPtr logger = makeLogger(kQuiet, path);
    logger->setServiceBackend(broken);
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->viewerStats().browseStarts >= 1; }));
    log(logger, QStringLiteral("still in the file"));
    KPLogWaitForQueue(logger.get(), false);
    EXPECT_EQ(logger->options() & kKPLogOptionLogToConsole, 0u);
    logger.reset();
    const auto records = logtest::splitRecords(testsupport::readFile(path)).value_or(QList<QByteArray>());
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(logtest::text(records[1], KPLogRecord::KeyMessage), QStringLiteral("still in the file"));

    // With nowhere else to put records, the logger prints them instead.
    LoggerPtr fileless = makeLogger(kQuiet);
    fileless->setServiceBackend(broken);
    fileless->startWorker();
    EXPECT_TRUE(testsupport::spinUntil([&] { return fileless->options() & kKPLogOptionLogToConsole; }));
}

TEST(KPLogViewerConnection, TheSharedDiscoveryLivesOnWhileALoggerStillBrowsesThroughIt)
{
    LoggerPtr logger = makeLogger(kQuiet); // no discovery of its own: the shared one
    logger->startWorker();
    ASSERT_TRUE(testsupport::spinUntil([&] { return logger->viewerStats().browseStarts >= 1; }));
    const std::weak_ptr<platform::ServiceBackend> browsed = platform::ServiceBackend::shared();

    // What the program's quit does (and static destruction once did, at any moment): the
    // shared slot lets go while the worker still runs.
    platform::ServiceBackend::shutdownShared();
    EXPECT_FALSE(browsed.expired());
    EXPECT_NE(platform::ServiceBackend::shared(), browsed.lock()) << "a later user gets a new one";
}

#include "LogTestHelpers.h"
#include "Support/TestSupport.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/KPLogger/KPLogConsole.h"
#include "Utilities/KPLogger/KPLogRecord.h"
#include "Utilities/KPLogger/Logger.h"

#include <QFile>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The options of a logger in this test program: the defaults less console capture.
constexpr uint32_t kQuietOptions = kKPLogDefaultOptions & ~uint32_t(kKPLogOptionCaptureSystemConsole);

QList<QByteArray> recordsIn(const QString& path)
{
    const auto records = logtest::splitRecords(testsupport::readFile(path));
    EXPECT_TRUE(records.has_value()) << "torn log file";
    return records.value_or(QList<QByteArray>());
}

// Sends the client's console lines to a file for the life of the object.
class ConsoleToFile {
public:
    ConsoleToFile()
        : m_path(testsupport::makeTempDir() + QStringLiteral("/console.txt"))
    {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        m_previous = KPLogConsole::outputDescriptor();
        KPLogConsole::setOutputDescriptor(m_fd);
    }
    ~ConsoleToFile()
    {
        KPLogConsole::setOutputDescriptor(m_previous);
        ::close(m_fd);
    }
    QString text() const { return QString::fromUtf8(testsupport::readFile(m_path)); }

private:
    QString m_path;
    int m_fd = -1;
    int m_previous = 2;
};

} // namespace

TEST(KPLogClient, BufferFileStartsWithClientInformationEachTimeItOpens)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/Folivo 2.log");
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kQuietOptions);
    KPLogSetBufferFilePath(logger, path);
    KPLogLogText(logger, __FILE__, __LINE__, __func__, QStringLiteral("main"), 1, QStringLiteral("one"));
    KPLogLogText(logger, nullptr, 0, nullptr, QString(), 0, QStringLiteral("two"));
    KPLogLogData(logger, nullptr, 0, nullptr, QString(), 0, QByteArray("\x01\x02", 2));
    KPLogWaitForQueue(logger, false);
    ASSERT_EQ(recordsIn(path).size(), 4);
    KPLogLogMarker(logger, QStringLiteral("last"));
    KPLogShutdown(logger); // writes what is still queued

    Logger* again = KPLogCreate();
    KPLogSetOptionFlags(again, kQuietOptions);
    KPLogSetBufferFilePath(again, path);
    KPLogLogText(again, nullptr, 0, nullptr, QString(), 0, QStringLiteral("after restart"));
    KPLogShutdown(again);

    const QList<QByteArray> records = recordsIn(path);
    ASSERT_EQ(records.size(), 7);
    EXPECT_EQ(logtest::recordType(records[0]), KPLogRecord::TypeClientInfo);
    EXPECT_EQ(logtest::text(records[1], KPLogRecord::KeyMessage), QStringLiteral("one"));
    EXPECT_EQ(logtest::text(records[1], KPLogRecord::KeyTag), QStringLiteral("main"));
    EXPECT_EQ(logtest::number(records[1], KPLogRecord::KeySequence), 1);
    EXPECT_EQ(logtest::text(records[1], KPLogRecord::KeyThreadId), QStringLiteral("Main thread"));
    EXPECT_EQ(logtest::number(records[2], KPLogRecord::KeySequence), 2);
    EXPECT_EQ(logtest::number(records[3], KPLogRecord::KeySequence), 3);
    EXPECT_EQ(logtest::recordType(records[4]), KPLogRecord::TypeMarker);
    EXPECT_EQ(logtest::recordType(records[5]), KPLogRecord::TypeClientInfo);
    EXPECT_EQ(logtest::number(records[6], KPLogRecord::KeySequence), 1);
}

TEST(KPLogClient, TwoThreadsLoggingReachTheFileInSequenceOrder)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/t.log");
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kQuietOptions);
    KPLogSetBufferFilePath(logger, path);
    constexpr int kPerThread = 1500;
    auto work = [logger](const QString& who) {
        for (int i = 0; i < kPerThread; ++i)
            KPLogLogText(logger, nullptr, 0, nullptr, who, 0, QString::number(i));
    };
    std::thread a(work, QStringLiteral("a"));
    std::thread b(work, QStringLiteral("b"));
    a.join();
    b.join();
    KPLogShutdown(logger);

    const QList<QByteArray> records = recordsIn(path);
    ASSERT_EQ(records.size(), 2 * kPerThread + 1);
    for (int i = 1; i < records.size(); ++i)
        ASSERT_EQ(logtest::number(records[i], KPLogRecord::KeySequence), i);
    // Unnamed worker threads are told apart by number.
    EXPECT_TRUE(logtest::text(records[1], KPLogRecord::KeyThreadId)->startsWith(QStringLiteral("Thread ")));
}

// A record whose thread is still building it leaves a gap in the numbers for a moment; the
// records after it wait, however the worker's sleep is cut short meanwhile (by the other
// thread's wake-ups, most often).
TEST(KPLogClient, RecordsWaitForOneStillBeingMadeWhileAnotherThreadLogs)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/t.log");
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kQuietOptions);
    KPLogSetBufferFilePath(logger, path);
    KPLogStartWorker(logger);
    std::atomic<bool> done{false};
    // Spinning threads beyond the cores, so that a logging thread is often preempted halfway
    // through its wake-up of the worker.
    std::vector<std::thread> spinners;
    for (unsigned t = 0; t < 2 * std::max(2u, std::thread::hardware_concurrency()); ++t)
        spinners.emplace_back([&] {
            while (!done.load()) {
            }
        });
    constexpr int kSlow = 300;
    std::thread slow([&] {
        for (int i = 0; i < kSlow; ++i) {
            const int32_t sequence = logger->nextSequence();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            logger->push(KPLogRecord::log(KPLogRecord::Stamp::now(), sequence, KPLogRecord::Source{},
                                          QStringLiteral("slow"), 0, QString::number(i)));
        }
    });
    std::atomic<int> fast{0};
    std::vector<std::thread> fasts;
    for (int t = 0; t < 2; ++t)
        fasts.emplace_back([&] {
            while (!done.load()) {
                KPLogLogText(logger, nullptr, 0, nullptr, QStringLiteral("fast"), 0, QString::number(fast++));
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    slow.join();
    done = true;
    for (std::thread& t : fasts)
        t.join();
    for (std::thread& t : spinners)
        t.join();
    KPLogShutdown(logger);

    const QList<QByteArray> records = recordsIn(path);
    ASSERT_EQ(records.size(), kSlow + fast.load() + 1);
    for (int i = 1; i < records.size(); ++i)
        ASSERT_EQ(logtest::number(records[i], KPLogRecord::KeySequence), i);
}

TEST(KPLogClient, WithoutAFileRecordsWaitInMemoryAndAreNotLostAtShutdown)
{
    ConsoleToFile console;
    const QString path = testsupport::makeTempDir() + QStringLiteral("/missing/x.log");
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kQuietOptions);
    KPLogSetBufferFilePath(logger, path);
    KPLogStartWorker(logger);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return console.text().contains(QStringLiteral("KPLogger Warning: failed opening buffer file for writing: ") + path);
    }));
    KPLogLogText(logger, nullptr, 0, nullptr, QString(), 0, QStringLiteral("kept in memory"));
    ASSERT_EQ(logger->queue().snapshot().size(), 1);

    KPLogShutdown(logger);
    EXPECT_TRUE(console.text().contains(QStringLiteral("| kept in memory\n")));
}

TEST(KPLogClient, ConsoleOptionPrintsAndDropsCaptureAndBlockEnds)
{
    ConsoleToFile console;
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kKPLogDefaultOptions | kKPLogOptionLogToConsole);
    EXPECT_EQ(KPLogOptionFlags(logger) & kKPLogOptionCaptureSystemConsole, 0u);
    KPLogLogBlockStart(logger, QStringLiteral("block"));
    KPLogLogBlockEnd(logger);
    KPLogLogText(logger, nullptr, 0, nullptr, QString(), 0, QStringLiteral("printed"));
    KPLogShutdown(logger);
    const QString text = console.text();
    EXPECT_TRUE(text.endsWith(QStringLiteral(" | printed\n"))) << qPrintable(text);
    EXPECT_EQ(text.count(QLatin1Char('\n')), 1);
}

TEST(KPLogClient, SharedLoggerIsMadeOnceAndReplaceable)
{
    Logger* original = KPLogSharedLogger();
    EXPECT_EQ(KPLogSharedLogger(), original);
    auto mine = std::make_unique<Logger>();
    KPLogSetSharedLogger(mine.get());
    EXPECT_EQ(KPLogStartWorker(nullptr), mine.get());
    KPLogLogDomainMessage(QStringLiteral("main"), 1, QStringLiteral("to the shared one"));
    EXPECT_EQ(logtest::text(mine->queue().snapshot().value(0), KPLogRecord::KeyMessage),
              QStringLiteral("to the shared one"));
    KPLogShutdown(nullptr); // takes it out of the shared slot and stops it; it stays ours
    EXPECT_FALSE(mine->workerRunning());

    // The next shared logger is a new one: its numbering starts again.
    Logger* next = KPLogSharedLogger();
    EXPECT_NE(next, mine.get());
    KPLogSetOptionFlags(next, kQuietOptions);
    KPLogLogMessage(QStringLiteral("fresh"));
    EXPECT_EQ(logtest::number(next->queue().snapshot().value(0), KPLogRecord::KeySequence), 1);
}

// Console capture replaces descriptors 1 and 2 of the whole process, so it runs in a child
// process: the test below starts this binary again with only this case enabled.
TEST(CaptureChild, DISABLED_CapturesAndRestoresTheConsole)
{
    const QString path = qEnvironmentVariable("FOLIVO_CAPTURE_CHILD_LOG");
    ASSERT_FALSE(path.isEmpty());
    Logger* capturing = KPLogCreate();
    KPLogSetOptionFlags(capturing, kKPLogOptionBufferLogsUntilConnection | kKPLogOptionCaptureSystemConsole);
    KPLogSetBufferFilePath(capturing, path);
    KPLogStartWorker(capturing);

    // A line printed by the client itself must reach the original stderr, not the capture.
    Logger* printing = KPLogCreate();
    KPLogSetOptionFlags(printing, kKPLogOptionLogToConsole);
    KPLogLogText(printing, nullptr, 0, nullptr, QString(), 0, QStringLiteral("printed once"));
    KPLogShutdown(printing);

    auto consoleTexts = [&] {
        QStringList texts;
        for (const QByteArray& r : logtest::splitRecords(testsupport::readFile(path)).value_or(QList<QByteArray>())) {
            if (logtest::text(r, KPLogRecord::KeyTag) == QStringLiteral("console"))
                texts.append(*logtest::text(r, KPLogRecord::KeyMessage));
        }
        return texts;
    };
    ASSERT_EQ(::write(STDERR_FILENO, "x\n", 2), 2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return consoleTexts().contains(QStringLiteral("x")); }));
    // Pipes keep order: once "y" arrived, a captured printed line would have come before it.
    ASSERT_EQ(::write(STDERR_FILENO, "y\n", 2), 2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return consoleTexts().contains(QStringLiteral("y")); }));
    KPLogShutdown(capturing);
    // Output after the last capturing logger left goes to the real streams again.
    ::write(STDERR_FILENO, "after capture\n", 14);
}

TEST(KPLogClient, CapturedStderrBecomesConsoleRecords)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/capture.log");
    testsupport::ChildProcess child({QStringLiteral("--gtest_filter=CaptureChild.DISABLED_CapturesAndRestoresTheConsole"),
                                     QStringLiteral("--gtest_also_run_disabled_tests")},
                                    {{QStringLiteral("FOLIVO_CAPTURE_CHILD_LOG"), path}});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString childErr = QString::fromUtf8(child.standardError());
    ASSERT_EQ(child.exitCode(), 0) << qPrintable(QString::fromUtf8(child.standardOutput()) + childErr);

    const QList<QByteArray> records = recordsIn(path);
    ASSERT_FALSE(records.isEmpty());
    EXPECT_EQ(logtest::recordType(records.first()), KPLogRecord::TypeClientInfo);
    QStringList console;
    for (const QByteArray& r : records) {
        if (logtest::text(r, KPLogRecord::KeyTag) != QStringLiteral("console"))
            continue;
        EXPECT_EQ(logtest::number(r, KPLogRecord::KeyLevel), 1);
        console.append(*logtest::text(r, KPLogRecord::KeyMessage));
    }
    EXPECT_EQ(console, (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_TRUE(childErr.contains(QStringLiteral(" | printed once\n"))) << qPrintable(childErr);
    EXPECT_TRUE(childErr.contains(QStringLiteral("after capture\n")));
}

TEST(KPLogClient, FullBufferFilesAreMovedAsideKeepingTheCapAndTheNewestRecords)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/t.log");
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kQuietOptions);
    KPLogSetBufferFilePath(logger, path);
    constexpr qint64 kCap = 4096;
    KPLogSetBufferFileCap(logger, kCap, 2);
    constexpr int kLines = 400;
    for (int i = 1; i <= kLines; ++i)
        KPLogLogText(logger, nullptr, 0, nullptr, QStringLiteral("TWServer"), 0,
                     QStringLiteral("refused a connection, %1 of a flood").arg(i));
    // One record alone larger than a file may be: it is named, not written.
    KPLogLogText(logger, nullptr, 0, nullptr, QStringLiteral("big"), 1, QString(3 * kCap, QLatin1Char('x')));
    KPLogShutdown(logger);

    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".3")));
    QList<int64_t> sequences;
    for (const QString& file : {path + QStringLiteral(".2"), path + QStringLiteral(".1"), path}) {
        ASSERT_TRUE(QFile::exists(file)) << qPrintable(file);
        EXPECT_LE(QFile(file).size(), kCap) << qPrintable(file);
        const QList<QByteArray> records = recordsIn(file);
        ASSERT_GE(records.size(), 2) << qPrintable(file);
        EXPECT_EQ(logtest::recordType(records[0]), KPLogRecord::TypeClientInfo) << qPrintable(file);
        for (qsizetype i = 1; i < records.size(); ++i)
            sequences.append(logtest::number(records[i], KPLogRecord::KeySequence).value_or(-1));
    }
    // The files hold the newest records, oldest file first, none missing between them.
    ASSERT_FALSE(sequences.isEmpty());
    EXPECT_EQ(sequences.last(), kLines + 1);
    for (qsizetype i = 1; i < sequences.size(); ++i)
        ASSERT_EQ(sequences[i], sequences[i - 1] + 1);
    const QByteArray last = recordsIn(path).last();
    EXPECT_EQ(logtest::text(last, KPLogRecord::KeyTag), QStringLiteral("big"));
    EXPECT_EQ(logtest::number(last, KPLogRecord::KeyLevel), 1);
    EXPECT_TRUE(logtest::text(last, KPLogRecord::KeyMessage)->contains(QStringLiteral("left out")));
}

// Two threads repeat a line each under its own key, between lines of their own: each key's
// first line is written, and its repeats become one line with their count when the logger
// stops, in the sequence order of everything else.
TEST(KPLogClient, RepeatedLinesOfAKeyBecomeOneLineWithTheirCount)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/t.log");
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kQuietOptions);
    KPLogSetBufferFilePath(logger, path);
    KPLogSetRepeatInterval(logger, std::chrono::hours(1));
    constexpr int kRepeats = 1000;
    constexpr int kPlainEvery = 100;
    auto work = [logger](const QString& address) {
        for (int i = 0; i < kRepeats; ++i) {
            KPLogLogRepeatedMessage(logger, QStringLiteral("refused ") + address, QStringLiteral("TWServer"), 0,
                                    QStringLiteral("refused a connection from %1 (%2)").arg(address).arg(i));
            if (i % kPlainEvery == 0)
                KPLogLogText(logger, nullptr, 0, nullptr, address, 0, QStringLiteral("plain"));
        }
    };
    std::thread a(work, QStringLiteral("10.0.0.1"));
    std::thread b(work, QStringLiteral("10.0.0.2"));
    a.join();
    b.join();
    KPLogShutdown(logger);

    const QList<QByteArray> records = recordsIn(path);
    ASSERT_EQ(records.size(), 1 + 2 * (1 + kRepeats / kPlainEvery + 1));
    QStringList repeated;
    for (int i = 1; i < records.size(); ++i) {
        ASSERT_EQ(logtest::number(records[i], KPLogRecord::KeySequence), i);
        if (logtest::text(records[i], KPLogRecord::KeyTag) == QStringLiteral("TWServer"))
            repeated.append(*logtest::text(records[i], KPLogRecord::KeyMessage));
    }
    repeated.sort();
    EXPECT_EQ(repeated, (QStringList{
                            QStringLiteral("refused a connection from 10.0.0.1 (0)"),
                            QStringLiteral("refused a connection from 10.0.0.1 (999) (999 more like this within 3600 s)"),
                            QStringLiteral("refused a connection from 10.0.0.2 (0)"),
                            QStringLiteral("refused a connection from 10.0.0.2 (999) (999 more like this within 3600 s)"),
                        }));
}

TEST(KPLogClient, ACountIsWrittenWhenItsIntervalEnds)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/t.log");
    Logger* logger = KPLogCreate();
    KPLogSetOptionFlags(logger, kQuietOptions);
    KPLogSetBufferFilePath(logger, path);
    // Long while the lines come, so none of them can fall into a later interval.
    KPLogSetRepeatInterval(logger, std::chrono::hours(1));
    for (int i = 0; i < 3; ++i)
        KPLogLogRepeatedMessage(logger, QStringLiteral("time-out 10.0.0.1"), QStringLiteral("TWServer"), 0,
                                QStringLiteral("time out read"));
    KPLogSetRepeatInterval(logger, std::chrono::milliseconds(50));
    const QString summary = QStringLiteral("time out read (2 more like this within 0.05 s)");
    ASSERT_TRUE(testsupport::spinUntil([&] {
        const auto records = logtest::splitRecords(testsupport::readFile(path)).value_or(QList<QByteArray>());
        return !records.isEmpty() && logtest::text(records.last(), KPLogRecord::KeyMessage) == summary;
    }));
    KPLogShutdown(logger);
    const QList<QByteArray> records = recordsIn(path);
    ASSERT_EQ(records.size(), 3); // client information, the first line, the count
    EXPECT_EQ(logtest::number(records[2], KPLogRecord::KeySequence), 2);
}

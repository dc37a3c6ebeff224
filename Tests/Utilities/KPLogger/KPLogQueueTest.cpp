#include "LogTestHelpers.h"
#include "Utilities/KPLogger/KPLogQueue.h"
#include "Utilities/KPLogger/KPLogRecord.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

QByteArray rec(int32_t seq, qsizetype padding = 0)
{
    KPLogRecord::Stamp s;
    s.thread = QStringLiteral("t");
    return KPLogRecord::log(s, seq, {}, QString(), 0, QString(padding, QLatin1Char('x')));
}

QList<int32_t> sequences(const QList<QByteArray>& records)
{
    QList<int32_t> out;
    for (const QByteArray& r : records)
        out.append(KPLogRecord::sequenceOf(r));
    return out;
}

} // namespace

TEST(KPLogQueue, InsertsBySequenceWhateverTheArrivalOrder)
{
    KPLogQueue q;
    for (int32_t s : {3, 1, 4, 2, 2, 6, 5})
        q.push(rec(s));
    EXPECT_EQ(sequences(q.snapshot()), (QList<int32_t>{1, 2, 2, 3, 4, 5, 6}));

    // The client information (no sequence) goes in front; a record without number counts as 0.
    q.pushFront(KPLogRecord::clientInfo({}, QStringLiteral("n"), QString(), QString(), QString(), QString()));
    q.push(rec(0));
    EXPECT_EQ(sequences(q.snapshot()), (QList<int32_t>{0, 0, 1, 2, 2, 3, 4, 5, 6}));
}

TEST(KPLogQueue, NothingGoesInFrontOfAPartlySentRecord)
{
    KPLogQueue q;
    q.push(rec(5));
    q.setFirstPartlySent(true);
    q.push(rec(2));
    q.pushFront(rec(0));
    EXPECT_EQ(sequences(q.snapshot()), (QList<int32_t>{5, 0, 2}));
}

TEST(KPLogQueue, TwoThreadsPushingAtOnceLeaveItInOrder)
{
    KPLogQueue q;
    std::atomic<int32_t> counter{0};
    constexpr int kPerThread = 2000;
    auto work = [&] {
        for (int i = 0; i < kPerThread; ++i)
            q.push(rec(++counter));
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    const QList<int32_t> seqs = sequences(q.snapshot());
    ASSERT_EQ(seqs.size(), 2 * kPerThread);
    for (int i = 0; i < seqs.size(); ++i)
        ASSERT_EQ(seqs[i], i + 1);
}

TEST(KPLogQueue, UndeliveredRecordsAreBoundedDroppingTheOldest)
{
    KPLogQueue q;
    const qsizetype recordSize = rec(1, 10000).size();
    const int count = int(KPLogQueue::kUndeliveredLimitBytes / recordSize) + 50;
    for (int i = 1; i <= count; ++i)
        q.push(rec(i, 10000));
    EXPECT_LE(q.byteSize(), KPLogQueue::kUndeliveredLimitBytes);
    EXPECT_GE(q.droppedCount(), 50u);
    const QList<int32_t> seqs = sequences(q.snapshot());
    EXPECT_EQ(seqs.last(), count);
    EXPECT_EQ(seqs.first(), count - seqs.size() + 1);

    // While something takes the records nothing is dropped.
    KPLogQueue delivering;
    delivering.setDelivering(true);
    for (int i = 1; i <= count; ++i)
        delivering.push(rec(i, 10000));
    EXPECT_EQ(delivering.droppedCount(), 0u);
    EXPECT_EQ(delivering.snapshot().size(), count);
}

TEST(KPLogQueue, TakenRecordsCountUntilGivenBackAndKeepTheirPlace)
{
    KPLogQueue q;
    q.push(rec(1));
    q.push(rec(2));
    q.push(rec(3));
    QList<QByteArray> taken = q.take();
    EXPECT_FALSE(q.isEmpty()); // being written is not yet written
    q.push(rec(4));
    // Only the first record made it; the rest return ahead of the newer one.
    q.giveBack(taken.mid(1));
    EXPECT_EQ(sequences(q.snapshot()), (QList<int32_t>{2, 3, 4}));
    q.giveBack(q.take().mid(3));
    EXPECT_TRUE(q.isEmpty());
    q.waitForEmptied(std::chrono::milliseconds(0)); // empty: answers at once
}

TEST(KPLogQueue, TakingStopsAtAGapUntilTheMissingRecordArrives)
{
    KPLogQueue q;
    q.push(rec(1));
    q.push(rec(3));
    EXPECT_EQ(sequences(q.take()), (QList<int32_t>{1}));
    q.giveBack({});
    EXPECT_EQ(sequences(q.take()), QList<int32_t>());
    q.giveBack({});
    q.push(rec(2));
    q.push(rec(5));
    EXPECT_EQ(sequences(q.take()), (QList<int32_t>{2, 3}));
    q.giveBack({});
    EXPECT_EQ(sequences(q.take(true)), (QList<int32_t>{5}));
    q.giveBack({});
    EXPECT_TRUE(q.isEmpty());
}

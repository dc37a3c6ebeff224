// Room promised to writers at the same time: granted only while the free space, less what the
// others still hold, keeps the margin; given back as written and when a writer ends.
#include "Platform/Foundation/FreeSpaceLedger.h"

#include "Support/TestSupport.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using platform::FreeSpaceLedger;

namespace {

constexpr qint64 kMiB = 1024 * 1024;

class FreeSpaceLedgerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreeSpaceLedger::shared().setFreeBytesSource([this](const QString&) { return free.load(); });
    }
    void TearDown() override { FreeSpaceLedger::shared().setFreeBytesSource({}); }

    std::atomic<qint64> free{10 * kMiB};
    QString folder = testsupport::makeTempDir(QStringLiteral("ledger"));
};

TEST_F(FreeSpaceLedgerTest, WritersTogetherNeverEatIntoTheMargin)
{
    FreeSpaceLedger& ledger = FreeSpaceLedger::shared();
    auto first = ledger.reserve(folder, 4 * kMiB, 2 * kMiB);
    ASSERT_TRUE(first);
    // Each would fit alone; together they would leave less than the margin.
    EXPECT_FALSE(ledger.reserve(folder, 5 * kMiB, 2 * kMiB));
    auto second = ledger.reserve(folder, 4 * kMiB, 2 * kMiB);
    ASSERT_TRUE(second);
    EXPECT_FALSE(ledger.reserve(folder, 1, 2 * kMiB));
    EXPECT_EQ(ledger.reservedOn(folder), 8 * kMiB);

    // What is written shows in the disk's own figure and leaves the reservation.
    first.wrote(3 * kMiB);
    free -= 3 * kMiB;
    EXPECT_EQ(first.held(), 1 * kMiB);
    EXPECT_FALSE(ledger.reserve(folder, 1, 2 * kMiB));
    // A writer that ends gives back what it did not write; one moved from keeps nothing.
    FreeSpaceLedger::Reservation moved = std::move(second);
    EXPECT_FALSE(second);
    moved.release();
    EXPECT_EQ(ledger.reservedOn(folder), 1 * kMiB);
    EXPECT_TRUE(ledger.reserve(folder, 4 * kMiB, 2 * kMiB));
    // That one went out of scope at once.
    EXPECT_EQ(ledger.reservedOn(folder), 1 * kMiB);

    // A figure that cannot be told grants nothing, nor does a path that is not there.
    free = -1;
    EXPECT_FALSE(ledger.reserve(folder, 1, 0));
    free = 100 * kMiB;
    EXPECT_FALSE(ledger.reserve(folder + QStringLiteral("/missing/deeper"), 1, 0));
    // Figures near the top of the range do not wrap around.
    EXPECT_FALSE(ledger.reserve(folder, std::numeric_limits<qint64>::max(), 2 * kMiB));
    EXPECT_FALSE(ledger.reserve(folder, 1, std::numeric_limits<qint64>::max()));
}

TEST_F(FreeSpaceLedgerTest, AWriterThatWritesPastItsReservationGivesBackOnlyWhatItHeld)
{
    FreeSpaceLedger& ledger = FreeSpaceLedger::shared();
    auto over = ledger.reserve(folder, 2 * kMiB, 0);
    auto other = ledger.reserve(folder, 3 * kMiB, 0);
    ASSERT_TRUE(over);
    ASSERT_TRUE(other);
    // Twice what it reserved: the disk shows all of it, but only its own room comes back.
    over.wrote(4 * kMiB);
    free -= 4 * kMiB;
    EXPECT_EQ(over.held(), 0);
    EXPECT_EQ(other.held(), 3 * kMiB);
    EXPECT_EQ(ledger.reservedOn(folder), 3 * kMiB);
    // 6 MiB free, of which the other writer still holds 3.
    EXPECT_FALSE(ledger.reserve(folder, 4 * kMiB, 0)) << "the other writer's room was given away";
    EXPECT_TRUE(ledger.reserve(folder, 3 * kMiB, 0));
    over.release();
    EXPECT_EQ(ledger.reservedOn(folder), 3 * kMiB);
    other.release();
    EXPECT_EQ(ledger.reservedOn(folder), 0);
}

// A hold made larger keeps the margin as a new reservation of the difference would; one made
// smaller gives the rest back.
TEST_F(FreeSpaceLedgerTest, AHoldGrowsOnlyWithinTheMarginAndShrinksFreely)
{
    FreeSpaceLedger& ledger = FreeSpaceLedger::shared();
    auto folderRoom = ledger.reserve(folder, 2 * kMiB, 2 * kMiB);
    auto other = ledger.reserve(folder, 3 * kMiB, 2 * kMiB);
    ASSERT_TRUE(folderRoom && other);
    EXPECT_FALSE(folderRoom.resize(6 * kMiB, 2 * kMiB)); // 9 of 10 held, 1 left: under the margin
    EXPECT_EQ(folderRoom.held(), 2 * kMiB);
    EXPECT_EQ(ledger.reservedOn(folder), 5 * kMiB);
    EXPECT_TRUE(folderRoom.resize(5 * kMiB, 2 * kMiB)); // exactly the margin left
    EXPECT_EQ(ledger.reservedOn(folder), 8 * kMiB);
    EXPECT_TRUE(folderRoom.resize(1 * kMiB, 2 * kMiB));
    EXPECT_EQ(ledger.reservedOn(folder), 4 * kMiB);
    EXPECT_FALSE(folderRoom.resize(std::numeric_limits<qint64>::max(), 2 * kMiB));
    EXPECT_FALSE(FreeSpaceLedger::Reservation().resize(1, 0));
    folderRoom.release();
    other.release();
    EXPECT_EQ(ledger.reservedOn(folder), 0);
}

TEST_F(FreeSpaceLedgerTest, ConcurrentReservationsAreGrantedOnlyWhatThereIs)
{
    FreeSpaceLedger& ledger = FreeSpaceLedger::shared();
    std::atomic<int> granted{0};
    std::vector<FreeSpaceLedger::Reservation> held(16);
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&, i] {
            held[std::size_t(i)] = ledger.reserve(folder, 1 * kMiB, 2 * kMiB);
            if (held[std::size_t(i)])
                ++granted;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(granted.load(), 8);
    held.clear();
    EXPECT_EQ(ledger.reservedOn(folder), 0);
}

} // namespace

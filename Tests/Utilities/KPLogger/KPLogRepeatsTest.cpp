#include "Utilities/KPLogger/KPLogRepeats.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

KPLogRepeats::Line line(const QString& message)
{
    return KPLogRepeats::Line{QStringLiteral("TWServer"), 0, message, QStringLiteral("Thread 3")};
}

const KPLogRepeats::Clock::time_point t0{std::chrono::hours(1)};

} // namespace

TEST(KPLogRepeats, RepeatsOfAKeyWithinAnIntervalBecomeOneLineWithTheirCountKeyByKey)
{
    KPLogRepeats repeats;
    EXPECT_TRUE(repeats.note(QStringLiteral("refused a"), line(QStringLiteral("refused 1")), t0).write);
    EXPECT_TRUE(repeats.note(QStringLiteral("refused b"), line(QStringLiteral("refused b")), t0 + 1s).write);
    for (int i = 2; i <= 4; ++i) {
        const auto d = repeats.note(QStringLiteral("refused a"), line(QStringLiteral("refused %1 %2").arg(i)), t0 + 2s);
        EXPECT_FALSE(d.write);
        EXPECT_FALSE(d.before);
    }
    EXPECT_FALSE(repeats.note(QStringLiteral("refused b"), line(QStringLiteral("refused b")), t0 + 3s).write);
    EXPECT_TRUE(repeats.takeDue(t0 + 9s).isEmpty());
    EXPECT_EQ(repeats.nextDue(), t0 + 10s);

    const QList<KPLogRepeats::Summary> due = repeats.takeDue(t0 + 11s);
    ASSERT_EQ(due.size(), 2);
    EXPECT_EQ(due[0].count, 3);
    EXPECT_EQ(due[0].last.message, QStringLiteral("refused 4 %2"));
    EXPECT_EQ(due[0].last.thread, (std::variant<QString, int64_t>(QStringLiteral("Thread 3"))));
    // The message's own "%2" is not taken for a place of the count.
    EXPECT_EQ(due[0].text(), QStringLiteral("refused 4 %2 (3 more like this within 10 s)"));
    EXPECT_EQ(due[1].count, 1);
    EXPECT_EQ(due[1].last.message, QStringLiteral("refused b"));

    // A key still repeating goes on being counted, one line per interval …
    EXPECT_FALSE(repeats.note(QStringLiteral("refused a"), line(QStringLiteral("refused 5")), t0 + 12s).write);
    const QList<KPLogRepeats::Summary> next = repeats.takeDue(t0 + 21s);
    ASSERT_EQ(next.size(), 1);
    EXPECT_EQ(next[0].last.message, QStringLiteral("refused 5"));
    EXPECT_EQ(next[0].count, 1);
    // … and one that fell quiet for a whole interval is written again at its next line.
    EXPECT_TRUE(repeats.takeDue(t0 + 40s).isEmpty());
    EXPECT_FALSE(repeats.nextDue());
    EXPECT_TRUE(repeats.note(QStringLiteral("refused a"), line(QStringLiteral("refused 6")), t0 + 41s).write);
}

TEST(KPLogRepeats, TheKeysNextLineAfterItsIntervalBringsTheCountFirst)
{
    KPLogRepeats repeats;
    repeats.note(QStringLiteral("k"), line(QStringLiteral("one")), t0);
    repeats.note(QStringLiteral("k"), line(QStringLiteral("two")), t0 + 1s);
    // No sweep came between: the count goes before the line, and only once.
    const auto d = repeats.note(QStringLiteral("k"), line(QStringLiteral("three")), t0 + 30s);
    EXPECT_TRUE(d.write);
    ASSERT_TRUE(d.before);
    EXPECT_EQ(d.before->count, 1);
    EXPECT_EQ(d.before->last.message, QStringLiteral("two"));
    EXPECT_TRUE(repeats.takeDue(t0 + 45s).isEmpty());
    EXPECT_TRUE(repeats.takeAll().isEmpty());
}

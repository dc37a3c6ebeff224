#include "LogTestHelpers.h"
#include "Utilities/KPLogger/KPLogRecord.h"

#include <gtest/gtest.h>

namespace {

KPLogRecord::Stamp fixedStamp(const QString& thread = QStringLiteral("T"))
{
    KPLogRecord::Stamp s;
    s.seconds = 0x01020304;
    s.micros = 5;
    s.thread = thread;
    return s;
}

QList<uint8_t> keysOf(const QByteArray& record)
{
    QList<uint8_t> keys;
    const QList<KPLogRecord::Part> parts = KPLogRecord::parse(record).value();
    for (const auto& p : parts)
        keys.append(p.key);
    return keys;
}

} // namespace

TEST(KPLogRecord, MinimalLogRecordHasExactBytes)
{
    const QByteArray r = KPLogRecord::log(fixedStamp(), 1, {}, QString(), 0, QStringLiteral("hi"));
    const QByteArray expected = QByteArray::fromHex(
        "00000031" "0006"                 // 49 bytes follow, 6 parts
        "0104" "0000000001020304"         // seconds
        "0304" "0000000000000005"         // microseconds
        "0400" "00000001" "54"            // thread "T"
        "0003" "00000000"                 // type: log
        "0a03" "00000001"                 // sequence 1
        "0700" "00000002" "6869");        // message "hi"
    EXPECT_EQ(r.toHex(), expected.toHex());
}

TEST(KPLogRecord, EmptyAndNullMessagesStillHaveABody)
{
    for (const QString& message : {QString(), QStringLiteral("")}) {
        const QByteArray r = KPLogRecord::log(fixedStamp(), 1, {}, QString(), 0, message);
        const auto parts = KPLogRecord::parse(r).value();
        ASSERT_EQ(parts.last().key, KPLogRecord::KeyMessage);
        EXPECT_EQ(parts.last().type, KPLogRecord::PartString);
        EXPECT_TRUE(parts.last().bytes.isEmpty());
        EXPECT_TRUE(r.endsWith(QByteArray::fromHex("070000000000")));
    }
}

TEST(KPLogRecord, SourceNamesAreLatin1AndOptional)
{
    const char file[] = {'c', 'a', 'f', char(0xE9), '.', 'c', 0};
    const QByteArray r = KPLogRecord::log(fixedStamp(), 7, {file, 12, "f\xFF"},
                                          QStringLiteral("DataBase"), 1, QStringLiteral("m"));
    // Key 11, string, 7 bytes: "caf", C3 A9, ".c".
    EXPECT_TRUE(r.contains(QByteArray::fromHex("0b00" "00000007" "636166" "c3a9" "2e63")))
        << r.toHex().constData();
    EXPECT_EQ(logtest::text(r, KPLogRecord::KeyFunctionName), QStringLiteral("f\u00FF"));
    EXPECT_EQ(keysOf(r), (QList<uint8_t>{1, 3, 4, 0, 10, 5, 6, 11, 12, 13, 7}));

    // Null and empty names, line 0 and level 0 add nothing.
    const QByteArray bare = KPLogRecord::log(fixedStamp(), 7, {"", 0, nullptr}, QString(), 0,
                                             QStringLiteral("m"));
    EXPECT_EQ(keysOf(bare), (QList<uint8_t>{1, 3, 4, 0, 10, 7}));
}

TEST(KPLogRecord, TextThatUtf8CannotCarryBecomesQuestionMarks)
{
    const QString broken = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b\u00E9");
    const QByteArray r = KPLogRecord::log(fixedStamp(), 1, {}, QString(), 0, broken);
    EXPECT_EQ(logtest::text(r, KPLogRecord::KeyMessage), QStringLiteral("a?b\u00E9"));
}

TEST(KPLogRecord, RecordKindsKeepTheirPartOrder)
{
    const auto stamp = fixedStamp();
    const QByteArray image = KPLogRecord::data(stamp, 2, {}, QStringLiteral("d"), 1,
                                               KPLogRecord::Body::Image, QByteArray("PNG"), 4, 3);
    EXPECT_EQ(keysOf(image), (QList<uint8_t>{1, 3, 4, 0, 10, 5, 6, 8, 9, 7}));
    EXPECT_EQ(KPLogRecord::parse(image)->last().type, KPLogRecord::PartImage);
    // One missing dimension drops both.
    EXPECT_EQ(keysOf(KPLogRecord::data(stamp, 2, {}, QString(), 0, KPLogRecord::Body::Image,
                                       QByteArray("PNG"), 4, 0)),
              (QList<uint8_t>{1, 3, 4, 0, 10, 7}));

    // A null body adds no part; an empty one a part of length 0.
    EXPECT_EQ(keysOf(KPLogRecord::data(stamp, 2, {}, QString(), 0, KPLogRecord::Body::Binary,
                                       QByteArray())),
              (QList<uint8_t>{1, 3, 4, 0, 10}));
    const QByteArray empty = KPLogRecord::data(stamp, 2, {}, QString(), 0,
                                               KPLogRecord::Body::Binary, QByteArray(""));
    EXPECT_EQ(KPLogRecord::parse(empty)->last().type, KPLogRecord::PartBinary);

    EXPECT_EQ(keysOf(KPLogRecord::marker(stamp, 9, QStringLiteral("here"))),
              (QList<uint8_t>{1, 3, 4, 0, 7, 10}));
    EXPECT_EQ(keysOf(KPLogRecord::blockStart(stamp, 3, QString())), (QList<uint8_t>{1, 3, 4, 0, 10}));
    EXPECT_EQ(keysOf(KPLogRecord::blockEnd(stamp, 4)), (QList<uint8_t>{1, 3, 4, 0, 10}));

    const QByteArray info = KPLogRecord::clientInfo(stamp, QStringLiteral("Folivo 2"), QString(),
                                                    QStringLiteral("Linux"),
                                                    QStringLiteral("6.1.0"), QStringLiteral("PC"));
    EXPECT_EQ(keysOf(info), (QList<uint8_t>{1, 3, 0, 20, 23, 22, 24}));
    EXPECT_EQ(KPLogRecord::sequenceOf(info), 0);

    // Only whole seconds when the clock gave no more; a nameless thread is its handle.
    KPLogRecord::Stamp coarse = stamp;
    coarse.hasMicros = false;
    coarse.thread = int64_t(0x7f00deadbeef);
    const QByteArray c = KPLogRecord::blockEnd(coarse, 1);
    EXPECT_EQ(keysOf(c), (QList<uint8_t>{1, 4, 0, 10}));
    EXPECT_EQ(logtest::number(c, KPLogRecord::KeyThreadId), int64_t(0x7f00deadbeef));
}

TEST(KPLogRecord, ParseRejectsDamagedRecords)
{
    const QByteArray good = KPLogRecord::log(fixedStamp(), 1, {}, QString(), 0, QStringLiteral("hi"));
    ASSERT_TRUE(KPLogRecord::parse(good));
    EXPECT_FALSE(KPLogRecord::parse(good.left(good.size() - 1)));
    EXPECT_FALSE(KPLogRecord::parse(good + 'x'));
    EXPECT_FALSE(KPLogRecord::parse(QByteArray::fromHex("0000")));
    // A string whose length points past the end.
    EXPECT_FALSE(KPLogRecord::parse(QByteArray::fromHex("0000000a0001" "0700" "7fffffff" "00")));
    // Parts claimed but missing.
    EXPECT_FALSE(KPLogRecord::parse(QByteArray::fromHex("000000020003")));
    EXPECT_EQ(KPLogRecord::sequenceOf(QByteArray("junk")), 0);
}

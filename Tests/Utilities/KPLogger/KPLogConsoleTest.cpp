#include "LogTestHelpers.h"
#include "Utilities/KPLogger/KPLogConsole.h"
#include "Utilities/KPLogger/KPLogRecord.h"

#include <gtest/gtest.h>

namespace {

KPLogRecord::Stamp stampAt(int64_t seconds, int64_t micros, std::variant<QString, int64_t> thread)
{
    KPLogRecord::Stamp s;
    s.seconds = seconds;
    s.micros = micros;
    s.thread = thread;
    return s;
}

} // namespace

TEST(KPLogConsole, LogLineHasUtcTimePaddedThreadAndTrimmedText)
{
    // 01:02:03 UTC on the first day, 45.678 ms.
    const auto stamp = stampAt(3723, 45678, QStringLiteral("Main thread"));
    const QByteArray r = KPLogRecord::log(stamp, 1, {"f.cpp", 3, "fn"}, QStringLiteral("DataBase"),
                                          1, QStringLiteral(" \t hello\r\n"));
    EXPECT_EQ(KPLogConsole::formatLine(r), QStringLiteral("01:02:03.0045      Main thread | hello"));

    // Names of 16 characters and more are not padded; numeric threads print as handles.
    const auto longName = stampAt(0, 0, QStringLiteral("a-very-long-thread-name"));
    EXPECT_EQ(KPLogConsole::formatLine(KPLogRecord::log(longName, 1, {}, QString(), 0, QStringLiteral("m"))),
              QStringLiteral("00:00:00.0000 a-very-long-thread-name | m"));
    const auto handle = stampAt(0, 0, int64_t(0xabc));
    EXPECT_EQ(KPLogConsole::formatLine(KPLogRecord::marker(handle, 1, QStringLiteral("mark"))),
              QStringLiteral("00:00:00.0000     thread 0xabc | mark"));
}

TEST(KPLogConsole, OnlyLogAndMarkerRecordsPrint)
{
    const auto stamp = stampAt(0, 0, QStringLiteral("t"));
    EXPECT_TRUE(KPLogConsole::formatLine(KPLogRecord::blockStart(stamp, 1, QStringLiteral("b"))).isEmpty());
    EXPECT_TRUE(KPLogConsole::formatLine(KPLogRecord::blockEnd(stamp, 1)).isEmpty());
    EXPECT_TRUE(KPLogConsole::formatLine(
                    KPLogRecord::clientInfo(stamp, QStringLiteral("n"), QString(), QString(), QString(), QString()))
                    .isEmpty());
    EXPECT_TRUE(KPLogConsole::formatLine(QByteArray("damaged")).isEmpty());
    EXPECT_EQ(KPLogConsole::formatLine(QByteArray()), QStringLiteral("KPLogLogToConsole: data is NULL"));
}

TEST(KPLogConsole, BodiesOfDataAndImagesAreDescribed)
{
    // A second line starts after 16 bytes; control bytes print as blanks in the text column.
    const QByteArray seventeen = QByteArray("0123456789ABCDE\n") + char(0x7F);
    const QString dump = KPLogConsole::hexDump(seventeen);
    EXPECT_TRUE(dump.startsWith(QStringLiteral("Raw data, 17 bytes:\n"
                                               " 0000: 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 0a '0123456789ABCDE '\n"
                                               " 0010: 7f ")))
        << qPrintable(dump);
    EXPECT_TRUE(KPLogConsole::hexDump(QByteArray("x")).startsWith(QStringLiteral("Raw data, 1 byte:\n")));

    const auto stamp = stampAt(0, 0, QStringLiteral("t"));
    const QByteArray image = KPLogRecord::data(stamp, 1, {}, QString(), 0, KPLogRecord::Body::Image,
                                               QByteArray("PNG"), 640, 480);
    EXPECT_TRUE(KPLogConsole::formatLine(image).endsWith(QStringLiteral(" | <image width=640 height=480>")));
}

#include "Platform/HTTPStream/HTTPResponseParser.h"

#include <gtest/gtest.h>

using platform::HTTPResponseParser;

namespace {

// Fed one byte at a time, so every state must survive a split anywhere.
HTTPResponseParser feedBytewise(const QByteArray& bytes, bool head = false)
{
    HTTPResponseParser p(head);
    for (char c : bytes)
        if (!p.feed(&c, 1))
            break;
    return p;
}

} // namespace

TEST(HTTPResponseParserTest, FramesBodiesBySplitInput)
{
    auto length = feedBytewise("HTTP/1.1 200 OK\r\nContent-Length: 0123\r\nX: a\r\n b\r\n\r\n" + QByteArray(123, 'x') + "tail");
    ASSERT_TRUE(length.isComplete()) << length.error().toStdString();
    EXPECT_EQ(length.contentLength(), 123);
    EXPECT_EQ(length.takeBody(1000), QByteArray(123, 'x')) << "bytes after the body are not the body";
    EXPECT_EQ(length.headers().value(QStringLiteral("x")), QStringLiteral("a b"));

    auto chunked = feedBytewise("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                "Content-Length: 3\r\n\r\n5;ext=1\r\nhello\r\n6\r\n world\r\n0\r\nTrailer: t\r\n\r\n");
    ASSERT_TRUE(chunked.isComplete()) << chunked.error().toStdString();
    EXPECT_EQ(chunked.statusCode(), 200) << "the interim response is skipped";
    EXPECT_EQ(chunked.takeBody(100), QByteArray("hello world"));

    HTTPResponseParser untilClose;
    untilClose.feed("HTTP/1.0 200 OK\r\n\r\nall of it");
    EXPECT_FALSE(untilClose.isComplete());
    untilClose.finishInput();
    EXPECT_TRUE(untilClose.isComplete());
    EXPECT_EQ(untilClose.httpVersion(), QStringLiteral("1.0"));
    EXPECT_EQ(untilClose.takeBody(100), QByteArray("all of it"));

    for (const QByteArray& bodiless : {QByteArray("HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n"),
                                       QByteArray("HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n")}) {
        HTTPResponseParser p;
        p.feed(bodiless);
        EXPECT_TRUE(p.isComplete()) << bodiless.constData();
    }
    HTTPResponseParser head(true);
    head.feed("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");
    EXPECT_TRUE(head.isComplete());
}

TEST(HTTPResponseParserTest, RefusesWhatExceedsItsBounds)
{
    QByteArray hugeHeaders = "HTTP/1.1 200 OK\r\n";
    while (hugeHeaders.size() < 1024 * 1024)
        hugeHeaders += "X-Filler: " + QByteArray(1000, 'f') + "\r\n";
    HTTPResponseParser huge;
    EXPECT_FALSE(huge.feed(hugeHeaders));
    EXPECT_TRUE(huge.failed());

    QByteArray many = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 101; ++i)
        many += "X" + QByteArray::number(i) + ": v\r\n";
    HTTPResponseParser tooMany;
    EXPECT_FALSE(tooMany.feed(many + "\r\n"));

    HTTPResponseParser oneLongLine;
    EXPECT_FALSE(oneLongLine.feed("HTTP/1.1 200 OK\r\nX: " + QByteArray(70000, 'a')));

    for (const char* bad : {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
                            "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
                            "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
                            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n",
                            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhelloXX",
                            "garbage garbage\r\n\r\n", "HTTP/2 200 OK\r\n\r\n", "HTTP/1.1 2x0 OK\r\n\r\n",
                            "HTTP/1.1 200 OK\r\nBad Name: v\r\n\r\n"}) {
        HTTPResponseParser p;
        EXPECT_FALSE(p.feed(QByteArray(bad))) << bad;
        EXPECT_FALSE(p.error().isEmpty()) << bad;
    }
    HTTPResponseParser cut;
    cut.feed("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
    cut.finishInput();
    EXPECT_TRUE(cut.failed()) << "a body cut short is no complete response";

    HTTPResponseParser nothing;
    nothing.finishInput();
    EXPECT_TRUE(nothing.failed());
    EXPECT_TRUE(nothing.sawNothing());
}

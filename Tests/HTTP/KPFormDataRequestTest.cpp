#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPFormDataRequest.h"

#include <gtest/gtest.h>

using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

namespace {

struct EchoServer {
    HTTPTestServer server{[](const HTTPTestRequest&) { return HTTPTestResponse::make(200, "ok"); }};
    HTTPTestRequest post(const std::shared_ptr<KPFormDataRequest>& request)
    {
        request->setURL(server.url("/form"));
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << (request->error() ? request->error()->message.toStdString() : "");
        return server.requests().back();
    }
};

QByteArray boundaryOf(const HTTPTestRequest& sent)
{
    const QByteArray type = sent.header("Content-Type");
    return type.mid(type.indexOf("boundary=") + 9);
}

} // namespace

TEST(KPFormDataRequestTest, URLEncodedBodiesAreExact)
{
    EchoServer echo;
    auto form = KPFormDataRequest::requestWithURL({});
    form->addPostValue(QStringLiteral("1"), QStringLiteral("a"));
    form->addPostValue(QStringLiteral("2"), QStringLiteral("b"));
    form->addPostValue(QStringLiteral("ignored"), QString());
    auto sent = echo.post(form);
    EXPECT_EQ(sent.method, QByteArray("POST"));
    EXPECT_EQ(sent.body, QByteArray("a=1&b=2"));
    EXPECT_EQ(sent.header("Content-Type"), QByteArray("application/x-www-form-urlencoded; charset=UTF-8"));

    auto replaced = KPFormDataRequest::requestWithURL({});
    replaced->addPostValue(QStringLiteral("1"), QStringLiteral("k"));
    replaced->addPostValue(QStringLiteral("x"), QStringLiteral("other"));
    replaced->addPostValue(QStringLiteral("2"), QStringLiteral("k"));
    replaced->addPostValue(QStringLiteral("3"), QStringLiteral("k"));
    replaced->setPostValue(QStringLiteral("a&b=c d~é%/"), QStringLiteral("k"));
    EXPECT_EQ(echo.post(replaced).body, QByteArray("other=x&k=a%26b%3Dc%20d%7E%C3%A9%25%2F"));

    auto latin = KPFormDataRequest::requestWithURL({});
    latin->setStringEncoding("ISO-8859-1");
    EXPECT_EQ(latin->encodeURL(QStringLiteral("é")), QStringLiteral("%E9"));
    EXPECT_EQ(latin->encodeURL(QStringLiteral("€")), QString()) << "text the encoding cannot hold becomes empty";
}

TEST(KPFormDataRequestTest, FilesMakeMultipartBodiesWithSafeHeaders)
{
    EchoServer echo;
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/notes.txt", "file contents");
    auto form = KPFormDataRequest::requestWithURL({});
    form->addPostValue(QStringLiteral("v"), QStringLiteral("na\"me\r\nX-Injected: 1"));
    form->addFile(dir + "/notes.txt", QStringLiteral("doc"));
    form->addData("raw", QStringLiteral("evil\".bin"), QString(), QStringLiteral("blob"));
    auto sent = echo.post(form);
    const QByteArray b = boundaryOf(sent);
    ASSERT_TRUE(b.startsWith("0xKhTmLbOuNdArY-"));
    EXPECT_EQ(sent.header("Content-Type"), "multipart/form-data; charset=UTF-8; boundary=" + b);
    const QByteArray expected = "--" + b + "\r\n"
        "Content-Disposition: form-data; name=\"na%22me%0D%0AX-Injected: 1\"\r\n\r\nv\r\n--" + b + "\r\n"
        "Content-Disposition: form-data; name=\"doc\"; filename=\"notes.txt\"\r\nContent-Type: text/plain\r\n\r\n"
        "file contents\r\n--" + b + "\r\n"
        "Content-Disposition: form-data; name=\"blob\"; filename=\"evil%22.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\nraw\r\n--" + b + "--\r\n";
    EXPECT_EQ(sent.body, expected);
}

TEST(KPFormDataRequestTest, MissingFilesFailOnceAtStart)
{
    EchoServer echo;
    auto form = KPFormDataRequest::requestWithURL(echo.server.url());
    form->addFile(QStringLiteral("/no/such/file"), QStringLiteral("f"));
    EXPECT_EQ(form->fileData().size(), 1u) << "the entry is kept";
    int failures = 0;
    form->setFailedBlock([&] { ++failures; });
    form->startAsynchronous();
    ASSERT_TRUE(testsupport::spinUntil([&] { return form->isFinishedRequest(); }));
    testsupport::spinUntil([&] { return failures > 0; }, 5000);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(form->error()->code, 6);
    EXPECT_EQ(form->error()->message, QStringLiteral("No file exists at /no/such/file"));
    EXPECT_EQ(echo.server.requestCount(), 0);

    // A file that goes away between adding and sending fails too, instead of posting nothing.
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/gone", "x");
    auto vanished = KPFormDataRequest::requestWithURL(echo.server.url());
    vanished->addFile(dir + "/gone", QStringLiteral("f"));
    QFile::remove(dir + "/gone");
    vanished->startSynchronous();
    ASSERT_TRUE(vanished->error());
    EXPECT_EQ(vanished->error()->code, 6);
}

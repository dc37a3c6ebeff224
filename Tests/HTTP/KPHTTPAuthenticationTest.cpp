#include "Platform/HTTPStream/HTTPAuthentication.h"
#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPHTTPRequest.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

namespace {

// A server that wants user "ann" with password "secret", by Basic or Digest.
class AuthServer {
public:
    explicit AuthServer(QByteArray challenge) : m_challenge(std::move(challenge)) {}

    HTTPTestResponse answer(const HTTPTestRequest& r)
    {
        const QByteArray auth = r.header("Authorization");
        if (auth == "Basic " + QByteArray("ann:secret").toBase64() || digestOK(r, auth))
            return HTTPTestResponse::make(200, "welcome");
        return HTTPTestResponse::make(401, "no", {{"WWW-Authenticate", m_challenge}});
    }

    bool digestOK(const HTTPTestRequest& r, const QByteArray& auth) const
    {
        if (!auth.startsWith("Digest "))
            return false;
        const auto parsed = platform::HTTPAuthentication::parseChallenges({QString::fromLatin1(auth)});
        if (parsed.isEmpty())
            return false;
        const auto& p = parsed.first().parameters;
        const bool sha = p.value("algorithm").startsWith("SHA-256");
        const auto h = [sha](const QByteArray& d) {
            return QCryptographicHash::hash(d, sha ? QCryptographicHash::Sha256 : QCryptographicHash::Md5).toHex();
        };
        const QByteArray ha1 = h("ann:" + p.value("realm").toUtf8() + ":secret");
        const QByteArray ha2 = h(r.method + ":" + p.value("uri").toUtf8());
        const QByteArray expected = h(ha1 + ":" + p.value("nonce").toUtf8() + ":" + p.value("nc").toUtf8() + ":"
                                      + p.value("cnonce").toUtf8() + ":auth:" + ha2);
        return p.value("username") == "ann" && p.value("uri").toUtf8() == r.target && p.value("response").toUtf8() == expected
               && p.value("opaque") == "op";
    }

    QByteArray m_challenge;
};

class KPHTTPAuthenticationTest : public ::testing::Test {
protected:
    void SetUp() override { KPHTTPRequest::clearSession(); }
    void TearDown() override { KPHTTPRequest::clearSession(); }
};

} // namespace

TEST_F(KPHTTPAuthenticationTest, BasicAnswersTheChallengeThenGoesFirst)
{
    AuthServer auth("Basic realm=\"files\"");
    HTTPTestServer server([&](const HTTPTestRequest& r) { return auth.answer(r); });
    auto first = KPHTTPRequest::requestWithURL(server.url("/doc"));
    first->setUsername(QStringLiteral("ann"));
    first->setPassword(QStringLiteral("secret"));
    first->startSynchronous();
    ASSERT_FALSE(first->error()) << first->error()->message.toStdString();
    EXPECT_EQ(first->responseString(), QStringLiteral("welcome"));
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[0].hasHeader("Authorization")) << "no credentials before a challenge asks";
    EXPECT_EQ(first->authenticationRealm(), QStringLiteral("files"));

    auto second = KPHTTPRequest::requestWithURL(server.url("/doc"));
    second->startSynchronous();
    EXPECT_EQ(second->responseStatusCode(), 200);
    EXPECT_EQ(server.requestCount(), 3) << "the session's credentials went with the first request";
    EXPECT_TRUE(server.requests().back().hasHeader("Authorization"));

    KPHTTPRequest::clearSession();
    auto third = KPHTTPRequest::requestWithURL(server.url("/doc"));
    third->startSynchronous();
    EXPECT_EQ(third->error()->code, 3) << "a synchronous request asks no one";
}

TEST_F(KPHTTPAuthenticationTest, DigestAnswersAndWrongPasswordsFail)
{
    AuthServer auth("Digest realm=\"vault\", qop=\"auth,auth-int\", nonce=\"n0nce\", opaque=\"op\", algorithm=MD5, "
                    "Basic realm=\"vault\"");
    HTTPTestServer server([&](const HTTPTestRequest& r) { return auth.answer(r); });
    auto request = KPHTTPRequest::requestWithURL(server.url("/v?x=1"));
    request->setUsername(QStringLiteral("ann"));
    request->setPassword(QStringLiteral("secret"));
    request->startSynchronous();
    ASSERT_FALSE(request->error()) << request->error()->message.toStdString();
    EXPECT_EQ(request->authenticationScheme(), QStringLiteral("Digest")) << "the stronger scheme is chosen";
    EXPECT_TRUE(server.requests().back().header("Authorization").startsWith("Digest "));

    auth.m_challenge = "Digest realm=\"vault\", qop=\"auth\", nonce=\"n2\", opaque=\"op\", algorithm=SHA-256";
    KPHTTPRequest::clearSession();
    auto sha = KPHTTPRequest::requestWithURL(server.url("/v"));
    sha->setUsername(QStringLiteral("ann"));
    sha->setPassword(QStringLiteral("secret"));
    sha->startSynchronous();
    EXPECT_FALSE(sha->error());

    const int before = server.requestCount();
    auto wrong = KPHTTPRequest::requestWithURL(server.url("/v"));
    wrong->setUseSessionPersistence(false);
    wrong->setUsername(QStringLiteral("ann"));
    wrong->setPassword(QStringLiteral("guess"));
    wrong->startSynchronous();
    ASSERT_TRUE(wrong->error());
    EXPECT_EQ(wrong->error()->code, 3);
    EXPECT_EQ(server.requestCount() - before, 2) << "refused once, then given up";
}

TEST_F(KPHTTPAuthenticationTest, ChallengesNothingCanAnswerEndTheRequest)
{
    QByteArray challenge = "NTLM";
    HTTPTestServer server([&](const HTTPTestRequest&) {
        return HTTPTestResponse::make(401, {}, {{"WWW-Authenticate", challenge}});
    });
    auto ntlm = KPHTTPRequest::requestWithURL(server.url());
    ntlm->setUsername(QStringLiteral("DOMAIN\\ann"));
    ntlm->setPassword(QStringLiteral("secret"));
    ntlm->startSynchronous();
    EXPECT_EQ(ntlm->error()->code, 7);
    EXPECT_EQ(ntlm->error()->message, QStringLiteral("Failed to get authentication object from response headers"));

    challenge = "Negotiate";
    auto negotiate = KPHTTPRequest::requestWithURL(server.url());
    negotiate->startAsynchronous();
    ASSERT_TRUE(testsupport::spinUntil([&] { return negotiate->isFinishedRequest(); }));
    EXPECT_EQ(negotiate->error()->code, 3) << "ends instead of hanging";
}

TEST_F(KPHTTPAuthenticationTest, TheDelegateAnswersLaterOrCancels)
{
    AuthServer auth("Basic realm=\"later\"");
    HTTPTestServer server([&](const HTTPTestRequest& r) { return auth.answer(r); });
    for (bool answer : {true, false}) {
        KPHTTPRequest::clearSession();
        auto request = KPHTTPRequest::requestWithURL(server.url("/asked"));
        auto delegate = std::make_shared<KPHTTPRequestDelegate>();
        int asked = 0;
        delegate->authenticationNeededForRequest = [&](KPHTTPRequest& r) {
            ++asked;
            if (answer) {
                r.setUsername(QStringLiteral("ann"));
                r.setPassword(QStringLiteral("secret"));
                r.retryUsingSuppliedCredentials();
            } else {
                r.cancelAuthentication();
            }
        };
        request->setDelegate(delegate);
        request->startAsynchronous();
        ASSERT_TRUE(testsupport::spinUntil([&] { return request->isFinishedRequest(); }));
        EXPECT_EQ(asked, 1);
        if (answer) {
            EXPECT_FALSE(request->error());
            EXPECT_EQ(request->responseString(), QStringLiteral("welcome"));
        } else {
            ASSERT_TRUE(request->error());
            EXPECT_EQ(request->error()->code, 3);
        }
    }
}

// Hostile servers on another port of 127.0.0.1 (another origin): one records what it is sent,
// one challenges for credentials. The first server sends every request that carries its
// credentials on to one of them.
TEST_F(KPHTTPAuthenticationTest, CredentialsNeverFollowARedirectToAnotherOrigin)
{
    HTTPTestServer recorder([](const HTTPTestRequest&) { return HTTPTestResponse::make(200, "elsewhere"); });
    HTTPTestServer challenger([](const HTTPTestRequest& r) {
        if (r.hasHeader("Authorization"))
            return HTTPTestResponse::make(200, "took them");
        return HTTPTestResponse::make(401, "no", {{"WWW-Authenticate", "Basic realm=\"other\""}});
    });
    AuthServer auth("Basic realm=\"files\"");
    QByteArray next;
    HTTPTestServer first([&](const HTTPTestRequest& r) {
        HTTPTestResponse answer = auth.answer(r);
        if (answer.raw.startsWith("HTTP/1.1 200"))
            return HTTPTestResponse::make(r.target == "/keep" ? 307 : 302, {}, {{"Location", next}});
        return answer;
    });
    const auto leaked = [](const HTTPTestServer& server) {
        for (const auto& r : server.requests())
            if (r.hasHeader("Authorization"))
                return true;
        return false;
    };

    // Preset credentials sent before any challenge, a 302 and a 307 that keeps the headers.
    next = recorder.url("/landing").toEncoded();
    for (const QString& path : {QStringLiteral("/go"), QStringLiteral("/keep")}) {
        KPHTTPRequest::clearSession();
        auto preset = KPHTTPRequest::requestWithURL(first.url(path));
        preset->setAuthenticationScheme(QStringLiteral("Basic"));
        preset->setUsername(QStringLiteral("ann"));
        preset->setPassword(QStringLiteral("secret"));
        preset->addRequestHeader(QStringLiteral("Cookie"), QStringLiteral("first=only"));
        preset->startSynchronous();
        ASSERT_FALSE(preset->error()) << preset->error()->message.toStdString();
        EXPECT_EQ(preset->responseString(), QStringLiteral("elsewhere"));
        EXPECT_TRUE(first.requests().back().hasHeader("Authorization")) << "the first server had them";
    }
    EXPECT_FALSE(leaked(recorder));
    for (const auto& r : recorder.requests())
        EXPECT_FALSE(r.hasHeader("Cookie"));

    // Credentials applied after a 401, then a redirect to a server that asks for its own.
    KPHTTPRequest::clearSession();
    next = challenger.url("/asks").toEncoded();
    auto answered = KPHTTPRequest::requestWithURL(first.url("/go"));
    answered->setUsername(QStringLiteral("ann"));
    answered->setPassword(QStringLiteral("secret"));
    answered->startSynchronous();
    ASSERT_TRUE(answered->error());
    EXPECT_EQ(answered->error()->code, 3) << "the other server gets nothing to answer its challenge with";
    EXPECT_FALSE(leaked(challenger));

    // Credentials a delegate gives after a 401 are the first server's only.
    KPHTTPRequest::clearSession();
    next = recorder.url("/later").toEncoded();
    auto asked = KPHTTPRequest::requestWithURL(first.url("/go"));
    auto delegate = std::make_shared<KPHTTPRequestDelegate>();
    delegate->authenticationNeededForRequest = [](KPHTTPRequest& r) {
        r.setUsername(QStringLiteral("ann"));
        r.setPassword(QStringLiteral("secret"));
        r.setAuthenticationScheme(QStringLiteral("Basic"));
        r.retryUsingSuppliedCredentials();
    };
    asked->setDelegate(delegate);
    asked->startAsynchronous();
    ASSERT_TRUE(testsupport::spinUntil([&] { return asked->isFinishedRequest(); }));
    ASSERT_FALSE(asked->error()) << asked->error()->message.toStdString();
    EXPECT_EQ(asked->responseString(), QStringLiteral("elsewhere"));
    EXPECT_FALSE(leaked(recorder));
}

TEST(HTTPAuthenticationTest, ChallengeParsingSurvivesOddHeaders)
{
    const auto list = platform::HTTPAuthentication::parseChallenges(
        {QStringLiteral("Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\""),
         QStringLiteral(",,, \"\" = , Digest nonce=abc"), QStringLiteral("Negotiate abc123==")});
    ASSERT_GE(list.size(), 3);
    EXPECT_EQ(list[0].scheme, QStringLiteral("Newauth"));
    EXPECT_EQ(list[0].parameters.value(QStringLiteral("title")), QStringLiteral("Login to \"apps\""));
    EXPECT_EQ(list[1].scheme, QStringLiteral("Basic"));
    EXPECT_EQ(list[1].parameters.value(QStringLiteral("realm")), QStringLiteral("simple"));
    auto digest = platform::HTTPAuthentication::fromChallenges({QStringLiteral("Digest realm=\"r\\\"\r\nX: y\", nonce=\"n\"")});
    ASSERT_TRUE(digest);
    const auto value = digest->apply(QStringLiteral("a\"b\r\nc"), QStringLiteral("p"), "GET", "/");
    ASSERT_TRUE(value);
    EXPECT_FALSE(value->contains(u'\r'));
    EXPECT_FALSE(value->contains(u'\n'));
    EXPECT_TRUE(value->contains(QStringLiteral("username=\"a\\\"bc\"")));
}

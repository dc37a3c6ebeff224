#include "Analytics/PublicIP.h"

#include "Analytics/AnalyticsConfiguration.h"
#include "HTTP/KPHTTPRequest.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QStringDecoder>
#include <mutex>

namespace {
std::mutex g_lock;
std::optional<QString> g_cached;
constexpr qsizetype MaxPageText = 64 * 1024;
} // namespace

std::optional<QString> PublicIP::addressFromEchoPage(const QString& page)
{
    const QString text = page.left(MaxPageText);
    // Every tag becomes a blank, so words that only tags separated stand apart.
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'<') {
            const qsizetype end = text.indexOf(u'>', i);
            if (end < 0) {
                plain += text.mid(i);
                break;
            }
            plain += u' ';
            i = end;
        } else {
            plain += text[i];
        }
    }
    const QStringList words = plain.split(u' ');
    for (qsizetype i = 0; i + 1 < words.size(); ++i)
        if (words[i] == QLatin1String("Address:"))
            return words[i + 1].trimmed();
    return std::nullopt;
}

QString PublicIP::getIPAddress()
{
    std::lock_guard lock(g_lock);
    if (g_cached)
        return *g_cached;
    const QUrl url = AnalyticsConfiguration::current().publicIPURL;
    if (url.isEmpty())
        return {};
    auto request = KPHTTPRequest::requestWithURL(url);
    request->setTimeOutSeconds(10);
    request->startSynchronous();
    if (request->error() || request->responseStatusCode() != 200)
        return {};
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(request->responseData().left(MaxPageText * 4));
    if (utf8.hasError())
        return {}; // not UTF-8: a load error, tried again next time
    if (const auto address = addressFromEchoPage(text)) {
        g_cached = *address;
    } else {
        KPLogLogMessage(QStringLiteral("Error getting public IP: %1 %2")
                            .arg(QStringLiteral("NSRangeException"), QStringLiteral("no \"Address:\" in the page")));
        g_cached = QString();
    }
    return *g_cached;
}

void PublicIP::resetCacheForTesting()
{
    std::lock_guard lock(g_lock);
    g_cached.reset();
}

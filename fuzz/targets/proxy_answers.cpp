// What proxies answer: a SOCKS5 reply, an HTTP proxy's answer to CONNECT, libproxy's answer
// lines and a proxy script's answer. Lengths stay within the bytes given, statuses are real
// statuses, and every proxy named has a host and a port.
#include "FuzzSupport.h"

#include "Platform/HTTPStream/ProxyAutoConfig.h"
#include "Platform/HTTPStream/SystemProxies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QByteArray bytes = fuzz::bytes(data, size);
    const qsizetype reply = platform::HTTPStream::socksReplyLength(bytes);
    if (reply > bytes.size() || reply > 4 + 1 + 255 + 2)
        fuzz::fail("a SOCKS reply longer than its bytes");
    const int status = platform::HTTPStream::tunnelStatus(bytes);
    if (status != 0 && status != -1 && (status < 100 || status > 999))
        fuzz::fail("an impossible status");
    for (const QString& line : fuzz::utf8(data, size).split(u'\n')) {
        if (const auto settings = platform::SystemProxies::settingsFromAnswer(line);
            settings && settings->type != platform::HTTPProxySettings::Type::None
            && (settings->host.isEmpty() || settings->port <= 0 || settings->port > 65535))
            fuzz::fail("a proxy without a host or port", fuzz::printable(line));
    }
    for (const auto& settings : platform::ProxyAutoConfig::parseAnswer(fuzz::utf8(data, size))) {
        if (settings.type != platform::HTTPProxySettings::Type::None
            && (settings.host.isEmpty() || settings.port <= 0 || settings.port > 65535))
            fuzz::fail("a script's proxy without a host or port", settings.host);
    }
    return 0;
}

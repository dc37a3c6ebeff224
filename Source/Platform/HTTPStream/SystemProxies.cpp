#include "Platform/HTTPStream/SystemProxies.h"

#include <QFile>
#include <QStandardPaths>

#include <future>
#include <mutex>
#include <proxy.h>
#include <thread>

namespace platform {

namespace {
std::mutex g_factoryLock;
pxProxyFactory* g_factory = nullptr;

pxProxyFactory* factory()
{
    std::lock_guard lock(g_factoryLock);
    if (!g_factory)
        g_factory = px_proxy_factory_new();
    return g_factory;
}
} // namespace

std::optional<QStringList> SystemProxies::proxiesForURL(const QUrl& url, std::chrono::milliseconds cap)
{
    pxProxyFactory* f = factory();
    if (!f)
        return std::nullopt;
    auto promise = std::make_shared<std::promise<std::optional<QStringList>>>();
    auto answer = promise->get_future();
    const QByteArray text = url.toEncoded();
    // A script or a desktop service that hangs must not hold the request: the worker is left
    // to finish on its own.
    std::thread([f, text, promise] {
        char** proxies = px_proxy_factory_get_proxies(f, text.constData());
        if (!proxies) {
            promise->set_value(std::nullopt);
            return;
        }
        QStringList list;
        for (char** p = proxies; *p; ++p)
            list << QString::fromUtf8(*p);
        px_proxy_factory_free_proxies(proxies);
        promise->set_value(list);
    }).detach();
    if (answer.wait_for(cap) != std::future_status::ready)
        return std::nullopt;
    return answer.get();
}

std::optional<HTTPProxySettings> SystemProxies::settingsFromAnswer(const QString& answer)
{
    const QUrl url(answer);
    const QString scheme = url.scheme().toLower();
    HTTPProxySettings settings;
    if (scheme == QLatin1String("direct"))
        return settings;
    if (scheme == QLatin1String("http"))
        settings.type = HTTPProxySettings::Type::HTTP;
    else if (scheme.startsWith(QLatin1String("socks")))
        settings.type = HTTPProxySettings::Type::SOCKS; // a plain SOCKS answer is tried as SOCKS5
    else
        return std::nullopt;
    settings.host = url.host();
    settings.port = url.port(scheme == QLatin1String("http") ? 80 : 1080);
    if (settings.host.isEmpty())
        return std::nullopt;
    return settings;
}

QUrl SystemProxies::desktopScriptURL()
{
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (!qEnvironmentVariableIsEmpty(name))
            return {};
    if (!qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE"), Qt::CaseInsensitive))
        return {};
    const QString path = QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kioslaverc"));
    QFile file(path);
    if (path.isEmpty() || file.size() > 256 * 1024 || !file.open(QIODevice::ReadOnly))
        return {};
    bool inSection = false;
    QString type, script;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) {
            inSection = line == QLatin1String("[Proxy Settings]");
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inSection || eq < 0)
            continue;
        // KDE marks a value locked with "[$i]" after the key.
        QString key = line.left(eq).trimmed();
        key = key.left(key.indexOf(u'[') < 0 ? key.size() : key.indexOf(u'[')).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("ProxyType"))
            type = value;
        else if (key == QLatin1String("Proxy Config Script"))
            script = value;
    }
    // 2: "use a proxy configuration script".
    if (type != QLatin1String("2") || script.isEmpty())
        return {};
    const QUrl url = QUrl::fromUserInput(script);
    return url.isValid() ? url : QUrl();
}

} // namespace platform

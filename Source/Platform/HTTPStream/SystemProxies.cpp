#include "Platform/HTTPStream/SystemProxies.h"

#include "Platform/Foundation/HelperProcess.h"

#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <future>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
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
    // A port past 65535 makes the URL invalid, and an invalid one answers the default port.
    if (!url.isValid())
        return std::nullopt;
    if (scheme == QLatin1String("http"))
        settings.type = HTTPProxySettings::Type::HTTP;
    else if (scheme.startsWith(QLatin1String("socks")))
        settings.type = HTTPProxySettings::Type::SOCKS; // a plain SOCKS answer is tried as SOCKS5
    else
        return std::nullopt;
    settings.host = url.host();
    settings.port = url.port(scheme == QLatin1String("http") ? 80 : 1080);
    // Port 0 names no listener: such an answer is as malformed as one without a host.
    if (settings.host.isEmpty() || settings.port <= 0 || settings.port > 65535)
        return std::nullopt;
    return settings;
}

namespace {

// KDE: kioslaverc's [Proxy Settings], ProxyType 2 ("use a proxy configuration script").
QUrl kdeScriptURL()
{
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
    if (type != QLatin1String("2") || script.isEmpty())
        return {};
    return QUrl::fromUserInput(script);
}

// A GVariant string as gsettings prints it: 'text' with \' and \\ inside.
QString gvariantString(const QString& printed)
{
    if (printed.size() < 2 || printed.front() != u'\'' || printed.back() != u'\'')
        return {};
    QString out;
    for (qsizetype i = 1; i + 1 < printed.size(); ++i) {
        QChar c = printed.at(i);
        if (c == u'\\' && i + 2 < printed.size())
            c = printed.at(++i);
        out += c;
    }
    return out;
}

// gsettings' listing of a schema, or nothing when it cannot run or does not end within 2 s.
QByteArray gsettingsListing(const char* schema)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {};
    const char* argv[] = {"gsettings", "list-recursively", schema, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    setFreshSignalState(&attributes);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, "gsettings", &actions, &attributes, const_cast<char**>(argv), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    QByteArray listing;
    if (spawned == 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{out[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) {
                listing.clear(); // late: what came is not trusted to be whole
                ::kill(pid, SIGKILL);
                break;
            }
            char buffer[4096];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            listing.append(buffer, n);
            if (listing.size() > 64 * 1024) {
                listing.clear();
                ::kill(pid, SIGKILL);
                break;
            }
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            listing.clear();
    }
    ::close(out[0]);
    return listing;
}

// GNOME and the desktops built on its settings: org.gnome.system.proxy in mode 'auto'.
QUrl gnomeScriptURL()
{
    QString mode, script;
    for (const QByteArray& raw : gsettingsListing("org.gnome.system.proxy").split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const QStringList parts = line.split(u' ');
        if (parts.size() < 3 || parts[0] != QLatin1String("org.gnome.system.proxy"))
            continue;
        const QString value = gvariantString(line.section(u' ', 2));
        if (parts[1] == QLatin1String("mode"))
            mode = value;
        else if (parts[1] == QLatin1String("autoconfig-url"))
            script = value;
    }
    if (mode != QLatin1String("auto") || script.isEmpty())
        return {};
    return QUrl::fromUserInput(script);
}

} // namespace

QUrl SystemProxies::desktopScriptURL()
{
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (!qEnvironmentVariableIsEmpty(name))
            return {};
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    QUrl url;
    if (desktop.contains(QLatin1String("KDE"), Qt::CaseInsensitive))
        url = kdeScriptURL();
    else if (desktop.contains(QLatin1String("GNOME"), Qt::CaseInsensitive)
             || desktop.contains(QLatin1String("Unity"), Qt::CaseInsensitive)
             || desktop.contains(QLatin1String("Cinnamon"), Qt::CaseInsensitive)
             || desktop.contains(QLatin1String("Budgie"), Qt::CaseInsensitive))
        url = gnomeScriptURL();
    return url.isValid() ? url : QUrl();
}

} // namespace platform

#include "Platform/HTTPStream/ProxyAutoConfig.h"

#include <QHostAddress>
#include <QJSEngine>
#include <QJSValue>
#include <QNetworkInterface>
#include <QObject>

#include <arpa/inet.h>
#include <condition_variable>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace platform {

namespace {

std::mutex g_resolverLock;
ProxyAutoConfig::Resolver g_resolver;

std::optional<QString> systemResolve(const QString& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(found);
    return ok ? std::optional<QString>(QString::fromLatin1(text)) : std::nullopt;
}

std::optional<QString> resolve(const QString& host)
{
    // A literal address is its own answer; only names are looked up.
    QHostAddress literal;
    if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv4Protocol)
        return literal.toString();
    if (host.isEmpty() || host.size() > 253)
        return std::nullopt;
    ProxyAutoConfig::Resolver resolver;
    {
        std::lock_guard lock(g_resolverLock);
        resolver = g_resolver;
    }
    return resolver ? resolver(host) : systemResolve(host);
}

// What the script may reach of this process: two look-ups.
class PACHost : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE QJSValue dnsResolve(const QString& host) const
    {
        const auto address = resolve(host);
        return address ? QJSValue(*address) : QJSValue(QJSValue::NullValue);
    }
    Q_INVOKABLE QString myIpAddress() const
    {
        for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                return a.toString();
        }
        return QStringLiteral("127.0.0.1");
    }
};

// The helpers as their documentation describes them. Dates and times are the local ones, or
// UTC when the last argument is "GMT".
const char* const kHelpers = R"JS(
function dnsResolve(host) { return __pac.dnsResolve(String(host)); }
function myIpAddress() { return __pac.myIpAddress(); }
function isResolvable(host) { return dnsResolve(host) !== null; }
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
    host = String(host); domain = String(domain);
    return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}
function localHostOrDomainIs(host, hostdom) {
    host = String(host); hostdom = String(hostdom);
    if (host === hostdom) return true;
    return host.indexOf('.') < 0 && hostdom.indexOf(host + '.') === 0;
}
function dnsDomainLevels(host) { return String(host).split('.').length - 1; }
function shExpMatch(str, shexp) {
    var s = String(str), p = String(shexp), out = '^';
    for (var i = 0; i < p.length; i++) {
        var c = p.charAt(i);
        if (c === '*') out += '.*';
        else if (c === '?') out += '.';
        else out += c.replace(/[\\^$.|+()\[\]{}\/]/g, '\\$&');
    }
    return new RegExp(out + '$').test(s);
}
function __ipv4(text) {
    var m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(String(text));
    if (!m) return null;
    var n = 0;
    for (var i = 1; i <= 4; i++) { var b = Number(m[i]); if (b > 255) return null; n = n * 256 + b; }
    return n;
}
function isInNet(host, pattern, mask) {
    var address = __ipv4(host);
    if (address === null) { var r = dnsResolve(host); if (r === null) return false; address = __ipv4(r); }
    var p = __ipv4(pattern), m = __ipv4(mask);
    if (address === null || p === null || m === null) return false;
    for (var i = 0; i < 4; i++) {
        var d = Math.pow(256, 3 - i);
        var a = Math.floor(address / d) % 256, b = Math.floor(p / d) % 256, k = Math.floor(m / d) % 256;
        if ((a & k) !== (b & k)) return false;
    }
    return true;
}
function __gmt(args) { return args.length > 0 && String(args[args.length - 1]).toUpperCase() === 'GMT'; }
function __plain(args) { var a = Array.prototype.slice.call(args); if (__gmt(a)) a.pop(); return a; }
function __now(gmt) {
    var d = new Date();
    return gmt ? { wd: d.getUTCDay(), day: d.getUTCDate(), mon: d.getUTCMonth(), year: d.getUTCFullYear(),
                   sec: d.getUTCHours() * 3600 + d.getUTCMinutes() * 60 + d.getUTCSeconds() }
               : { wd: d.getDay(), day: d.getDate(), mon: d.getMonth(), year: d.getFullYear(),
                   sec: d.getHours() * 3600 + d.getMinutes() * 60 + d.getSeconds() };
}
function __inRange(start, end, value) {
    return start <= end ? (value >= start && value <= end) : (value >= start || value <= end);
}
var __days = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __months = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
function weekdayRange() {
    var a = __plain(arguments), now = __now(__gmt(arguments));
    if (a.length < 1 || a.length > 2) return false;
    var first = __days.indexOf(String(a[0]).toUpperCase());
    var last = a.length > 1 ? __days.indexOf(String(a[1]).toUpperCase()) : first;
    if (first < 0 || last < 0) return false;
    return __inRange(first, last, now.wd);
}
function __dateField(v) {
    if (typeof v === 'number' || /^\d+$/.test(String(v))) {
        var n = Number(v);
        if (n >= 1 && n <= 31) return { kind: 'day', value: n };
        if (n > 31) return { kind: 'year', value: n };
        return null;
    }
    var m = __months.indexOf(String(v).toUpperCase());
    return m < 0 ? null : { kind: 'mon', value: m };
}
function dateRange() {
    var a = __plain(arguments), now = __now(__gmt(arguments));
    if (a.length < 1 || a.length > 6 || (a.length > 1 && a.length % 2 !== 0)) return false;
    var fields = [];
    for (var i = 0; i < a.length; i++) { var f = __dateField(a[i]); if (!f) return false; fields.push(f); }
    if (fields.length === 1) return now[fields[0].kind] === fields[0].value;
    var half = fields.length / 2, kinds = [];
    for (var j = 0; j < half; j++) {
        if (fields[j].kind !== fields[j + half].kind || kinds.indexOf(fields[j].kind) >= 0) return false;
        kinds.push(fields[j].kind);
    }
    // Compared as one number, biggest unit first, over the units the arguments name.
    var order = ['year', 'mon', 'day'], scale = { year: 10000, mon: 100, day: 1 };
    var start = 0, end = 0, value = 0;
    for (var k = 0; k < half; k++) {
        start += fields[k].value * scale[fields[k].kind];
        end += fields[k + half].value * scale[fields[k].kind];
    }
    for (var o = 0; o < order.length; o++)
        if (kinds.indexOf(order[o]) >= 0) value += now[order[o]] * scale[order[o]];
    if (kinds.indexOf('year') >= 0) return value >= start && value <= end;
    return __inRange(start, end, value);
}
function timeRange() {
    var a = __plain(arguments), now = __now(__gmt(arguments));
    for (var i = 0; i < a.length; i++) if (!/^\d+$/.test(String(a[i]))) return false;
    var n = a.map(Number);
    if (n.length === 1) return Math.floor(now.sec / 3600) === n[0];
    // The end is the start of the unit after the one named: (9, 17) runs to 17:00, not 17:59.
    if (n.length === 2) return __inRange(n[0] * 3600, n[1] * 3600 - 1, now.sec);
    if (n.length === 4) return __inRange(n[0] * 3600 + n[1] * 60, n[2] * 3600 + n[3] * 60 - 1, now.sec);
    if (n.length === 6) return __inRange(n[0] * 3600 + n[1] * 60 + n[2], n[3] * 3600 + n[4] * 60 + n[5], now.sec);
    return false;
}
function alert(message) {}
)JS";

// Stops the engine when the script has had its time; ends as soon as the evaluation does.
class Watchdog {
public:
    Watchdog(QJSEngine& engine, std::chrono::milliseconds limit)
        : m_thread([this, &engine, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  m_fired = true;
                  engine.setInterrupted(true);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    bool fired()
    {
        std::lock_guard lock(m_mutex);
        return m_fired;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    bool m_fired = false;
    std::thread m_thread;
};

std::unexpected<Error> scriptError(int code, const QString& text)
{
    return fail(ProxyAutoConfig::ErrorDomain, code, text);
}

QString describe(const QJSValue& error)
{
    const QString line = error.property(QStringLiteral("lineNumber")).toString();
    return line.isEmpty() || line == QLatin1String("undefined") ? error.toString()
                                                              : QStringLiteral("%1 (line %2)").arg(error.toString(), line);
}

} // namespace

void ProxyAutoConfig::setResolver(Resolver resolver)
{
    std::lock_guard lock(g_resolverLock);
    g_resolver = std::move(resolver);
}

Result<QString> ProxyAutoConfig::evaluate(const QString& script, const QUrl& url, const Limits& limits)
{
    if (script.size() > limits.maxScript)
        return scriptError(1, QStringLiteral("the proxy script is longer than %1 characters").arg(limits.maxScript));
    QJSEngine engine;
    PACHost host;
    engine.globalObject().setProperty(QStringLiteral("__pac"), engine.newQObject(&host));
    QJSEngine::setObjectOwnership(&host, QJSEngine::CppOwnership);
    QJSValue answer;
    bool timedOut = false;
    {
        Watchdog watchdog(engine, limits.time);
        const QJSValue helpers = engine.evaluate(QString::fromUtf8(kHelpers));
        if (helpers.isError())
            return scriptError(2, QStringLiteral("the proxy helpers did not load: %1").arg(describe(helpers)));
        const QJSValue loaded = engine.evaluate(script, QStringLiteral("proxy.pac"));
        if (loaded.isError() || engine.hasError()) {
            timedOut = watchdog.fired();
            if (!timedOut)
                return scriptError(3, QStringLiteral("the proxy script does not run: %1").arg(describe(loaded)));
        } else {
            const QJSValue find = engine.globalObject().property(QStringLiteral("FindProxyForURL"));
            if (!find.isCallable())
                return scriptError(4, QStringLiteral("the proxy script defines no FindProxyForURL"));
            // The function sees the URL without credentials, as a script on any system would.
            const QString text = url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
            answer = find.call({QJSValue(text), QJSValue(url.host())});
            timedOut = watchdog.fired();
        }
    }
    if (timedOut)
        return scriptError(5, QStringLiteral("the proxy script ran longer than %1 ms and was stopped")
                                  .arg(qint64(limits.time.count())));
    if (answer.isError())
        return scriptError(6, QStringLiteral("FindProxyForURL failed: %1").arg(describe(answer)));
    if (!answer.isString())
        return scriptError(7, QStringLiteral("FindProxyForURL answered something other than text"));
    const QString text = answer.toString();
    if (text.size() > limits.maxAnswer)
        return scriptError(8, QStringLiteral("FindProxyForURL answered %1 characters; at most %2 are read")
                                  .arg(text.size())
                                  .arg(limits.maxAnswer));
    return text;
}

bool ProxyAutoConfig::ranOutOfTimeOrMemory(const Error& error)
{
    return error.domain == ErrorDomain && (error.code == 5 || error.code == 10 || error.code == 11);
}

QList<HTTPProxySettings> ProxyAutoConfig::parseAnswer(const QString& answer)
{
    QList<HTTPProxySettings> out;
    for (const QString& raw : answer.split(u';', Qt::SkipEmptyParts)) {
        const QStringList words = raw.simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString kind = words[0].toUpper();
        if (kind == QLatin1String("DIRECT")) {
            if (words.size() == 1)
                out.append(HTTPProxySettings{});
            continue;
        }
        HTTPProxySettings settings;
        if (kind == QLatin1String("PROXY") || kind == QLatin1String("HTTP"))
            settings.type = HTTPProxySettings::Type::HTTP;
        else if (kind == QLatin1String("SOCKS") || kind == QLatin1String("SOCKS5"))
            settings.type = HTTPProxySettings::Type::SOCKS; // a plain SOCKS entry is tried as SOCKS5
        else
            continue; // HTTPS, SOCKS4 and words this client does not speak
        if (words.size() != 2)
            continue;
        // host:port, host alone, or [v6]:port.
        const QUrl parsed(QStringLiteral("//") + words[1]);
        if (!parsed.isValid() || parsed.host().isEmpty() || !parsed.userInfo().isEmpty() || !parsed.path().isEmpty()
            || parsed.hasQuery() || parsed.hasFragment())
            continue;
        settings.host = parsed.host();
        settings.port = parsed.port(settings.type == HTTPProxySettings::Type::HTTP ? 80 : 1080);
        if (settings.port <= 0 || settings.port > 65535)
            continue;
        out.append(settings);
    }
    return out;
}

} // namespace platform

#include "ProxyAutoConfig.moc"

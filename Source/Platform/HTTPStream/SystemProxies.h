// The proxies the system's settings give for a URL, read through libproxy (the environment's
// http_proxy, https_proxy and no_proxy, and the desktop's settings through its plugins). One
// factory serves the run; each look-up runs on a worker and is given up after a few seconds.
#pragma once

#include "Platform/HTTPStream/HTTPStream.h"

#include <QStringList>
#include <QUrl>
#include <chrono>
#include <optional>

namespace platform {

class SystemProxies {
public:
    // libproxy's answers ("direct://", "http://host:port", "socks5://host:port"…); none when
    // libproxy failed or did not answer in time.
    static std::optional<QStringList> proxiesForURL(const QUrl& url,
                                                    std::chrono::milliseconds cap = std::chrono::seconds(5));
    // The first usable answer as settings (Type::None for a direct connection); none for an
    // answer that names no proxy this client can use.
    static std::optional<HTTPProxySettings> settingsFromAnswer(const QString& answer);
    // The proxy script the desktop names, when its proxy settings say "automatic from a script"
    // (libproxy reads that setting but, without its script runner, answers "direct://"): KDE's
    // kioslaverc, or GNOME's settings through gsettings (given 2 s). Empty when none is named or
    // the environment names proxies itself, which then win.
    static QUrl desktopScriptURL();
};

} // namespace platform

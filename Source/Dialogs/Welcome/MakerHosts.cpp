#include "Dialogs/Welcome/MakerHosts.h"

#include "Dialogs/Welcome/MakerHostsConfig.h"

MakerHosts MakerHosts::configured()
{
    return {QString::fromUtf8(FOLIVO_CONFIGURED_WELCOME_HOST).trimmed(),
            QString::fromUtf8(FOLIVO_CONFIGURED_LINK_HOST).trimmed()};
}

QUrl MakerHosts::linkURL(const QString& path) const
{
    const QString host = linkHost.trimmed();
    if (host.isEmpty())
        return {};
    QUrl url(host.contains(QLatin1String("://")) ? host : QStringLiteral("https://") + host, QUrl::StrictMode);
    // Only a bare origin is taken: a configured path or query would be silently dropped.
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))
        || (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() || url.hasFragment())
        return {};
    url.setPath(path);
    return url;
}

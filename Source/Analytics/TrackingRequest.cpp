#include "Analytics/TrackingRequest.h"

#include "Analytics/AnalyticsConfiguration.h"
#include "Analytics/KPUrlUtil.h"
#include "Platform/Foundation/UserDefaults.h"

#include <QLocale>
#include <QStringList>

QString TrackingRequest::timeStampCurrent() const
{
    return QString::number(AnalyticsConfiguration::current().now(), 'f', 0);
}

quint32 TrackingRequest::domainHash() const
{
    if (pageDomain.isEmpty())
        return 0;
    quint32 a = 0;
    for (qsizetype i = pageDomain.size() - 1; i >= 0; --i) {
        const quint32 c = pageDomain[i].unicode();
        a = ((a << 6) & 0xFFFFFC0) + c + (c << 14);
        if (const quint32 g = a & 0xFE00000; g != 0)
            a = a ^ (g >> 21);
    }
    return a;
}

QString TrackingRequest::utmcCookieString() const
{
    const QString t = timeStampCurrent();
    const quint32 h = domainHash();
    const auto config = AnalyticsConfiguration::current();
    const QString utma = QStringLiteral("%1.%2.%3.%4.%5.%6").arg(qint32(h)).arg(config.random()).arg(t, t, t, visitCount);
    const QString utmz = QStringLiteral("%1.%2.%3.%4.utmcsr=%5|utmccn=%6|utmcmd=%7")
                             .arg(QString::number(qint32(h)), t, QStringLiteral("1"), QStringLiteral("1"), referralSource,
                                  campaign, medium);
    return KPUrlUtil::encodeUrl(QStringLiteral("__utma=%1;+__utmz=%2;").arg(utma, utmz));
}

QString TrackingRequest::userLanguage()
{
    const QVariantList languages =
        platform::UserDefaults::standardUserDefaults().arrayForKey(QStringLiteral("AppleLanguages"));
    if (!languages.isEmpty() && !languages.first().toString().isEmpty())
        return languages.first().toString();
    const QStringList ui = QLocale::system().uiLanguages();
    if (!ui.isEmpty() && !ui.first().isEmpty() && ui.first() != QLatin1String("C"))
        return QString(ui.first()).replace(u'_', u'-');
    return QStringLiteral("-");
}

QString TrackingRequest::trackingGifURL() const
{
    const auto config = AnalyticsConfiguration::current();
    const QSize screen = config.screenSize ? config.screenSize() : QSize(0, 0);
    QList<QPair<QString, QString>> p;
    p.append({QStringLiteral("utmwv"), QStringLiteral("5.2.2d")});
    p.append({QStringLiteral("utmn"), QString::number(config.random())});
    p.append({QStringLiteral("utmhn"), pageDomain});
    p.append({QStringLiteral("utmcs"), QStringLiteral("UTF-8")});
    p.append({QStringLiteral("utmsr"), QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height())});
    p.append({QStringLiteral("utmsc"), QStringLiteral("-")});
    p.append({QStringLiteral("utmul"), userLanguage()});
    p.append({QStringLiteral("utmje"), QStringLiteral("0")});
    p.append({QStringLiteral("utmfl"), QStringLiteral("-")});
    p.append({QStringLiteral("utmni"), QStringLiteral("1")});
    p.append({QStringLiteral("utmdt"), KPUrlUtil::encodeUrl(pageTitle)});
    p.append({QStringLiteral("utmhid"), QString::number(config.random())});
    p.append({QStringLiteral("utmr"), QStringLiteral("-")});
    p.append({QStringLiteral("utmp"), pageUrl});
    if (analyticsAccountCode)
        p.append({QStringLiteral("utmac"), *analyticsAccountCode});
    p.append({QStringLiteral("utmcc"), utmcCookieString()});
    if (trackingEvent) {
        const KPTrackingEvent& e = *trackingEvent;
        const QString value = e.val ? QString::number(*e.val) : QString();
        p.append({QStringLiteral("utme"), KPUrlUtil::encodeUrl(QStringLiteral("5(%1*%2*%3)(%4)").arg(e.category, e.action, e.label, value))});
        p.append({QStringLiteral("gaq"), QStringLiteral("1")});
        p.append({QStringLiteral("utmt"), QStringLiteral("event")});
    }
    if (!requestedByIpAddress.isEmpty())
        p.append({QStringLiteral("utmip"), requestedByIpAddress});
    QString query;
    for (const auto& [key, value] : p)
        query += QStringLiteral("%1=%2&").arg(key, value);
    return QStringLiteral("http://%1/__utm.gif?%2").arg(config.collectionHost, query);
}

TrackingRequest RequestFactory::buildRequest(const KPTrackingEvent& event, const std::optional<QString>& accountCode)
{
    TrackingRequest request;
    request.trackingEvent = event;
    request.analyticsAccountCode = accountCode;
    return request;
}

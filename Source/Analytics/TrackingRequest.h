// The tracking beacon in the GIF-request format of a web analytics protocol. It is built and
// never sent.
#pragma once

#include "Analytics/KPTrackingEvent.h"

#include <QString>
#include <optional>

struct TrackingRequest {
    QString pageTitle;
    QString pageDomain;
    QString pageUrl = QStringLiteral("/");
    QString referralSource = QStringLiteral("(direct)");
    QString medium = QStringLiteral("(none)");
    QString campaign = QStringLiteral("(direct)");
    QString visitCount = QStringLiteral("2");
    QString requestedByIpAddress;
    std::optional<KPTrackingEvent> trackingEvent;
    std::optional<QString> analyticsAccountCode;

    // "http://<collection host>/__utm.gif?<parameters>&", the parameters in the table's order.
    QString trackingGifURL() const;
    QString utmcCookieString() const;
    quint32 domainHash() const;
    QString timeStampCurrent() const;

    // The first language of "AppleLanguages", else the system locale's, as "de-DE"; "-" for none.
    static QString userLanguage();
};

struct RequestFactory {
    static TrackingRequest buildRequest(const KPTrackingEvent& event, const std::optional<QString>& accountCode);
};

// The maker's web hosts: the one whose reachability decides where the welcome page comes from,
// and the one serving the welcome ("/fvpwel"), rating ("/fv2rate") and "Learn More" ("/fv2lm")
// pages. Both are build-time configuration (FOLIVO_WELCOME_HOST, FOLIVO_LINK_HOST) and empty by
// default: without a welcome host the local page shows at once, without a link host there is
// no rate prompt and no "Learn More" link.
#pragma once

#include <QString>
#include <QUrl>

struct MakerHosts {
    QString welcomeHost;
    // A host name ("www.example.com", pages over https) or an origin with its scheme
    // ("http://127.0.0.1:8080").
    QString linkHost;

    static inline const QString kWelcomePath = QStringLiteral("/fvpwel");
    static inline const QString kRatePath = QStringLiteral("/fv2rate");
    static inline const QString kLearnMorePath = QStringLiteral("/fv2lm");

    // The hosts this build was configured with.
    static MakerHosts configured();

    // The page at path on the link host; invalid when there is no (usable) link host.
    QUrl linkURL(const QString& path) const;
    bool hasLinkHost() const { return linkURL(kWelcomePath).isValid(); }
};

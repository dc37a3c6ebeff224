// One usage event as the tracking beacon carries it.
#pragma once

#include <QString>
#include <optional>

struct KPTrackingEvent {
    QString domainName;
    QString category;
    QString action;
    QString label;
    std::optional<qint64> val;

    // None unless domain name, category, action and label are all non-empty.
    static std::optional<KPTrackingEvent> initWithParams(const QString& domainName, const QString& category,
                                                         const QString& action, const QString& label,
                                                         std::optional<qint64> value);
};

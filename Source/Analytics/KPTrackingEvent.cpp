#include "Analytics/KPTrackingEvent.h"

std::optional<KPTrackingEvent> KPTrackingEvent::initWithParams(const QString& domainName, const QString& category,
                                                               const QString& action, const QString& label,
                                                               std::optional<qint64> value)
{
    if (domainName.isEmpty() || category.isEmpty() || action.isEmpty() || label.isEmpty())
        return std::nullopt;
    return KPTrackingEvent{domainName, category, action, label, value};
}

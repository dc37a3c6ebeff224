#include "Analytics/AnalyticsHelper.h"

void AnalyticsHelper::fireEvent(const QString&, const QVariant&)
{
}

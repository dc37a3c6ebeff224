// The usage-event entry the rest of the program calls. It sends nothing: the program reports no
// usage anywhere.
#pragma once

#include <QString>
#include <QVariant>

class AnalyticsHelper {
public:
    static void fireEvent(const QString& name, const QVariant& value);
};

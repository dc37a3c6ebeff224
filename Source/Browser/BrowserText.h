// The browser's user-visible texts: looked up by key in the localisation tables, with the
// tables' "%@" placeholders filled in order.
#pragma once

#include <QString>
#include <QStringList>

namespace browsertext {

// The localised text of key.
QString text(const QString& key);
// The localised format of key with each "%@" replaced by the next value (missing values: "").
QString format(const QString& key, const QStringList& values);

} // namespace browsertext

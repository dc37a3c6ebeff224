// Writes property values as an XML property list (dictionaries with sorted keys, so the output
// is the same on every run).
#pragma once

#include <QByteArray>
#include <QVariant>

namespace themegen {

QByteArray xmlPropertyList(const QVariant& root);

} // namespace themegen

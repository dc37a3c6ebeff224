#pragma once

#include "PlistCheck.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/PropertyListValues.h"

namespace fuzz {

inline void checkPropertyList(const QByteArray& input)
{
    using platform::PlistFormat;
    using platform::PropertyList;
    const auto value = PropertyList::read(input);
    if (!value)
        return;
    const bool fromXml = PropertyList::detectFormat(input) == PlistFormat::Xml;
    for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        const char* name = format == PlistFormat::Xml ? "XML" : "binary";
        const auto written = PropertyList::write(*value, format);
        // Binary lists hold text XML cannot carry (control characters, lone surrogates): the
        // XML writer refuses it with an error of its own, which is its promise.
        if (!written && format == PlistFormat::Xml && !fromXml && written.error().code == platform::plist::kUnsupported)
            continue;
        if (!written) {
            fail("a value that was read cannot be written", QStringLiteral("%1: %2 — %3")
                     .arg(QLatin1String(name), written.error().toString(), describe(*value)));
            continue;
        }
        const auto again = PropertyList::read(*written);
        if (!again)
            fail("a written value cannot be read back", QStringLiteral("%1: %2 — %3")
                     .arg(QLatin1String(name), again.error().toString(), describe(*value)));
        else if (const QString d = difference(*value, *again, format == PlistFormat::Xml); !d.isEmpty())
            fail("a value changed on its way through writing and reading",
                 QLatin1String(name) + QStringLiteral(" at ") + d);
    }
}

} // namespace fuzz

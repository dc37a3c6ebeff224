// The escaping the tracking beacon applies to its values.
#pragma once

#include <QString>

class KPUrlUtil {
public:
    // One pass: the first "?" turns on the query escapes ("-", ".", "/", ":", "?", "{", "}");
    // space, ";", "@", "^", "|" and "~" are always escaped; a "%" stays only before two hex digits.
    static QString encodeUrl(const QString& text);
    static bool isPercentAtIndex(qsizetype index, const QString& text);
};

// The order people expect of names: runs of digits compare by their value ("a2" before "a10",
// "a01" beside "a1"), everything else case-insensitively, code point by code point. Our own rather
// than a collator's, so the order is the same on every machine whatever its locale data.
#pragma once

#include <QStringView>

namespace platform {

// <0, 0 or >0. Texts that differ only in case or in leading zeros compare equal; callers that
// need a total order break such ties themselves (or sort stably).
int naturalCompare(QStringView a, QStringView b);

inline bool naturalLess(QStringView a, QStringView b) { return naturalCompare(a, b) < 0; }

} // namespace platform

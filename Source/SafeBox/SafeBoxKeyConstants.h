// The fixed constants of the SafeBox pass-phrase derivation.
//
// WARNING: every existing SafeBox can be opened only with exactly these values. Changing any of
// them locks every user out of every box made before the change; the test vectors in
// Tests/SafeBox pin them so that a change cannot pass unnoticed.
#pragma once

#include <QLatin1StringView>
#include <array>
#include <utility>

namespace safebox {

// Formats of one UTF-16 code: the four-character one for the password, the two-character one for
// the digest's characters.
inline constexpr const char* kFormat4 = "%04x";
inline constexpr const char* kFormat2 = "%02x";

using Replacement = std::pair<QLatin1StringView, QLatin1StringView>;

// Applied in this order, case-insensitively, by the derived value and by the pass phrase.
inline constexpr std::array<Replacement, 3> kGenerateReplacements{{
    {QLatin1StringView("3"), QLatin1StringView("q")},
    {QLatin1StringView("6"), QLatin1StringView("w")},
    {QLatin1StringView("1"), QLatin1StringView("m")},
}};
inline constexpr std::array<Replacement, 3> kPassPhraseReplacements{{
    {QLatin1StringView("a"), QLatin1StringView("7")},
    {QLatin1StringView("0"), QLatin1StringView("x")},
    {QLatin1StringView("e"), QLatin1StringView("k")},
}};

// The login key is prefix + derived value + suffix.
inline constexpr QLatin1StringView kKeyPrefix("sb");
inline constexpr QLatin1StringView kKeySuffix("fk20");

} // namespace safebox

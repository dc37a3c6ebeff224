// The user's SafeBox password never reaches the disk-image tool as typed: it becomes a derived
// value here, and the driver turns that into the pass phrase (SafeBoxCreator::pathWithString).
// The derived value, wrapped as the login key, stays in memory while the box is open so that a
// resize needs no second password prompt. The hint beside the password is stored in a simple
// number code; it is obfuscation, not protection (it is a hint).
#pragma once

#include <QString>
#include <QVariantMap>

class SafeBoxContentGenerate {
public:
    explicit SafeBoxContentGenerate(const QString& value) : sourceValue(value) {}

    // 32 lower-case hexadecimal digits.
    QString generate() const;
    // SafeBoxKeyInfo: {"Key": prefix + derived value + suffix}, 38 characters.
    QVariantMap generateD() const;

    // The derived value inside a login key; empty when the key is too short to hold one.
    static QString derivedFromKey(const QString& key);

    // "String_SafeBoxHint": c × 6 + 10 and "|" for each UTF-16 unit.
    static QString encodeHint(const QString& hint);
    // Back to text; a piece that is not a number counts as 0; stops at the first empty piece.
    static QString decodeHint(const QString& stored);

    QString sourceValue;
};

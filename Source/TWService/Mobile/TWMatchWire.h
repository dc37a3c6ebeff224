// The bytes of a pairing: the state word the listener greets with, the archived match request,
// the listener's answer and the client's result word. Little-endian like the rest of the peer
// exchange; everything read from the other side is bounded here before it is used.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <optional>

enum TWMatchState : quint32 {
    TWMatchStateWaiting = 1,  // the listener waits for a match request
    TWMatchStateMatching = 2, // a match is already in progress
    TWMatchStateClosed = 3,   // the listener is not open for matching
};

namespace TWMatchWire {

enum Tag : long {
    TagState = 6001,   // the state word; the client's result word
    TagRequest = 6002, // the match request and the listener's answer
};

inline constexpr quint32 kMatchCancelled = 0xFFFFFFFF;
// A match request holds a name, an identifier and a number: a few hundred bytes. A peer that
// announces more is not pairing.
inline constexpr quint32 kMaxRequestLength = 16 * 1024;
inline constexpr int kMaxTextBytes = 255;

struct TWMatchRequest {
    QString name;              // "Name", at most 255 bytes, no control characters
    QString guid;              // "GUID", likewise
    std::optional<qint32> code; // "Code" as decimal text; nullopt when it is no such number

    QVariantMap dictionary() const;
    // Nullopt when the archive is not a dictionary.
    static std::optional<TWMatchRequest> fromArchive(const QByteArray& archive);
};

// The framed request: u32 length plus the keyed archive.
platform::Result<QByteArray> frameRequest(const TWMatchRequest& request);
// "%d" text back to a number: an optional minus sign and decimal digits that fit 32 bits.
std::optional<qint32> parseCode(const QString& text);

} // namespace TWMatchWire

// Stable hashes and identifiers of text and bytes.
//
// stringHash is stored: it is the nodeID, folderID and uuid of library records and it names the
// SafeBox mount point. Its formula therefore NEVER changes, whatever the platform or Qt
// version; a different hash would orphan every stored record. The formula:
//
//   bytes = UTF-8 encoding of the text in Unicode Normalization Form C
//   h = 0xcbf29ce484222325                       (FNV-1a 64 offset basis)
//   for each byte b:  h = (h XOR b) * 0x100000001b3  mod 2^64   (FNV 64 prime)
//
// Callers that hash a lower-cased path lower-case it themselves before calling.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace platform {

// FNV-1a 64 of the NFC UTF-8 bytes of text, as written above.
quint64 stringHash(const QString& text);

// FNV-1a 64 of raw bytes (no normalisation); stringHash is this over the NFC UTF-8 bytes.
quint64 fnv1a64(const QByteArray& bytes);

// A new random (version 4) UUID as 36 characters, upper-case hexadecimal with hyphens:
// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
QString newUUIDString();

// MD5 of bytes as 32 lower-case hexadecimal digits.
QString md5Hex(const QByteArray& bytes);

} // namespace platform

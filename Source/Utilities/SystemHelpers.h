// The program's own paths, new identifiers, the modifier keys held right now and a CRC.
#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>

// The program's private temporary folder (per user, mode 0700, created when missing). Empty,
// with a log line, when it cannot be made safe: callers must not fall back to a shared folder.
QString temporaryFolder();

// "<application support>/<bundle identifier>/Logs/Folivo 2.log"; nothing is created.
QString logFilePath();

// The home folder of the account in the password database, whatever $HOME says; null when the
// user has no entry.
QString realHomeDirectory();

// A new UUID as its 36-character text.
QString generateUUIDString();

// Whether Command (Ctrl here), Shift or Option (Alt here) is held at the moment of the call,
// not in the current event.
bool isCommandKeyDown();
bool isShiftKeyDown();
bool isOptionKeyDown();

// CRC-32 (ISO-HDLC: reflected 0xEDB88320, initial value and final XOR 0xFFFFFFFF); 0 for no bytes.
quint32 crc32OfBytes(const void* bytes, std::size_t length);

// The machine's identifier as a 36-character UUID text; null when there is none.
QString platformUUIDString();

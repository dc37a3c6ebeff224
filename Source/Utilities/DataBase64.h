// Base64 text of bytes (RFC 4648 alphabet, "=" padding) in the form mail bodies use: lines of
// 64 characters joined by "\r\n", no line break at the end. The decoder is lenient: anything
// outside the alphabet (padding, line breaks, spaces) is skipped.
#pragma once

#include <QByteArray>
#include <QString>

QString base64EncodedString(const QByteArray& data);
// Empty for a text with non-ASCII characters.
QByteArray dataFromBase64String(const QString& text);

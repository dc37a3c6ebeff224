// A message as an Internet message file (".eml", RFC 5322 with MIME): the last way to hand a
// message to the desktop when no mail program takes one on its command line.
//
// Header values are encoded words whenever they hold anything but printable ASCII, so a line
// break in a subject can never start a header of its own; the body and every attachment are
// base64 in lines of 76, so any bytes survive. The file is marked "X-Unsent: 1", which mail
// programs read as a draft to complete.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Mail/MailMessage.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace platform {

class EmlMessage {
public:
    // The message text with CRLF line ends; fails when an attachment cannot be read (a message
    // silently missing a file is worse than none).
    static Result<QByteArray> build(const MailMessage& message, const QDateTime& date,
                                    const QString& boundary = QString());

    // Writes the message into folder under a new name ("Message-XXXXXX.eml"); answers the path.
    static Result<QString> write(const MailMessage& message, const QString& folder);

    // "=?UTF-8?B?…?=" words (joined by folding whitespace) when text is not plain printable
    // ASCII, else text itself.
    static QByteArray encodeHeaderText(const QString& text);
};

} // namespace platform

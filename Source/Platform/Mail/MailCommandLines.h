// The arguments that hand a message to each kind of mail program.
//
// Every value travels as its own process argument or inside a syntax built here with that
// syntax's escaping, so subjects, bodies, addresses and file names may hold any character:
// - Thunderbird's field list keeps each value in single quotes (commas are safe there); an
//   apostrophe would end the value early, so it becomes the typographic one (’). Attachment
//   file URLs are fully percent-encoded, so a comma or quote in a file name stays inside.
// - mailto: addresses percent-encode everything but the unreserved characters.
// - KMail and xdg-email take plain option values; an address that looks like an option is put
//   after "--".
#pragma once

#include "Platform/Mail/MailMessage.h"

#include <QString>
#include <QStringList>

namespace platform {

class MailCommandLines {
public:
    // The value of Thunderbird's "-compose": "to='…',subject='…',body='…',attachment='…'".
    static QString thunderbirdComposeValue(const MailMessage& message);
    static QStringList thunderbirdArguments(const MailMessage& message);

    // "mailto:<to>?subject=…&body=…" with one "attach=<file URL>" per attachment when asked.
    static QString mailtoURL(const MailMessage& message, bool withAttachments);

    static QStringList kmailArguments(const MailMessage& message);
    static QStringList xdgEmailArguments(const MailMessage& message);

    // "file://" and the path's bytes percent-encoded except "/" and unreserved characters.
    static QString fileURL(const QString& path);
};

} // namespace platform

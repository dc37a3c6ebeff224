// Hands a MailInfo to the user's mail program as a new, unsent message.
//
// The mail program is chosen by what the user picked in the preferences
// ("String_DefaultMailClient"):
// - "com.apple.mail": the desktop's default mail program;
// - a desktop-file ID ("thunderbird.desktop"): that program while it is installed, else the
//   default one;
// - "eml": the message written as an ".eml" file and opened with the desktop's mail reader.
// Preferences copied from another computer can name programs that are not installed here:
// every identifier without an installed program found at launch means the default mail program;
// Outlook, Sparrow and Postbox have no Linux program and are never found, so their senders answer
// false. Every send answers true only when the message was really handed over; the reason of
// a failure goes to the log.
//
// Main thread only, like the installed-client table it reads.
#pragma once

#include "Mail/MailInfo.h"

#include "Platform/Foundation/Error.h"

#include <QString>

namespace platform {
class MailComposer;
}

class SendMailClient {
public:
    static inline const QString kAppleMailIdentifier = QStringLiteral("com.apple.mail");
    static inline const QString kOutlookIdentifier = QStringLiteral("com.microsoft.Outlook");
    static inline const QString kSparrowIdentifier = QStringLiteral("com.sparrowmailapp.sparrow");
    static inline const QString kPostboxIdentifier = QStringLiteral("com.postbox-inc.postbox");
    static inline const QString kEmlIdentifier = QStringLiteral("eml");
    static inline const QString kDefaultMailClientKey = QStringLiteral("String_DefaultMailClient");

    // Whether the stored value names a desktop entry rather than a bundle identifier.
    static bool isDesktopFileID(const QString& mailID);

    // With the mail program of "String_DefaultMailClient".
    static bool sendMail(const MailInfo& mailInfo);
    // With the given program; an empty identifier means the default mail program.
    static bool sendMail(const MailInfo& mailInfo, const QString& mailID);

    static bool sendMailByAppleMail(const MailInfo& mailInfo);
    static bool sendMailByOutlook(const MailInfo& mailInfo);
    static bool sendMailBySparrow(const MailInfo& mailInfo);
    static bool sendMailByPostMail(const MailInfo& mailInfo);

    // The composer every send goes through; tests put one over a recording launcher.
    static platform::MailComposer& composer();
    static void setComposerForTesting(platform::MailComposer* composer);

private:
    static bool composed(const platform::Result<void>& result);
    static bool sendMailByIdentifier(const MailInfo& mailInfo, const QString& identifier,
                                     const QString& programName);
};

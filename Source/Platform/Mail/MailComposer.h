// Hands a new message to the user's mail program, which shows it for the user to complete
// and send; nothing here talks to a mail server.
//
// The mail programs are the desktop's handlers of "mailto" addresses. A message goes the first
// way that works, in this order:
//   1. the program's own command line, for programs known to take attachments that way
//      (Thunderbird, Evolution, KMail);
//   2. "xdg-email", which knows further programs;
//   3. an ".eml" file in the private temporary folder, opened with the desktop's reader of
//      mail messages (ahead of step 4 when there are attachments, which a plain mailto:
//      address cannot carry);
//   4. the program given a plain mailto: address.
// A program that runs in a terminal is started in the user's terminal emulator (see Workspace),
// and without one it is passed over for the next installed program, so that a message is never
// composed where nobody sees it; xdg-email is not asked for such a program, as it may start it
// bare. With no mail program and no message reader the result is an error saying so. Every value
// reaches the program as process arguments (see MailCommandLines), never through a shell.
//
// The mail-program choice is stored as a bundle identifier, and preferences copied from another
// computer may name programs Linux does not have: only "com.apple.mail" (the user's default mail
// program) and "org.mozilla.thunderbird" mean something here; Outlook, Sparrow, Postbox and the
// like are never found.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Mail/MailMessage.h"
#include "Platform/Mail/MailProgram.h"

#include <QList>
#include <QString>
#include <optional>

namespace platform {

class Workspace;

class MailComposer {
public:
    static MailComposer& shared();
    explicit MailComposer(Workspace& workspace);

    // The installed mail programs, the default one first.
    QList<MailProgram> installedMailPrograms() const;
    std::optional<MailProgram> defaultMailProgram() const;
    // The installed programs that stand for a bundle identifier (see above).
    QList<MailProgram> programsForIdentifier(const QString& bundleIdentifier) const;

    // Composes the message in the given program, or in the default one.
    Result<void> compose(const MailMessage& message,
                         const std::optional<MailProgram>& program = std::nullopt);

    // Writes the message as an ".eml" file and opens it with the desktop's reader of mail
    // messages; fails before writing anything when no reader is installed.
    Result<void> composeAsFile(const MailMessage& message);

    // Where ".eml" files are written; the private temporary folder unless set (tests).
    void setMessageFolder(const QString& folder) { m_messageFolder = folder; }

private:
    Result<void> launch(const QStringList& argv);

    Workspace& m_workspace;
    QString m_messageFolder;
};

} // namespace platform

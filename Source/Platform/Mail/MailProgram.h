// An installed mail program: a desktop entry that handles "mailto" addresses, and the kind of
// command line it understands for a message with attachments.
#pragma once

#include "Platform/Workspace/DesktopEntry.h"

namespace platform {

enum class MailProgramKind {
    Thunderbird, // "-compose" with a field list (also its rebuilds, Icedove and Betterbird)
    Evolution,   // a mailto: address with "attach=" fields
    KMail,       // "--subject", "--body", "--attach" options
    Other,       // a mailto: address only
};

struct MailProgram {
    DesktopEntry application;
    MailProgramKind kind = MailProgramKind::Other;

    static MailProgram fromEntry(const DesktopEntry& entry);
    // Told by the desktop ID and the program the entry starts.
    static MailProgramKind kindOf(const DesktopEntry& entry);
};

} // namespace platform

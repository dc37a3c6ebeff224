#include "Platform/Mail/MailProgram.h"

#include <QFileInfo>

namespace platform {

namespace {

MailProgramKind kindOfName(const QString& text)
{
    const QString name = text.toLower();
    for (const char* t : {"thunderbird", "icedove", "betterbird"})
        if (name.contains(QLatin1String(t)))
            return MailProgramKind::Thunderbird;
    if (name.contains(QLatin1String("evolution")))
        return MailProgramKind::Evolution;
    if (name.contains(QLatin1String("kmail")))
        return MailProgramKind::KMail;
    return MailProgramKind::Other;
}

} // namespace

MailProgram MailProgram::fromEntry(const DesktopEntry& entry)
{
    return MailProgram{entry, kindOf(entry)};
}

MailProgramKind MailProgram::kindOf(const DesktopEntry& entry)
{
    const MailProgramKind byId = kindOfName(entry.id);
    if (byId != MailProgramKind::Other)
        return byId;
    auto args = entry.execArguments();
    if (!args || args->isEmpty())
        return MailProgramKind::Other;
    return kindOfName(QFileInfo(args->first()).fileName());
}

} // namespace platform

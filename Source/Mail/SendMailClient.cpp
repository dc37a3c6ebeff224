#include "Mail/SendMailClient.h"

#include "Mail/KPQueryMailClient.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Mail/MailComposer.h"
#include "Utilities/KPLogger/KPLogClient.h"

namespace {

platform::MailComposer* g_testComposer = nullptr;

} // namespace

platform::MailComposer& SendMailClient::composer()
{
    return g_testComposer ? *g_testComposer : platform::MailComposer::shared();
}

void SendMailClient::setComposerForTesting(platform::MailComposer* composer)
{
    g_testComposer = composer;
}

bool SendMailClient::sendMail(const MailInfo& mailInfo)
{
    const QString identifier =
        platform::UserDefaults::standardUserDefaults().stringForKey(kDefaultMailClientKey);
    if (identifier == kAppleMailIdentifier)
        return sendMailByAppleMail(mailInfo);
    return sendMail(mailInfo, identifier);
}

bool SendMailClient::isDesktopFileID(const QString& mailID)
{
    return mailID.endsWith(QStringLiteral(".desktop"));
}

bool SendMailClient::composed(const platform::Result<void>& result)
{
    if (!result) {
        KPLogLogMessage(QStringLiteral("Send mail failed: %1").arg(result.error().message));
        return false;
    }
    return true;
}

bool SendMailClient::sendMail(const MailInfo& mailInfo, const QString& mailID)
{
    if (mailID == kEmlIdentifier)
        return composed(composer().composeAsFile(mailInfo.toMessage()));
    if (isDesktopFileID(mailID)) {
        // A program chosen in the preferences and since removed leaves the default one.
        for (const platform::MailProgram& program : composer().installedMailPrograms())
            if (program.application.id == mailID)
                return composed(composer().compose(mailInfo.toMessage(), program));
        return sendMailByAppleMail(mailInfo);
    }
    // Only a program that the launch search really found is used; anything else, including an
    // identifier never searched for, falls back to the default mail program.
    const auto& table = KPQueryMailClient::installedMailClients();
    auto found = table.constFind(mailID);
    if (mailID.isEmpty() || found == table.cend() || found->isEmpty())
        return sendMailByAppleMail(mailInfo);
    if (mailID == kOutlookIdentifier)
        return sendMailByOutlook(mailInfo);
    if (mailID == kSparrowIdentifier)
        return sendMailBySparrow(mailInfo);
    if (mailID == kPostboxIdentifier)
        return sendMailByPostMail(mailInfo);
    KPLogLogMessage(QStringLiteral("Send mail: no way to compose in %1").arg(mailID));
    return false;
}

bool SendMailClient::sendMailByAppleMail(const MailInfo& mailInfo)
{
    return composed(composer().compose(mailInfo.toMessage()));
}

bool SendMailClient::sendMailByIdentifier(const MailInfo& mailInfo, const QString& identifier,
                                          const QString& programName)
{
    const QList<platform::MailProgram> programs = composer().programsForIdentifier(identifier);
    if (programs.isEmpty()) {
        KPLogLogMessage(QStringLiteral("Send mail failed: %1 is not installed").arg(programName));
        return false;
    }
    return composed(composer().compose(mailInfo.toMessage(), programs.last()));
}

bool SendMailClient::sendMailByOutlook(const MailInfo& mailInfo)
{
    return sendMailByIdentifier(mailInfo, kOutlookIdentifier, QStringLiteral("Microsoft Outlook"));
}

bool SendMailClient::sendMailBySparrow(const MailInfo& mailInfo)
{
    return sendMailByIdentifier(mailInfo, kSparrowIdentifier, QStringLiteral("Sparrow"));
}

bool SendMailClient::sendMailByPostMail(const MailInfo& mailInfo)
{
    return sendMailByIdentifier(mailInfo, kPostboxIdentifier, QStringLiteral("Postbox"));
}

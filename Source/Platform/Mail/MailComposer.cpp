#include "Platform/Mail/MailComposer.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Mail/EmlMessage.h"
#include "Platform/Mail/MailCommandLines.h"
#include "Platform/Workspace/Workspace.h"

#include <functional>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("Mail");
const QString kXdgEmail = QStringLiteral("xdg-email");
const QString kMessageType = QStringLiteral("message/rfc822");
const QString kDefaultMailIdentifier = QStringLiteral("com.apple.mail");
const QString kThunderbirdIdentifier = QStringLiteral("org.mozilla.thunderbird");

} // namespace

MailComposer& MailComposer::shared()
{
    static MailComposer composer(Workspace::shared());
    return composer;
}

MailComposer::MailComposer(Workspace& workspace) : m_workspace(workspace) {}

QList<MailProgram> MailComposer::installedMailPrograms() const
{
    QList<MailProgram> programs;
    for (const DesktopEntry& entry : m_workspace.applicationsForURLScheme(QStringLiteral("mailto")))
        programs.append(MailProgram::fromEntry(entry));
    return programs;
}

std::optional<MailProgram> MailComposer::defaultMailProgram() const
{
    if (auto entry = m_workspace.defaultApplicationForURLScheme(QStringLiteral("mailto")))
        return MailProgram::fromEntry(*entry);
    return std::nullopt;
}

QList<MailProgram> MailComposer::programsForIdentifier(const QString& bundleIdentifier) const
{
    if (bundleIdentifier == kDefaultMailIdentifier) {
        if (auto program = defaultMailProgram())
            return {*program};
        return {};
    }
    if (bundleIdentifier.compare(kThunderbirdIdentifier, Qt::CaseInsensitive) == 0) {
        QList<MailProgram> found;
        for (const MailProgram& p : installedMailPrograms())
            if (p.kind == MailProgramKind::Thunderbird)
                found.append(p);
        return found;
    }
    return {};
}

Result<void> MailComposer::launch(const QStringList& argv)
{
    auto started = m_workspace.launcher().startDetached(argv.first(), argv.mid(1));
    if (!started)
        return std::unexpected(started.error());
    return {};
}

Result<void> MailComposer::composeAsFile(const MailMessage& message)
{
    const QList<DesktopEntry> readers = m_workspace.applications().applicationsForMimeType(kMessageType);
    if (readers.isEmpty())
        return fail(kDomain, 3, QStringLiteral("No program is installed that opens mail messages"));
    // A reader that needs a terminal when there is none is passed over for the next one.
    std::optional<DesktopEntry> reader = m_workspace.firstLaunchable(readers);
    if (!reader)
        reader = readers.first(); // its start says why it cannot run
    QString folder = m_messageFolder;
    if (folder.isEmpty()) {
        auto temporary = Paths::temporaryDirectory();
        if (!temporary)
            return std::unexpected(temporary.error());
        folder = *temporary;
    }
    auto path = EmlMessage::write(message, folder);
    if (!path)
        return std::unexpected(path.error());
    return m_workspace.launchApplication(*reader, {*path});
}

Result<void> MailComposer::compose(const MailMessage& message, const std::optional<MailProgram>& chosen)
{
    std::optional<MailProgram> program = chosen ? chosen : defaultMailProgram();
    // A program that runs in a terminal, with no terminal to run it in, would compose unseen:
    // the next installed one that can be seen takes its place.
    if (program && !m_workspace.canLaunch(program->application)) {
        for (const MailProgram& other : installedMailPrograms()) {
            if (m_workspace.canLaunch(other.application)) {
                program = other;
                break;
            }
        }
    }
    QList<std::function<Result<void>()>> ways;

    if (program) {
        const DesktopEntry& app = program->application;
        auto withArguments = [this, app](const QStringList& args) -> Result<void> {
            auto argv = app.commandLineWithArguments(args);
            if (!argv)
                return std::unexpected(argv.error());
            return m_workspace.runApplication(app, *argv);
        };
        switch (program->kind) {
        case MailProgramKind::Thunderbird: {
            // Some entries already say "-compose %u"; the field list then goes in its place.
            QStringList args = MailCommandLines::thunderbirdArguments(message);
            if (app.execArguments().value_or(QStringList()).contains(args.first()))
                args.removeFirst();
            ways << [=] { return withArguments(args); };
            break;
        }
        case MailProgramKind::Evolution:
            ways << [=] { return withArguments({MailCommandLines::mailtoURL(message, true)}); };
            break;
        case MailProgramKind::KMail:
            ways << [=] { return withArguments(MailCommandLines::kmailArguments(message)); };
            break;
        case MailProgramKind::Other:
            break;
        }
        // xdg-email starts the program itself, and may start a terminal one bare.
        if (!app.terminal && m_workspace.launcher().canFind(kXdgEmail))
            ways << [this, message] {
                return launch(QStringList{kXdgEmail} + MailCommandLines::xdgEmailArguments(message));
            };
        auto plainAddress = [=] { return withArguments({MailCommandLines::mailtoURL(message, false)}); };
        if (message.attachments.isEmpty()) {
            ways << plainAddress;
        } else {
            ways << [this, message] { return composeAsFile(message); };
            ways << plainAddress;
        }
    } else {
        ways << [this, message] { return composeAsFile(message); };
    }

    QStringList reasons;
    for (const auto& way : ways) {
        auto done = way();
        if (done)
            return {};
        reasons << done.error().message;
    }
    if (!program)
        return fail(kDomain, 1, QStringLiteral("No mail program is installed: install one and make it "
                                               "the default for e-mail to send messages (%1)")
                                    .arg(reasons.join(QStringLiteral("; "))));
    return fail(kDomain, 2, QStringLiteral("%1 could not be started: %2")
                                .arg(program->application.name, reasons.join(QStringLiteral("; "))));
}

} // namespace platform

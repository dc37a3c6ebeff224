#include "Platform/Workspace/Workspace.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Workspace/KeyFile.h"
#include "Platform/Workspace/Trash.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("Workspace");
const QString kOpener = QStringLiteral("xdg-open");
const QString kDirectoryType = QStringLiteral("inode/directory");
const QString kDirectoryFile = QStringLiteral(".directory");
// Debian's alternative for the terminal the system prefers; it takes "-e" and a command line.
const QString kTerminalEmulator = QStringLiteral("x-terminal-emulator");

// File managers that select an item when given "--select <path>".
const QStringList kSelectingFileManagers{QStringLiteral("nautilus"), QStringLiteral("dolphin"),
                                         QStringLiteral("caja")};

QString programName(const DesktopEntry& entry)
{
    auto args = entry.execArguments();
    return args && !args->isEmpty() ? QFileInfo(args->first()).fileName() : QString();
}

std::unexpected<Error> noTerminal(const DesktopEntry& entry)
{
    return fail(kDomain, 8, QStringLiteral("%1 runs in a terminal, and no terminal emulator is installed "
                                           "(set TERMINAL or install x-terminal-emulator)")
                                .arg(entry.name.isEmpty() ? entry.id : entry.name));
}

} // namespace

Workspace& Workspace::shared()
{
    static Workspace workspace;
    return workspace;
}

Workspace::Workspace(ProcessLauncher& launcher, ApplicationDatabase& applications)
    : m_launcher(launcher), m_applications(applications)
{
}

QString Workspace::mimeTypeOfFile(const QString& path)
{
    return QMimeDatabase().mimeTypeForFile(path).name();
}

Workspace::ApplicationsForFile Workspace::applicationsForFile(const QString& path)
{
    ApplicationsForFile result;
    if (path.isEmpty())
        return result;
    const QList<DesktopEntry> all = m_applications.applicationsForMimeType(mimeTypeOfFile(path));
    if (all.isEmpty())
        return result;
    result.defaultApplication = all.first();
    for (qsizetype i = 1; i < all.size(); ++i)
        if (!all[i].noDisplay)
            result.otherApplications.append(all[i]);
    return result;
}

QList<DesktopEntry> Workspace::applicationsForURLScheme(const QString& scheme)
{
    return m_applications.applicationsForMimeType(QStringLiteral("x-scheme-handler/") + scheme.toLower());
}

std::optional<DesktopEntry> Workspace::defaultApplicationForURLScheme(const QString& scheme)
{
    return m_applications.defaultApplicationForMimeType(QStringLiteral("x-scheme-handler/") + scheme.toLower());
}

Result<void> Workspace::run(const QStringList& argv)
{
    auto started = m_launcher.startDetached(argv.first(), argv.mid(1));
    if (!started)
        return std::unexpected(started.error());
    return {};
}

std::optional<QStringList> Workspace::terminalCommand() const
{
    const QString chosen = qEnvironmentVariable("TERMINAL").trimmed();
    if (!chosen.isEmpty()) {
        QStringList argv = QProcess::splitCommand(chosen);
        if (!argv.isEmpty() && m_launcher.canFind(argv.first()))
            return argv << QStringLiteral("-e");
    }
    if (m_launcher.canFind(kTerminalEmulator))
        return QStringList{kTerminalEmulator, QStringLiteral("-e")};
    return std::nullopt;
}

bool Workspace::canLaunch(const DesktopEntry& application) const
{
    return !application.terminal || terminalCommand().has_value();
}

std::optional<DesktopEntry> Workspace::firstLaunchable(const QList<DesktopEntry>& applications) const
{
    for (const DesktopEntry& app : applications)
        if (canLaunch(app))
            return app;
    return std::nullopt;
}

std::optional<Result<DesktopEntry>> Workspace::handlerOf(const QList<DesktopEntry>& handlers) const
{
    if (handlers.isEmpty())
        return std::nullopt;
    if (auto app = firstLaunchable(handlers))
        return Result<DesktopEntry>(*app);
    return Result<DesktopEntry>(noTerminal(handlers.first()));
}

Result<void> Workspace::runApplication(const DesktopEntry& application, const QStringList& argv)
{
    if (!application.terminal)
        return run(argv);
    const std::optional<QStringList> terminal = terminalCommand();
    if (!terminal)
        return noTerminal(application);
    return run(*terminal + argv);
}

Result<void> Workspace::launchApplication(const DesktopEntry& application, const QStringList& filesOrUrls)
{
    auto lines = application.commandLines(filesOrUrls);
    if (!lines)
        return std::unexpected(lines.error());
    for (const QStringList& argv : *lines)
        if (auto done = runApplication(application, argv); !done)
            return done;
    return {};
}

Result<void> Workspace::openFile(const QString& path)
{
    if (!QFileInfo::exists(path))
        return fail(kDomain, 1, QStringLiteral("Cannot open %1: the file does not exist").arg(path));
    if (auto app = handlerOf(m_applications.applicationsForMimeType(mimeTypeOfFile(path)))) {
        if (!*app)
            return std::unexpected(app->error());
        return launchApplication(**app, {path});
    }
    if (m_launcher.canFind(kOpener))
        return run({kOpener, path});
    return fail(kDomain, 2, QStringLiteral("No application is set to open %1").arg(path));
}

std::optional<DesktopEntry> Workspace::resolveApplication(const QString& application)
{
    if (application.endsWith(QLatin1String(".desktop")) && application.contains(QLatin1Char('/')))
        return m_applications.applicationForPath(application);
    if (auto byId = m_applications.applicationForId(application))
        return byId;
    return std::nullopt;
}

Result<void> Workspace::openFile(const QString& path, const QString& application)
{
    if (!QFileInfo::exists(path))
        return fail(kDomain, 1, QStringLiteral("Cannot open %1: the file does not exist").arg(path));
    if (auto app = resolveApplication(application))
        return launchApplication(*app, {path});
    if (application.startsWith(QLatin1Char('/')) && !application.endsWith(QLatin1String(".desktop"))
        && m_launcher.canFind(application))
        return run({application, path});
    return fail(kDomain, 3, QStringLiteral("Cannot open %1: the application %2 is not installed")
                                .arg(path, application));
}

Result<void> Workspace::openURL(const QUrl& url)
{
    if (!url.isValid() || url.scheme().isEmpty())
        return fail(kDomain, 4, QStringLiteral("Cannot open the address %1").arg(url.toString()));
    if (url.isLocalFile())
        return openFile(url.toLocalFile());
    const QString text = QString::fromUtf8(url.toEncoded());
    if (auto app = handlerOf(applicationsForURLScheme(url.scheme()))) {
        if (!*app)
            return std::unexpected(app->error());
        return launchApplication(**app, {text});
    }
    if (m_launcher.canFind(kOpener))
        return run({kOpener, text});
    return fail(kDomain, 5, QStringLiteral("No application is set to open %1 addresses").arg(url.scheme()));
}

Result<void> Workspace::selectFile(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return fail(kDomain, 6, QStringLiteral("Cannot show %1: the file does not exist").arg(path));
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    if (auto found = handlerOf(m_applications.applicationsForMimeType(kDirectoryType))) {
        if (!*found)
            return std::unexpected(found->error());
        const DesktopEntry& manager = **found;
        if (kSelectingFileManagers.contains(programName(manager))) {
            auto argv = manager.commandLineWithArguments({QStringLiteral("--select"), info.absoluteFilePath()});
            if (argv)
                return runApplication(manager, *argv);
        }
        return launchApplication(manager, {folder});
    }
    if (m_launcher.canFind(kOpener))
        return run({kOpener, folder});
    return fail(kDomain, 7, QStringLiteral("Cannot show %1: no file manager is installed").arg(path));
}

void Workspace::sessionBusShowItems(const QStringList& uris, const QString& startupId,
                                    std::function<void(bool shown)> answered)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return answered(false);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << startupId;
    // A file manager started by bus activation may take a moment; one that hangs is given up.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, answered = std::move(answered)] {
                         watcher->deleteLater();
                         answered(!watcher->isError());
                     });
}

Result<void> Workspace::selectFiles(const QStringList& paths)
{
    QStringList present;
    QStringList uris;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (path.isEmpty() || !info.exists())
            continue;
        present.append(info.absoluteFilePath());
        uris.append(QString::fromLatin1(QUrl::fromLocalFile(info.absoluteFilePath()).toEncoded()));
    }
    if (present.isEmpty())
        return fail(kDomain, 6, QStringLiteral("Cannot show the items: none of them exists"));
    const ShowItemsCall call = m_showItems ? m_showItems : ShowItemsCall(&Workspace::sessionBusShowItems);
    call(uris, QString(), [this, first = present.first()](bool shown) {
        if (shown)
            return;
        if (auto selected = selectFile(first); !selected)
            qWarning("%s", qPrintable(selected.error().toString()));
    });
    return {};
}

Result<QString> Workspace::recycle(const QString& path)
{
    return Trash::moveToTrash(path);
}

bool Workspace::isInvisibleFile(const QString& path)
{
    return QFileInfo(path).fileName().startsWith(QLatin1Char('.'));
}

Result<QDateTime> Workspace::creationDate(const QString& path)
{
    auto attributes = FileManager::attributesOfItem(path, true);
    if (!attributes)
        return std::unexpected(attributes.error());
    return attributes->creationDate;
}

Result<QDateTime> Workspace::modificationDate(const QString& path)
{
    auto attributes = FileManager::attributesOfItem(path, true);
    if (!attributes)
        return std::unexpected(attributes.error());
    return attributes->modificationDate;
}

bool Workspace::setCreationDate(const QString&, const QDateTime&)
{
    return false;
}

Result<void> Workspace::setModificationDate(const QString& path, const QDateTime& date)
{
    if (!date.isValid())
        return fail(kDomain, 8, QStringLiteral("Cannot set an invalid date on %1").arg(path));
    return FileManager::setModificationDate(path, date);
}

Result<void> Workspace::setFolderIcon(const QString& folder, const QString& iconPath)
{
    if (!QFileInfo(folder).isDir())
        return fail(kDomain, 9, QStringLiteral("Cannot set the icon of %1: not a folder").arg(folder));
    const QString file = folder + QLatin1Char('/') + kDirectoryFile;
    KeyFile entry;
    QFile existing(file);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return fail(kDomain, 10, QStringLiteral("Cannot read %1: %2").arg(file, existing.errorString()));
        entry = KeyFile::parse(existing.readAll());
    }
    entry.setValue(QStringLiteral("Desktop Entry"), QStringLiteral("Icon"), KeyFile::escape(iconPath));
    return FileManager::writeAtomically(file, entry.serialize());
}

QString Workspace::folderIcon(const QString& folder)
{
    QFile file(folder + QLatin1Char('/') + kDirectoryFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return KeyFile::unescape(KeyFile::parse(file.readAll()).value(QStringLiteral("Desktop Entry"),
                                                                  QStringLiteral("Icon")));
}

QString Workspace::iconNameForFile(const QString& path)
{
    return QMimeDatabase().mimeTypeForFile(path).iconName();
}

QIcon Workspace::iconForFile(const QString& path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    return icon;
}

QIcon Workspace::iconForApplication(const DesktopEntry& application)
{
    if (application.icon.startsWith(QLatin1Char('/')))
        return QIcon(application.icon);
    QIcon icon = QIcon::fromTheme(application.icon);
    return icon.isNull() ? QIcon::fromTheme(QStringLiteral("application-x-executable")) : icon;
}

} // namespace platform

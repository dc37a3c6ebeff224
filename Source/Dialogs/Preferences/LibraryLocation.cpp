#include "Dialogs/Preferences/LibraryLocation.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/DialogService.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/GlobalFun.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>
#include <unistd.h>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

bool canReadAndWrite(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

bool canWriteIn(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

LibraryLocation::Refusal refusal(const char* messageKey, const char* informativeKey)
{
    return {platform::localizedString(QLatin1String(messageKey)), platform::localizedString(QLatin1String(informativeKey))};
}

// The open panel for one folder, and the check of the folder chosen.
void askForFolder(platform::kit::DialogService& dialogs, QWidget* window, const platform::kit::OpenPanelOptions& options,
                  std::function<std::optional<LibraryLocation::Refusal>(const QString&)> check,
                  std::function<void(const QString&)> accepted)
{
    QPointer<QWidget> guard(window);
    dialogs.openPanel(window, options, [&dialogs, guard, window, check = std::move(check),
                                        accepted = std::move(accepted)](const QStringList& paths) {
        if (paths.isEmpty() || (window && !guard))
            return;
        const QString folder = QDir::cleanPath(paths.first());
        if (const auto refused = check(folder)) {
            auto alert = platform::kit::Alert::withMessage(refused->message, {}, {}, {}, refused->informative);
            dialogs.alert(guard, alert, [](int) {});
            return;
        }
        accepted(folder);
    });
}

void saveDefaults(const QString& what)
{
    if (!defaults().synchronize())
        KPLogLogMessage(QStringLiteral("Library location: the settings could not be saved (%1)").arg(what));
}

} // namespace

QString LibraryLocation::newLibraryPathIn(const QString& folder)
{
    return QStringLiteral("%1/%2").arg(QDir::cleanPath(folder), kNewLibraryName);
}

QString LibraryLocation::currentLibraryPath()
{
    return defaults().stringForKey(kLibraryPathKey);
}

std::optional<LibraryLocation::Refusal> LibraryLocation::checkExistingLibrary(const QString& path)
{
    if (path.isEmpty() || !DataBaseEngine::isValidDatabase(path))
        return refusal("InvalidLibraryStr", "InvalidLibraryTextStr");
    // A library the store could not write would only fail after the relaunch.
    const QString store = path + QStringLiteral("/library.db");
    if (!canReadAndWrite(store) || !canWriteIn(path))
        return refusal("LibraryNotAccessibleStr", "LibraryNotAccessibleTextStr");
    return std::nullopt;
}

std::optional<LibraryLocation::Refusal> LibraryLocation::checkNewLibraryFolder(const QString& folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir() || !canWriteIn(folder))
        return refusal("FolderNotWritableStr", "FolderNotWritableTextStr");
    // Whatever stands there already (a library or the user's own files) is never taken over,
    // and a library is not set up inside another.
    const QString path = newLibraryPathIn(folder);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink() || QFileInfo::exists(folder + QStringLiteral("/library.db")))
        return refusal("LibraryAlreadyThereStr", "LibraryAlreadyThereTextStr");
    return std::nullopt;
}

void LibraryLocation::useExistingLibrary(const QString& path)
{
    defaults().setString(path, kLibraryPathKey);
    saveDefaults(path);
    addRecentLibraryPath(path);
}

QString LibraryLocation::useNewLibraryIn(const QString& folder)
{
    const QString path = newLibraryPathIn(folder);
    defaults().setString(path, kLibraryPathKey);
    defaults().setBool(true, kFirstRunKey);
    saveDefaults(path);
    addRecentLibraryPath(path);
    return path;
}

void LibraryLocation::askForExistingLibrary(platform::kit::DialogService& dialogs, QWidget* window,
                                            std::function<void(const QString& path)> accepted)
{
    platform::kit::OpenPanelOptions options;
    options.canChooseFiles = false;
    options.canChooseDirectories = true;
    askForFolder(dialogs, window, options, &LibraryLocation::checkExistingLibrary, std::move(accepted));
}

void LibraryLocation::askForNewLibraryFolder(platform::kit::DialogService& dialogs, QWidget* window,
                                             std::function<void(const QString& folder)> accepted)
{
    platform::kit::OpenPanelOptions options;
    options.canChooseFiles = false;
    options.canChooseDirectories = true;
    options.directory = platform::Paths::homeDirectory();
    options.prompt = platform::localizedString(QStringLiteral("CreateLibraryHereStr"));
    askForFolder(dialogs, window, options, &LibraryLocation::checkNewLibraryFolder, std::move(accepted));
}

#include "Dialogs/Preferences/LibraryLocation.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/Kit/DialogService.h"
#include "Store/DBIndexFolder.h"
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

// Whether folder or any folder above it holds a library: the folders of a library belong to
// its store, and a library set up among them would be imported, renamed or removed with them.
bool isInsideLibrary(const QString& folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    for (const QString& start : {QDir::cleanPath(folder), canonical}) {
        if (start.isEmpty())
            continue;
        QDir dir(start);
        do {
            if (QFileInfo::exists(dir.filePath(QStringLiteral("library.db"))))
                return true;
        } while (dir.cdUp());
    }
    return false;
}

// Whether path lies in a folder the open library watches: the sync would take the library's
// own files in as documents.
bool isInsideWatchedFolder(const QString& path, DataBaseEngine* library)
{
    if (!library)
        library = DataBaseEngine::dataBaseEngine();
    if (!library || !library->isOpen())
        return false;
    const auto live = platform::Predicate::format(QStringLiteral("isTrash == NO"));
    if (!live)
        return false;
    auto folders = library->queryRecordByName(DBIndexFolder::entityName(), *live);
    if (!folders)
        return false;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const platform::ManagedObjectPtr& object : std::as_const(*folders)) {
        const DBIndexFolder watched(object);
        const QString folder = QDir::cleanPath(watched.path());
        const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
        if (platform::Paths::isPathInside(QDir::cleanPath(path), folder)
            || (!canonical.isEmpty() && !canonicalFolder.isEmpty()
                && platform::Paths::isPathInside(canonical, canonicalFolder)))
            return true;
    }
    return false;
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

std::optional<LibraryLocation::Refusal> LibraryLocation::checkExistingLibrary(const QString& path, DataBaseEngine* library)
{
    if (path.isEmpty() || !DataBaseEngine::isValidDatabase(path))
        return refusal("InvalidLibraryStr", "InvalidLibraryTextStr");
    // A library the store could not write would only fail after the relaunch.
    const QString store = path + QStringLiteral("/library.db");
    if (!canReadAndWrite(store) || !canWriteIn(path))
        return refusal("LibraryNotAccessibleStr", "LibraryNotAccessibleTextStr");
    if (isInsideWatchedFolder(path, library))
        return refusal("LibraryInWatchedFolderStr", "LibraryInWatchedFolderTextStr");
    return std::nullopt;
}

std::optional<LibraryLocation::Refusal> LibraryLocation::checkNewLibraryFolder(const QString& folder, DataBaseEngine* library)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir() || !canWriteIn(folder))
        return refusal("FolderNotWritableStr", "FolderNotWritableTextStr");
    // Whatever stands there already (a library or the user's own files) is never taken over,
    // and a library is not set up inside another.
    const QString path = newLibraryPathIn(folder);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return refusal("LibraryAlreadyThereStr", "LibraryAlreadyThereTextStr");
    if (isInsideLibrary(folder))
        return refusal("LibraryInsideLibraryStr", "LibraryInsideLibraryTextStr");
    if (isInsideWatchedFolder(path, library))
        return refusal("LibraryInWatchedFolderStr", "LibraryInWatchedFolderTextStr");
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
    askForFolder(dialogs, window, options, [](const QString& path) { return checkExistingLibrary(path); }, std::move(accepted));
}

void LibraryLocation::askForNewLibraryFolder(platform::kit::DialogService& dialogs, QWidget* window,
                                             std::function<void(const QString& folder)> accepted)
{
    platform::kit::OpenPanelOptions options;
    options.canChooseFiles = false;
    options.canChooseDirectories = true;
    options.directory = platform::Paths::homeDirectory();
    options.prompt = platform::localizedString(QStringLiteral("CreateLibraryHereStr"));
    askForFolder(dialogs, window, options, [](const QString& folder) { return checkNewLibraryFolder(folder); },
                 std::move(accepted));
}

#include "Dialogs/Preferences/NotFoundDataBaseWindowController.h"

#include "Dialogs/Preferences/LibraryLocation.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/DialogService.h"

#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <utility>

NotFoundDataBaseWindowController::NotFoundDataBaseWindowController(Mode mode, platform::kit::DialogService* dialogs,
                                                                   QWidget* parent)
    : m_mode(mode), m_dialogs(dialogs)
{
    buildNotFoundDataBaseWindow(m_outlets, parent);
    connect(m_outlets.window, &QDialog::finished, this, [this] {
        if (auto closed = std::exchange(m_closed, {}))
            closed(m_chose);
    });
    awakeFromNib();
}

NotFoundDataBaseWindowController::~NotFoundDataBaseWindowController()
{
    m_closed = {};
    // The window is no child of the controller (start-up keeps the controller on its stack).
    if (m_outlets.window)
        m_outlets.window->deleteLater();
}

platform::kit::DialogService& NotFoundDataBaseWindowController::dialogs() const
{
    return m_dialogs ? *m_dialogs : platform::kit::DialogService::shared();
}

void NotFoundDataBaseWindowController::awakeFromNib()
{
    auto connectButton = [this](QPushButton* button, void (NotFoundDataBaseWindowController::*action)()) {
        connect(button, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
    };
    if (m_mode == Mode::Rechoose)
        m_outlets.txtHint->setText(platform::localizedString(
            QStringLiteral("You're not authorized to access this library, please rechoose a library.")));
    if (m_mode != Mode::CreateNew) {
        connectButton(m_outlets.btnChoose, &NotFoundDataBaseWindowController::btnChooseLibrary);
        connectButton(m_outlets.btnCreate, &NotFoundDataBaseWindowController::btnCreateNewLibrary);
        return;
    }
    m_outlets.txtTitle->setText(platform::localizedString(QStringLiteral("Create a Folivo Library")));
    m_outlets.txtHint->setText(platform::localizedString(
        QStringLiteral("You need to create a new Folivo Library or choose an existing one to continue.")));
    const QString chooseTitle = m_outlets.btnChoose->text();
    m_outlets.btnChoose->setText(m_outlets.btnCreate->text());
    m_outlets.btnCreate->setText(chooseTitle);
    connectButton(m_outlets.btnChoose, &NotFoundDataBaseWindowController::btnCreateNewLibrary);
    connectButton(m_outlets.btnCreate, &NotFoundDataBaseWindowController::btnChooseLibrary);
}

void NotFoundDataBaseWindowController::showWindow(std::function<void(bool chose)> closed)
{
    m_closed = std::move(closed);
    m_outlets.window->setWindowModality(Qt::ApplicationModal);
    m_outlets.window->show();
}

bool NotFoundDataBaseWindowController::runModal()
{
    // The one nested loop of the program: start-up waits here before anything else exists.
    QEventLoop loop;
    showWindow([&loop](bool) { loop.quit(); });
    if (m_outlets.window && m_outlets.window->isVisible())
        loop.exec();
    return m_chose;
}

void NotFoundDataBaseWindowController::finish(int code)
{
    m_resultCode = code;
    m_chose = true;
    m_outlets.window->done(code);
}

void NotFoundDataBaseWindowController::btnChooseLibrary()
{
    LibraryLocation::askForExistingLibrary(dialogs(), m_outlets.window, [self = QPointer(this)](const QString& path) {
        if (!self || !self->m_outlets.window)
            return;
        LibraryLocation::useExistingLibrary(path);
        self->finish(kChosenCode);
    });
}

void NotFoundDataBaseWindowController::btnCreateNewLibrary()
{
    LibraryLocation::askForNewLibraryFolder(dialogs(), m_outlets.window, [self = QPointer(this)](const QString& folder) {
        if (!self || !self->m_outlets.window)
            return;
        LibraryLocation::useNewLibraryIn(folder);
        self->finish(kCreatedCode);
    });
}

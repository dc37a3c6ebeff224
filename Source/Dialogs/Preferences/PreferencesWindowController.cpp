#include "Dialogs/Preferences/PreferencesWindowController.h"

#include "Controls/KP28ColorsPicker.h"
#include "Dialogs/Preferences/FormatListViewCell.h"
#include "Dialogs/Preferences/LibraryLocation.h"
#include "Import/KPFileFormatManager.h"
#include "Mail/SendMailClient.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/WindowPlacement.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Mail/MailComposer.h"
#include "Platform/Workspace/Workspace.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"
#include "Tools/Sources/SourceSetupViewController.h"
#include "Tools/Sources/SourceiCloudSetupWindowController.h"
#include "Utilities/FlagNames.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

const QStringList kThemeSwatches{QStringLiteral("dark,73,73,73"),     QStringLiteral("light,203,211,211"),
                                 QStringLiteral("gray,111,125,140"),  QStringLiteral("blue,58,152,219"),
                                 QStringLiteral("red,237,111,112"),   QStringLiteral("green,65,161,133"),
                                 QStringLiteral("yellow,226,198,112")};

// A flag name as typed, made fit to keep: no line breaks or other control characters, no
// surrounding blanks, and not longer than the field allows.
QString cleanFlagName(const QString& typed)
{
    QString name;
    for (QChar c : typed)
        name += (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) ? QLatin1Char(' ') : c;
    return name.simplified().left(kMaxFlagNameLength);
}

bool isKindNumber(const QString& id)
{
    bool ok = false;
    id.trimmed().toLongLong(&ok);
    return ok;
}

} // namespace

PreferencesWindowController* PreferencesWindowController::showPreferences(QWidget* parent, PreferencesPane start,
                                                                          Services services)
{
    auto* controller = new PreferencesWindowController(start, std::move(services), parent);
    QDialog* window = controller->window();
    // Application-modal without a nested event loop (open() would make it window-modal).
    window->setWindowModality(Qt::ApplicationModal);
    platform::kit::placeCentred(window, parent ? parent->window() : nullptr);
    window->show();
    return controller;
}

PreferencesWindowController::PreferencesWindowController(PreferencesPane start, Services services, QWidget* parent)
    : m_services(std::move(services)), m_startPane(start)
{
    buildPreferencesWindow(m_outlets, parent);
    // The controller goes with its window.
    setParent(m_outlets.window);
    m_outlets.window->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_outlets.window, &QDialog::finished, this, [this] { windowWillClose(); });
    awakeFromNib();
}

PreferencesWindowController::~PreferencesWindowController() = default;

platform::kit::DialogService& PreferencesWindowController::dialogs() const
{
    return m_services.dialogs ? *m_services.dialogs : platform::kit::DialogService::shared();
}

KPFileFormatManager& PreferencesWindowController::formatManager() const
{
    return m_services.formatManager ? *m_services.formatManager : KPFileFormatManager::fileFormatManager();
}

void PreferencesWindowController::awakeFromNib()
{
    connect(m_outlets.paneGroup, &QActionGroup::triggered, this,
            [this](QAction* item) { switchViews(PreferencesPane(item->data().toInt())); });

    QWidget* general = m_outlets.views[int(PreferencesPane::General)];
    const QRect pickerFrame = platform::kit::toQt(QRectF(kThemePickerX, kThemePickerY, kThemePickerWidth, kThemePickerHeight),
                                                  general->height()).toRect();
    m_themePicker = new KP28ColorsPicker(kThemeSwatches, pickerFrame, general);
    m_pickerObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KP28ColorsPicker::kChangeNotification,
        [this](const platform::Notification& note) { on28ColorsPickerChange(note.object.toString()); });

    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KPThemeManager::kThemeChangeNotification, [this](const platform::Notification&) { showStoredTheme(); });
    showStoredTheme();
    connect(m_outlets.themeMaxtrix, &QButtonGroup::idClicked, this, [this](int tag) { btnSwitchThemeClick(tag); });

    fillMailPopUp();
    connect(m_outlets.mailClientPopButton, &QComboBox::activated, this, [this](int index) { btnMailClientChange(index); });

    m_outlets.pathControl->setText(LibraryLocation::currentLibraryPath());
    m_outlets.pathControl->setToolTip(LibraryLocation::currentLibraryPath());
    connect(m_outlets.pathControl, &QPushButton::clicked, this, [this] { pathControlDoubleClick(); });
    connect(m_outlets.btnChooseLibrary, &QPushButton::clicked, this, [this] { btnChooseLibrary(); });
    connect(m_outlets.btnCreateLibrary, &QPushButton::clicked, this, [this] { menuCreateNewLibraryClick(); });

    switchViews(m_startPane);
}

void PreferencesWindowController::fillMailPopUp()
{
    QComboBox* popUp = m_outlets.mailClientPopButton;
    const QList<platform::MailProgram> programs = m_services.installedMailPrograms
        ? m_services.installedMailPrograms()
        : SendMailClient::composer().installedMailPrograms();
    popUp->addItem(platform::localizedString(QStringLiteral("SystemDefaultMailStr")), kSystemDefaultMail);
    for (const platform::MailProgram& program : programs) {
        if (program.application.id.isEmpty() || popUp->findData(program.application.id) >= 0)
            continue;
        popUp->addItem(platform::Workspace::iconForApplication(program.application), program.application.name,
                       program.application.id);
    }
    popUp->addItem(platform::localizedString(QStringLiteral("SaveAsMailFileStr")), kSaveAsMailFile);
    // A stored choice that is no longer offered (a removed program, an identifier of another
    // platform) shows the system default, as the sender then uses it.
    const int stored = popUp->findData(defaults().stringForKey(kMailClientKey));
    popUp->setCurrentIndex(stored >= 0 ? stored : 0);
}

void PreferencesWindowController::btnMailClientChange(int index)
{
    const QString choice = m_outlets.mailClientPopButton->itemData(index).toString();
    if (choice.isEmpty())
        return;
    defaults().setString(choice, kMailClientKey);
    defaults().synchronize();
}

void PreferencesWindowController::applyTheme(const QString& name)
{
    const bool loaded = m_services.updateThemeByName ? m_services.updateThemeByName(name)
                                                     : KPThemeManager::themeManager()->updateThemeByName(name);
    // A theme that failed to load is not stored, or every start would try it again.
    if (!loaded) {
        KPLogLogMessage(QStringLiteral("Preferences: the theme \"%1\" could not be loaded").arg(name));
    } else {
        defaults().setString(name, kThemeNameKey);
        defaults().synchronize();
    }
    // Both choosers show the theme in force, whichever of them chose it and whether it loaded.
    showStoredTheme();
}

void PreferencesWindowController::showStoredTheme()
{
    const QString theme = defaults().stringForKey(kThemeNameKey);
    if (m_themePicker)
        m_themePicker->selectWithName(theme);
    const bool inMatrix = theme == QStringLiteral("light") || theme == QStringLiteral("dark");
    // Neither cell stands for a colour theme; an exclusive group would keep one checked.
    m_outlets.themeMaxtrix->setExclusive(false);
    for (QAbstractButton* cell : m_outlets.themeMaxtrix->buttons())
        cell->setChecked(inMatrix && m_outlets.themeMaxtrix->id(cell) == (theme == QStringLiteral("light") ? 2 : 1));
    m_outlets.themeMaxtrix->setExclusive(true);
}

void PreferencesWindowController::on28ColorsPickerChange(const QString& name)
{
    if (!name.isEmpty())
        applyTheme(name);
}

void PreferencesWindowController::btnSwitchThemeClick(int tag)
{
    applyTheme(tag == 2 ? QStringLiteral("light") : QStringLiteral("dark"));
}

void PreferencesWindowController::switchViews(PreferencesPane pane)
{
    if (QAction* item = m_outlets.items.value(pane))
        item->setChecked(true);
    else if (QAction* checked = m_outlets.paneGroup->checkedAction())
        checked->setChecked(false);
    switchViewsWithTabName(pane);
}

void PreferencesWindowController::switchToSourceView()
{
    m_delayed.perform(kSwitchToSourceDelayMs, [this] { switchViews(PreferencesPane::Source); });
}

void PreferencesWindowController::switchViewsWithTabName(PreferencesPane pane)
{
    m_currentPane = pane;
    m_outlets.window->setWindowTitle(preferencesPaneName(pane));
    if (pane == PreferencesPane::Source)
        prepareSourcePane();
    else if (pane == PreferencesPane::Flags)
        prepareFlagsPane();
    else if (pane == PreferencesPane::Formats && !m_unSupportKindIDS)
        prepareFormatsPane();
    QWidget* view = m_outlets.views[int(pane)];
    m_outlets.stack->setCurrentWidget(view);
    resizeWindowTo(view->size());
}

void PreferencesWindowController::prepareSourcePane()
{
    if (m_sourcePane)
        return;
    QWidget* holder = m_outlets.views[int(PreferencesPane::Source)];
    if (m_services.makeSourcePane) {
        m_sourcePane = m_services.makeSourcePane();
    } else {
        auto* controller = new SourceSetupViewController(SourceServices::shared(), holder);
        m_sourcePane = controller->view();
    }
    if (!m_sourcePane)
        return;
    m_sourcePane->setParent(holder);
    const QSize size = m_sourcePane->size().expandedTo(m_sourcePane->minimumSize());
    m_sourcePane->setGeometry(QRect(QPoint(20, 20), size));
    m_sourcePane->show();
    holder->setFixedSize(std::max(holder->width(), size.width() + 40), size.height() + 40);
}

void PreferencesWindowController::prepareFlagsPane()
{
    auto* flags = KPThemeObject::customThemeObjectWithName(QStringLiteral("Flag"));
    for (int n : kFlagDisplayOrder) {
        if (auto* sprite = flags ? flags->themeObjectWithName<KPSprite>(QString::number(n)) : nullptr)
            m_outlets.flagImages.value(n)->setPixmap(QPixmap::fromImage(sprite->image()));
        if (QLineEdit* field = m_outlets.flagFields.value(n * 10 + n))
            field->setText(flagNameForIndex(n));
    }
}

void PreferencesWindowController::prepareFormatsPane()
{
    KPFileFormatManager& manager = formatManager();
    m_unSupportKindIDS = QStringList();
    // What the defaults hold beyond kind numbers is dropped when the window closes.
    for (const QString& id : manager.unSupportKindIDS())
        if (isKindNumber(id) && !m_unSupportKindIDS->contains(id.trimmed()))
            m_unSupportKindIDS->append(id.trimmed());
    QTableWidget* table = m_outlets.formatTableView;
    const QStringList kinds = manager.kindList();
    table->setRowCount(int(kinds.size()));
    for (int row = 0; row < kinds.size(); ++row) {
        const qint64 id = manager.kindIDByKindName(kinds.at(row));
        auto* cell = new FormatListViewCell(id, kinds.at(row), !m_unSupportKindIDS->contains(QString::number(id)));
        cell->onCheckChange = [this](FormatListViewCell* c) { onFormatListViewCellCheckChange(c); };
        table->setCellWidget(row, 0, cell);
        table->setRowHeight(row, 30);
        m_formatCells.append(cell);
    }
}

void PreferencesWindowController::onFormatListViewCellCheckChange(FormatListViewCell* cell)
{
    if (!m_unSupportKindIDS || !m_formatCells.contains(cell))
        return;
    const QString id = QString::number(cell->kindID());
    if (!m_unSupportKindIDS->removeAll(id))
        m_unSupportKindIDS->append(id);
}

void PreferencesWindowController::resizeWindowTo(const QSize& paneSize)
{
    QDialog* window = m_outlets.window;
    const QSize size(paneSize.width(), paneSize.height() + m_outlets.toolBar->sizeHint().height());
    if (!window->isVisible()) {
        window->setFixedSize(size);
        return;
    }
    // The top edge and the horizontal centre stay where they are, unless the taller pane would
    // then reach below the screen: it moves up as far as it needs.
    const QRect old = window->geometry();
    QRect target(old.x() + (old.width() - size.width()) / 2, old.y(), size.width(), size.height());
    if (const QScreen* screen = window->screen()) {
        const QRect free = screen->availableGeometry();
        target.moveTop(std::max(free.top() + platform::kit::kWindowFrameAllowance / 2,
                                std::min(target.top(), free.bottom() + 1 - target.height())));
    }
    window->setMinimumSize(QSize(0, 0));
    window->setMaximumSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    auto fix = [window, size] { window->setFixedSize(size); };
    if (auto* animation = platform::kit::AnimationPolicy::current().animate(window, "geometry", target, kResizeMs))
        connect(animation, &QPropertyAnimation::finished, window, fix);
    else
        fix();
}

void PreferencesWindowController::pathControlDoubleClick()
{
    const QString path = LibraryLocation::currentLibraryPath();
    if (path.isEmpty())
        return;
    if (m_services.reveal) {
        m_services.reveal(path);
        return;
    }
    if (auto shown = platform::Workspace::shared().selectFile(path); !shown)
        KPLogLogMessage(QStringLiteral("Preferences: the library could not be shown: %1").arg(shown.error().message));
}

void PreferencesWindowController::menuCreateNewLibraryClick()
{
    LibraryLocation::askForNewLibraryFolder(dialogs(), m_outlets.window, [self = QPointer(this)](const QString& folder) {
        if (!self || self->m_relaunchPending)
            return;
        LibraryLocation::useNewLibraryIn(folder);
        self->libraryChanged();
    });
}

void PreferencesWindowController::btnChooseLibrary()
{
    LibraryLocation::askForExistingLibrary(dialogs(), m_outlets.window, [self = QPointer(this)](const QString& path) {
        // The library in use already: nothing to change, nothing to relaunch for.
        if (!self || self->m_relaunchPending || path == QDir::cleanPath(LibraryLocation::currentLibraryPath()))
            return;
        LibraryLocation::useExistingLibrary(path);
        self->libraryChanged();
    });
}

void PreferencesWindowController::libraryChanged()
{
    m_outlets.pathControl->setText(LibraryLocation::currentLibraryPath());
    m_relaunchPending = true;
    m_delayed.perform(kRelaunchDelayMs, [this] { showRelaunchSheet(); });
}

void PreferencesWindowController::showRelaunchSheet()
{
    auto alert = platform::kit::Alert::withMessage(
        platform::localizedString(QStringLiteral("Require relaunch Folivo to complete change library localtion.")),
        platform::localizedString(QStringLiteral("OK")), {}, {},
        platform::localizedString(QStringLiteral("Click Relaunch to restart Folivo now.")));
    // Whatever the answer, and even when the window is gone by then: the library in the
    // settings is no longer the one open.
    dialogs().alert(m_closed ? nullptr : m_outlets.window.data(), alert, [relaunch = m_services.relaunch](int) {
        if (relaunch)
            relaunch();
    });
}

void PreferencesWindowController::windowWillClose()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_unSupportKindIDS) {
        defaults().setString(m_unSupportKindIDS->join(QLatin1Char(',')), kUnSupportKindIDsKey);
        defaults().synchronize();
        formatManager().reloadUnSupportKindIDS();
    } else {
        defaults().synchronize();
    }
    for (int n : kFlagDisplayOrder) {
        QLineEdit* field = m_outlets.flagFields.value(n * 10 + n);
        if (!field || field->text().isEmpty())
            continue;
        const QString name = cleanFlagName(field->text());
        if (!name.isEmpty() && name != flagNameForIndex(n))
            setFlagNameForIndex(n, name);
    }
    if (m_relaunchPending && m_delayed.pendingCount() > 0) {
        m_delayed.cancelAll();
        showRelaunchSheet();
    }
}

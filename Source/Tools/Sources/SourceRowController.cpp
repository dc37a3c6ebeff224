#include "Tools/Sources/SourceRowController.h"

#include "Tools/Sources/IndexFolderType.h"
#include "Tools/Sources/RemoveDocumentSourceWindowContorllerWindowController.h"
#include "Tools/Sources/SourceItemDisconnectButton.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

using namespace platform;

namespace {

// The pause between confirming a folder and announcing it.
constexpr int kConnectDelayMs = 300;
const QColor kBottomLineColor(197, 197, 197);

QString cleanFolder(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

bool isFolder(const QString& path)
{
    bool directory = false;
    return !path.isEmpty() && FileManager::fileExists(path, &directory) && directory;
}

} // namespace

SourceRowController::SourceRowController(SourceServices services, QString title, QString type, QString defaultFolder,
                                         bool withPathControl, QWidget* parent)
    : m_services(std::move(services))
    , m_title(std::move(title))
    , m_type(std::move(type))
    , m_defaultFolder(std::move(defaultFolder))
{
    if (withPathControl)
        buildSourceItemView(m_outlets, parent);
    else
        buildSourceItemCloudView(m_outlets, parent);
    setParent(m_outlets.view);
    m_outlets.txtTitle->setText(m_title);
    m_outlets.view->setDrawBackgroudWithSelector(
        [this](KPCoustomDrawBGView*, QPainter& painter, const QRectF&) { onDrawBG(painter); });
    QObject::connect(m_outlets.btnConnect, &QPushButton::clicked, this, [this] { chooseFolder(); });
    m_outlets.btnDisconnect->setAction([this](SourceItemDisconnectButton*) { onDisconnectClick(); });
}

SourceRowController::~SourceRowController() = default;

QWidget* SourceRowController::view() const
{
    return m_outlets.view;
}

void SourceRowController::setBgColor(const QColor& color)
{
    m_bgColor = color;
    m_outlets.view->update();
}

void SourceRowController::onDrawBG(QPainter& painter)
{
    kit::Canvas canvas(painter, m_outlets.view->height());
    const qreal width = m_outlets.view->width();
    canvas.fillRect(QRectF(0, 0, width, m_outlets.view->height()), m_bgColor);
    canvas.strokeLine(QPointF(0, 0.5), QPointF(width, 0.5), QPen(kBottomLineColor, 1.0));
}

QString SourceRowController::pathText(const QString& folder, bool shortened)
{
    QStringList cells = cleanFolder(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (shortened && cells.size() >= 3)
        cells = cells.mid(2);
    return cells.join(QStringLiteral(" \u25B8 "));
}

QList<DBIndexFolder> SourceRowController::liveIndexFolders(const QString& type) const
{
    DataBaseEngine* library = m_services.stores.library;
    if (!library || !library->context())
        return {};
    auto predicate = type.isEmpty() ? Predicate::format(QStringLiteral("isTrash == NO"))
                                    : Predicate::format(QStringLiteral("type == %@ && isTrash == NO"), {type});
    if (!predicate)
        return {};
    auto found = library->queryRecordByName(DBIndexFolder::entityName(), *predicate);
    if (!found) {
        KPLogLogDomainMessage(QStringLiteral("IndexFolder"), 0,
                              QStringLiteral("Sources: %1").arg(found.error().toString()));
        return {};
    }
    return DBRecord::recordsOf<DBIndexFolder>(*found);
}

void SourceRowController::loadState()
{
    const QList<DBIndexFolder> sources = liveSources();
    if (!sources.isEmpty()) {
        const QString folder = cleanFolder(sources.last().path());
        if (isFolder(folder)) {
            m_indexFolderPath = folder;
            showState(State::Connected);
        } else {
            showState(State::Missing);
        }
        return;
    }
    showState(isFolder(m_defaultFolder) ? State::Available : State::NotFound);
}

void SourceRowController::showState(State state)
{
    m_state = state;
    if (state != State::Connected)
        m_indexFolderPath.clear();
    const bool connected = state == State::Connected;
    const bool notFound = state == State::Missing || state == State::NotFound;
    if (QLabel* path = m_outlets.pathControl) {
        path->setVisible(connected || state == State::Available);
        const QString shown = connected ? m_indexFolderPath : m_defaultFolder;
        path->setText(pathText(shown, !connected));
        path->setToolTip(shown);
    }
    m_outlets.txtNotFound->setVisible(notFound);
    m_outlets.btnConnect->setVisible(!connected);
    m_outlets.btnConnect->setEnabled(state != State::NotFound || connectsWithoutDefaultFolder());
    m_outlets.btnDisconnect->setVisible(connected);
}

void SourceRowController::chooseFolder()
{
    if (m_chooser || m_connecting)
        return;
    QWidget* window = m_outlets.view->window();
    auto* chooser = new QFileDialog(window, chooserMessage(), isFolder(m_defaultFolder) ? m_defaultFolder : m_services.realHome);
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    chooser->setLabelText(QFileDialog::Accept, localizedString(QStringLiteral("Connect Folder")));
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    m_chooser = chooser;
    QObject::connect(chooser, &QDialog::finished, this, [this, chooser](int result) {
        const QString folder = chooser->selectedFiles().value(0);
        if (result == QDialog::Accepted && !folder.isEmpty())
            folderChosen(cleanFolder(folder));
    });
    chooser->open();
}

bool SourceRowController::isLibraryFolder(const QString& folder) const
{
    const QString library = cleanFolder(m_services.stores.libraryPath);
    if (library.isEmpty())
        return false;
    if (Paths::isPathInside(folder, library))
        return true;
    // Through a link the walk would still reach the library's own files.
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    const QString realLibrary = QFileInfo(library).canonicalFilePath();
    return !realFolder.isEmpty() && !realLibrary.isEmpty() && Paths::isPathInside(realFolder, realLibrary);
}

bool SourceRowController::isConnectedElsewhere(const QString& folder) const
{
    const QList<DBIndexFolder> live = liveIndexFolders();
    return std::any_of(live.cbegin(), live.cend(),
                       [&](const DBIndexFolder& source) { return cleanFolder(source.path()) == folder; });
}

void SourceRowController::folderChosen(const QString& folder)
{
    if (isLibraryFolder(folder)) {
        kit::Alert::withMessage(localizedString(QStringLiteral("The library folder cannot be a document source.")), {})
            .beginSheet(m_outlets.view->window(), {});
        return;
    }
    if (isConnectedElsewhere(folder))
        return;
    m_connecting = true;
    kit::Scheduler::current().after(this, kConnectDelayMs, [this, folder] {
        m_connecting = false;
        NotificationCenter::defaultCenter().post(AddIndexFolderNotification, indexFolderDicInfo(folder, m_title, m_type));
        m_indexFolderPath = folder;
        showState(State::Connected);
    });
}

void SourceRowController::onDisconnectClick()
{
    const QString folder = m_indexFolderPath.isEmpty() ? m_defaultFolder : m_indexFolderPath;
    if (folder.isEmpty())
        return;
    auto* removal = new RemoveDocumentSourceWindowContorllerWindowController(m_services.stores);
    const QPointer<SourceRowController> self(this);
    removal->removeSourceWithPath(folder, m_title, m_outlets.view->window(), [self, folder](bool removed) {
        if (!removed)
            return;
        NotificationCenter::defaultCenter().post(RemoveIndexFolderNotification, folder);
        if (self)
            self->showState(isFolder(self->m_defaultFolder) ? State::Available : State::NotFound);
    });
}

#include "SafeBox/Views/SafeBoxMainWindowPane.h"

#include "Platform/Kit/Alert.h"
#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Foundation/Dispatch.h"
#include "SafeBox/SafeBoxCreator.h"
#include "SafeBox/SafeBoxPaths.h"
#include "SafeBox/Views/SafeBoxSettingViewController.h"
#include "SafeBox/Views/SafeboxSetupWindowController.h"
#include "SafeBox/SafeBoxFolderSyncer.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "SafeBox/Views/RemoveSafeBoxFilesWindowController.h"
#include "SafeBox/Views/SafeBoxSetupViewController.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kToolBarWidth = 82;

} // namespace

SafeBoxMainWindowPane::SafeBoxMainWindowPane(Hooks hooks) : m_hooks(std::move(hooks))
{
    platform::NotificationCenter& center =
        m_hooks.notifications ? *m_hooks.notifications : platform::NotificationCenter::defaultCenter();
    m_loginObserver = center.addObserver(QStringLiteral("SafeBoxLoginSuccess"),
                                         [this](const platform::Notification& n) { onSafeBoxLoginSuccess(n); });
}

SafeBoxMainWindowPane::~SafeBoxMainWindowPane()
{
    *m_alive = false;
    if (m_syncer)
        m_syncer->stopSync();
    delete m_setupView.data();
    m_safeBoxSettingPopver.reset();
    delete m_safeboxToolBar.data();
}

void SafeBoxMainWindowPane::showSetupView(bool setupMode)
{
    removeSetupView();
    QWidget* center = m_hooks.centerView ? m_hooks.centerView() : nullptr;
    if (!center)
        return;
    SafeBoxSetupViewController::Services services;
    services.storeFile = m_hooks.storeFile ? m_hooks.storeFile() : QString();
    services.runtimeFolder = m_hooks.runtimeFolder ? m_hooks.runtimeFolder() : QString();
    services.rememberLogin = m_hooks.rememberLogin;
    services.notifications = m_hooks.notifications;
    services.scheduler = m_hooks.scheduler;
    m_setupView = new SafeBoxSetupViewController(setupMode, services, center);
    layoutSafeBoxSetupView();
    m_setupView->show();
    m_setupView->raise();
    // A sheet on the window (the alert after a password change) keeps the keys: a field focused
    // beneath it would take the typing and the Return meant for it.
    if (platform::kit::Sheet::shownSheet(center->window()))
        return;
    if (setupMode)
        m_setupView->setFocus();
    else
        m_setupView->makeFirstResponerToInput();
}

void SafeBoxMainWindowPane::removeSetupView()
{
    delete m_setupView.data();
    if (m_safeboxToolBar)
        m_safeboxToolBar->hide();
}

void SafeBoxMainWindowPane::layoutSafeBoxSetupView()
{
    QWidget* bar = m_hooks.toolBar ? m_hooks.toolBar() : nullptr;
    QWidget* center = m_hooks.centerView ? m_hooks.centerView() : nullptr;
    if (m_safeboxToolBar && bar)
        m_safeboxToolBar->move(bar->width() - 2 * kToolBarWidth, 0);
    if (m_setupView && center) {
        const QSize outer = center->size();
        const QSize inner = m_setupView->size();
        // Centred; in an area narrower or lower than the panel, from its top-left corner, where
        // the text begins.
        m_setupView->move(std::max(0, int(std::lround((outer.width() - inner.width()) * 0.5))),
                          std::max(0, int(std::lround((outer.height() - inner.height()) * 0.5))));
    }
}

void SafeBoxMainWindowPane::onSafeBoxLoginSuccess(const platform::Notification& notification)
{
    const QString path = notification.object.toString();
    if (path.isEmpty())
        return;
    m_safeBoxAttactPath = path;
    delete m_setupView.data();
    refreshSafeBoxDataSource();
    watchSealer();
}

void SafeBoxMainWindowPane::watchSealer()
{
    m_sealerWarned = false;
    platform::kit::Scheduler& scheduler = m_hooks.scheduler ? *m_hooks.scheduler : platform::kit::Scheduler::current();
    m_sealerWatch = scheduler.every(kSealerWatchMs, [this] { checkSealer(); });
}

void SafeBoxMainWindowPane::checkSealer()
{
    const QString disk = m_hooks.safeBoxDisk ? m_hooks.safeBoxDisk() : QString();
    // A lock, a resize or a password change stands the sealer down on purpose; a folder that
    // went away is a vanished box, not a dead sealer.
    if (disk.isEmpty() || m_safeBoxAttactPath.isEmpty() || m_locking || m_settingSheet || m_resumingSealer
        || !QFileInfo(m_safeBoxAttactPath).isDir())
        return;
    const bool running = m_hooks.sealerRunning ? m_hooks.sealerRunning(disk) : [&disk] {
        const auto entry = platform::sbx::readRegistryEntry(disk);
        return (entry && platform::sbx::isSealerAlive(entry->sealerPid, disk))
               || platform::sbx::isSealerAlive(platform::sbx::readSealStatus(disk).sealerPid, disk);
    }();
    if (running)
        return;
    KPLogLogDomainMessage(QStringLiteral("SafeBox"), 0,
                          QStringLiteral("the sealer of %1 ended; starting another").arg(disk));
    m_resumingSealer = true;
    auto done = [this, alive = m_alive, disk](bool ok, const QString& error) {
        if (!*alive)
            return;
        m_resumingSealer = false;
        if (ok) {
            KPLogLogDomainMessage(QStringLiteral("SafeBox"), 0, QStringLiteral("a new sealer of %1 runs").arg(disk));
            m_sealerWarned = false;
            return;
        }
        KPLogLogDomainMessage(QStringLiteral("SafeBox"), 0,
                              QStringLiteral("no new sealer of %1 could be started: %2").arg(disk, error.trimmed()));
        // Closed meanwhile (a lock or the quit's detach): nothing is left to seal.
        const QString current = m_hooks.safeBoxDisk ? m_hooks.safeBoxDisk() : QString();
        if (m_sealerWarned || current != disk || m_safeBoxAttactPath.isEmpty() || error.contains(QStringLiteral("No such device")))
            return;
        m_sealerWarned = true;
        platform::kit::DialogService& dialogs =
            m_hooks.dialogs ? *m_hooks.dialogs : platform::kit::DialogService::shared();
        dialogs.alert(m_hooks.window ? m_hooks.window() : nullptr,
                      platform::kit::Alert::withMessage(
                          QObject::tr("The SafeBox's changes are not being saved"), QObject::tr("OK"), {}, {},
                          QObject::tr("The helper that writes the open SafeBox back into its file stopped and could "
                                      "not be started again (%1). Lock the SafeBox to save what it holds now.")
                              .arg(error.trimmed())),
                      [](int) {});
    };
    if (m_hooks.resumeSealer) {
        m_hooks.resumeSealer(disk, std::move(done));
        return;
    }
    const QString storeFile = m_hooks.storeFile ? m_hooks.storeFile() : QString();
    platform::Dispatch::async(platform::DispatchQueue::global(), [storeFile, disk, done = std::move(done)] {
        const SafeBoxOutcome outcome = SafeBoxCreator(storeFile, {}).resume(disk);
        platform::Dispatch::main([outcome, done] { done(outcome.success, outcome.error.value_or(QString())); });
    });
}

void SafeBoxMainWindowPane::refreshSafeBoxDataSource()
{
    if (m_safeBoxAttactPath.isEmpty())
        return;
    if (m_bLoadingSafeBoxDataSource) {
        m_listingAgain = true;
        return;
    }
    m_bLoadingSafeBoxDataSource = true;
    if (m_hooks.updateNode)
        m_hooks.updateNode(m_safeBoxDataSource.size(), true);
    m_syncer = SafeBoxFolderSyncer::create(m_safeBoxAttactPath);
    const QString listed = m_safeBoxAttactPath;
    m_syncer->startSyncWithCompleted([this, alive = m_alive, listed](const QList<QVariantMap>& items) {
        if (!*alive)
            return;
        m_syncer.reset();
        m_bLoadingSafeBoxDataSource = false;
        // A box locked (or another one opened) while it was listed keeps what it shows now.
        if (listed == m_safeBoxAttactPath) {
            m_safeBoxDataSource = items;
            if (m_hooks.updateNode)
                m_hooks.updateNode(items.size(), false);
            if (m_hooks.isSafeBoxNodeShown && m_hooks.isSafeBoxNodeShown())
                loadSafeBoxDataSource();
        }
        if (m_listingAgain) {
            m_listingAgain = false;
            refreshSafeBoxDataSource();
        }
    });
}

void SafeBoxMainWindowPane::loadSafeBoxDataSource()
{
    if (m_safeBoxAttactPath.isEmpty())
        return;
    QWidget* bar = m_hooks.toolBar ? m_hooks.toolBar() : nullptr;
    if (!m_safeboxToolBar && bar) {
        m_safeboxToolBar = new QWidget(bar);
        m_safeboxToolBar->setObjectName(QStringLiteral("safeboxToolBar"));
        auto* layout = new QHBoxLayout(m_safeboxToolBar);
        layout->setContentsMargins(0, 0, 0, 0);
        m_btnSafeBoxSetting = new QPushButton(QObject::tr("Settings"), m_safeboxToolBar);
        m_btnSafeBoxSetting->setToolTip(QObject::tr("SafeBox usage, size and password"));
        QObject::connect(m_btnSafeBoxSetting, &QPushButton::clicked, m_btnSafeBoxSetting, [this] { onSafeboxSetting(); });
        m_btnSafeBoxLock = new QPushButton(QObject::tr("Lock"), m_safeboxToolBar);
        m_btnSafeBoxLock->setToolTip(QObject::tr("Lock the SafeBox"));
        QObject::connect(m_btnSafeBoxLock, &QPushButton::clicked, m_btnSafeBoxLock, [this] { onSafeboxLock(); });
        layout->addWidget(m_btnSafeBoxLock);
        layout->addWidget(m_btnSafeBoxSetting);
        m_safeboxToolBar->resize(2 * kToolBarWidth, 32);
    }
    if (m_safeboxToolBar) {
        layoutSafeBoxSetupView();
        m_safeboxToolBar->show();
        m_safeboxToolBar->raise();
    }
    if (m_hooks.showItems)
        m_hooks.showItems(m_safeBoxDataSource, m_safeBoxAttactPath);
}

void SafeBoxMainWindowPane::forgetAttachedVolume()
{
    m_sealerWatch.cancel();
    m_safeBoxAttactPath.clear();
    m_safeBoxDataSource.clear();
    if (m_safeboxToolBar)
        m_safeboxToolBar->hide();
}

void SafeBoxMainWindowPane::closeToLogin(bool focusPassword)
{
    if (m_safeBoxSettingPopver)
        m_safeBoxSettingPopver->close();
    if (m_hooks.showItems)
        m_hooks.showItems({}, QString());
    if (m_hooks.updateNode)
        m_hooks.updateNode(0, false);
    forgetAttachedVolume();
    if (m_hooks.rememberLogin)
        m_hooks.rememberLogin(QString(), QVariantMap());
    if (m_hooks.isSafeBoxNodeShown && m_hooks.isSafeBoxNodeShown()) {
        showSetupView(false);
        if (focusPassword && m_setupView && !platform::kit::Sheet::shownSheet(m_setupView->window()))
            m_setupView->makeFirstResponerToInput();
    }
}

void SafeBoxMainWindowPane::onSafeboxLock()
{
    detachAndClose(false);
}

void SafeBoxMainWindowPane::detachAndClose(bool focusPassword)
{
    const QString disk = m_hooks.safeBoxDisk ? m_hooks.safeBoxDisk() : QString();
    if (disk.isEmpty() || m_locking)
        return;
    if (isTransferring()) {
        // Locking under a running copy would seal half of it and take the rest away.
        if (m_hooks.dialogs)
            m_hooks.dialogs->alert(m_hooks.window ? m_hooks.window() : nullptr,
                                   platform::kit::Alert::withMessage(QObject::tr("The SafeBox is in use."), QObject::tr("OK"), {},
                                                                     {}, QObject::tr("Lock it when the copy or deletion has ended.")),
                                   [](int) {});
        return;
    }
    m_locking = true;
    if (m_btnSafeBoxLock) {
        m_btnSafeBoxLock->setEnabled(false);
        m_btnSafeBoxLock->setText(QObject::tr("Locking…"));
    }
    SafeBoxXPCClient::create()->detachWithCompletedBlock(disk, [this, alive = m_alive, focusPassword](bool success,
                                                                                                      const QString& error) {
        if (!*alive)
            return;
        m_locking = false;
        if (m_btnSafeBoxLock) {
            m_btnSafeBoxLock->setEnabled(true);
            m_btnSafeBoxLock->setText(QObject::tr("Lock"));
        }
        if (success) {
            closeToLogin(focusPassword);
            return;
        }
        // The plaintext is still in the runtime folder: saying "locked" would be a lie.
        KPLogLogMessage(QStringLiteral("SafeBox: the lock failed: %1").arg(error));
        if (m_hooks.dialogs) {
            auto alert = platform::kit::Alert::withMessage(QObject::tr("The SafeBox could not be locked."), QObject::tr("OK"),
                                                           {}, {}, error.isEmpty() ? QObject::tr("The disk-image tool gave no reason.") : error);
            m_hooks.dialogs->alert(m_hooks.window ? m_hooks.window() : nullptr, alert, [](int) {});
        }
    });
}

void SafeBoxMainWindowPane::onSafeboxSetting()
{
    if (m_safeBoxAttactPath.isEmpty() || m_locking || isTransferring() || m_settingSheet)
        return;
    auto* content = new SafeBoxSettingViewController(m_safeBoxAttactPath, m_hooks.copyServices.volumeInfo);
    const QPointer<SafeBoxSettingViewController> settings(content);
    content->setupCallBack([this, alive = m_alive, settings](int code) {
        if (!*alive || !settings)
            return;
        const quint64 usage = settings->usage();
        const quint64 capacity = settings->capacity();
        if (m_safeBoxSettingPopver)
            m_safeBoxSettingPopver->close();
        openSettingSheet(code, usage, capacity);
    });
    if (!m_safeBoxSettingPopver) {
        m_safeBoxSettingPopver = std::make_unique<platform::kit::Popover>(platform::kit::Popover::Form::Popup);
        m_safeBoxSettingPopver->setContentSize(QSize(SafeBoxSettingViewController::kWidth, SafeBoxSettingViewController::kHeight));
        QObject::connect(m_safeBoxSettingPopver.get(), &platform::kit::Popover::closed, m_safeBoxSettingPopver.get(),
                         [this] {
                             if (m_hooks.popoverClosed)
                                 m_hooks.popoverClosed();
                         });
    }
    m_safeBoxSettingPopver->setContentWidget(content);
    if (m_hooks.popoverOpened)
        m_hooks.popoverOpened([this, alive = m_alive] {
            if (*alive && m_safeBoxSettingPopver)
                m_safeBoxSettingPopver->close();
        });
    QWidget* anchor = m_btnSafeBoxSetting ? static_cast<QWidget*>(m_btnSafeBoxSetting) : (m_hooks.window ? m_hooks.window() : nullptr);
    if (anchor)
        m_safeBoxSettingPopver->show(anchor, anchor->rect(), platform::kit::PopoverEdge::MaxY);
}

void SafeBoxMainWindowPane::openSettingSheet(int code, quint64 usage, quint64 capacity)
{
    if (code != 1 && code != 2)
        return;
    if (m_safeBoxAttactPath.isEmpty() || m_settingSheet || m_locking || isTransferring())
        return;
    SafeboxSetupWindowController::Services services;
    services.storeFile = m_hooks.storeFile ? m_hooks.storeFile() : QString();
    services.safeBoxDisk = m_hooks.safeBoxDisk ? m_hooks.safeBoxDisk() : QString();
    services.keyInfo = m_hooks.keyInfo ? m_hooks.keyInfo() : QVariantMap();
    const QString runtime = m_hooks.runtimeFolder ? m_hooks.runtimeFolder() : QString();
    services.runtimeFree = runtime.isEmpty() ? -1 : platform::sbx::freeBytes(runtime);
    services.dialogs = m_hooks.dialogs;
    services.scheduler = m_hooks.scheduler;
    const bool resize = code == 1;
    auto* sheet = new SafeboxSetupWindowController(
        resize ? SafeboxSetupWindowController::Mode::Resize : SafeboxSetupWindowController::Mode::ChangePassword, services);
    m_settingSheet = sheet;
    if (resize)
        sheet->setSafeBoxUsage(usage, capacity);
    sheet->beginSheedWithWindow(m_hooks.window ? m_hooks.window() : nullptr, [this, alive = m_alive, resize](int result) {
        if (!*alive || result != 1)
            return;
        // The resize detached the box itself; a new password needs a new login.
        if (resize)
            closeToLogin(false);
        else
            detachAndClose(true);
    });
}

void SafeBoxMainWindowPane::copyFiles(QWidget* window, const QString& target, const QList<KPItemDataPtr>& sources,
                                      std::function<void(const QList<KPItemDataPtr>& copied, bool move)> done)
{
    if (target.isEmpty() || target != m_safeBoxAttactPath || sources.isEmpty() || m_locking || isTransferring())
        return;
    CopyFileToSafeBoxWindowController::Services services = m_hooks.copyServices;
    if (!services.dialogs)
        services.dialogs = m_hooks.dialogs;
    auto* controller = new CopyFileToSafeBoxWindowController(services);
    m_copySheet = controller;
    controller->setSafeBoxFolder(target);
    controller->setSafeBoxDisk(m_hooks.safeBoxDisk ? m_hooks.safeBoxDisk() : QString());
    // The SafeBox's store file lies in the library folder, where a move keeps its journal.
    if (const QString store = m_hooks.storeFile ? m_hooks.storeFile() : QString(); !store.isEmpty())
        controller->setMoveJournalFolder(QFileInfo(store).absolutePath());
    const QPointer<CopyFileToSafeBoxWindowController> sheet(controller);
    controller->copyFilesWithSheedWindow(window, sources, [sheet, done = std::move(done)](const QList<KPItemDataPtr>& copied) {
        if (done)
            done(copied, sheet && sheet->isMoveMode());
    });
}

void SafeBoxMainWindowPane::removeFiles(QWidget* window, const QList<KPItemDataPtr>& items,
                                        std::function<void(const QList<KPItemDataPtr>& removed)> done)
{
    if (m_safeBoxAttactPath.isEmpty() || items.isEmpty() || m_locking || isTransferring())
        return;
    auto* controller = new RemoveSafeBoxFilesWindowController(m_hooks.dialogs);
    m_removeSheet = controller;
    controller->setSafeBoxFolder(m_safeBoxAttactPath);
    controller->removeFilesWithSheedWindow(window, items, std::move(done));
}

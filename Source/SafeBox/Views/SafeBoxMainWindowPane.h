// The SafeBox in the main window: the three states (no box, closed, open), the set-up or login
// view over the document area, the listing of the open box, and locking it.
//
// The window's own objects (grid, side-bar node, application delegate) are reached through the
// hooks the composition root fills, so the pane is tested without a window.
//
// Two departures from the program it replaces, both about not lying to the user: a lock whose
// detach fails keeps the box open and says why (the plaintext is still on disk), and a listing
// asked for while one runs is remembered and run once after it, so a copy that ends during a
// listing still shows. The box is not locked while a copy into it or a removal runs.
//
// Threads: main thread; the listing and the commands come back through the main queue.
#pragma once

#include "MainWindow/MainWindowExtensions.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/Scheduler.h"
#include "SafeBox/Views/CopyFileToSafeBoxWindowController.h"
#include "SafeBox/Views/SafeBoxSetupViewController.h"

#include <QPushButton>

#include <QPointer>
#include <QVariantMap>
#include <QWidget>
#include <functional>
#include <memory>

class SafeBoxFolderSyncer;

namespace platform::kit {
class DialogService;
class Popover;
class Scheduler;
} // namespace platform::kit

class SafeBoxMainWindowPane final : public SafeBoxPane {
public:
    struct Hooks {
        // Read when needed: the window's widgets may be made after the pane.
        std::function<QWidget*()> window;
        std::function<QWidget*()> centerView; // the set-up and login views are laid over it
        std::function<QWidget*()> toolBar;    // the lock button sits at its right end
        std::function<QString()> storeFile;  // "safebox.db" of the library
        std::function<QString()> runtimeFolder;
        std::function<QString()> safeBoxDisk;
        std::function<QVariantMap()> keyInfo; // the login key of this session (tmpSBDicInfo)
        // Remembers the login's device and key (the application delegate); empty values forget them.
        std::function<void(const QString& disk, const QVariantMap& keyInfo)> rememberLogin;
        std::function<void(qint64 count, bool busy)> updateNode;
        std::function<bool()> isSafeBoxNodeShown;
        // Shows the items (SafeBoxItemInfo) of the box at mount in the grid; an empty list empties it.
        std::function<void(const QList<QVariantMap>& items, const QString& mount)> showItems;
        platform::NotificationCenter* notifications = nullptr;
        platform::kit::DialogService* dialogs = nullptr;
        platform::kit::Scheduler* scheduler = nullptr;
        // The window closes its popovers on a click anywhere: the settings popover is entered
        // there while it is open.
        std::function<void(std::function<void()> close)> popoverOpened;
        std::function<void()> popoverClosed;
        // The copy sheet's volume figures and seal status, also read by the settings popover
        // (tests replace them).
        CopyFileToSafeBoxWindowController::Services copyServices;
        // The sealer watch (tests replace both). Empty: the tool's registry and status records
        // say whether the open box's sealer runs, and the tool starts another; done gets the
        // tool's text when it could not.
        std::function<bool(const QString& disk)> sealerRunning;
        std::function<void(const QString& disk, std::function<void(bool ok, const QString& error)> done)> resumeSealer;
    };

    // How often the open box's sealer is looked at.
    static constexpr int kSealerWatchMs = 5000;

    explicit SafeBoxMainWindowPane(Hooks hooks);
    ~SafeBoxMainWindowPane() override;

    QString safeBoxAttactPath() const override { return m_safeBoxAttactPath; }
    void showSetupView(bool setupMode) override;
    void removeSetupView() override;
    void loadSafeBoxDataSource() override;
    void refreshSafeBoxDataSource() override;
    void forgetAttachedVolume() override;
    bool canRemoveFiles() const override { return true; }
    void removeFiles(QWidget* window, const QList<KPItemDataPtr>& items,
                     std::function<void(const QList<KPItemDataPtr>& removed)> done) override;
    bool canCopyFiles() const override { return true; }
    void copyFiles(QWidget* window, const QString& target, const QList<KPItemDataPtr>& sources,
                   std::function<void(const QList<KPItemDataPtr>& copied, bool move)> done) override;

    void onSafeBoxLoginSuccess(const platform::Notification& notification);
    void onSafeboxLock();
    void onSafeboxSetting();
    // The settings popover's choices: the resize (1) and password (2) sheets.
    void openSettingSheet(int code, quint64 usage, quint64 capacity);

    SafeBoxSetupViewController* setupView() const { return m_setupView; }
    QPushButton* lockButton() const { return m_btnSafeBoxLock; }
    QPushButton* settingButton() const { return m_btnSafeBoxSetting; }
    platform::kit::Popover* settingPopover() const { return m_safeBoxSettingPopver.get(); }
    bool isLocking() const { return m_locking; }
    // A copy or removal sheet is up.
    bool isTransferring() const { return m_copySheet || m_removeSheet; }
    QObject* transferSheet() const { return m_copySheet ? m_copySheet.data() : m_removeSheet.data(); }

    const QList<QVariantMap>& safeBoxDataSource() const { return m_safeBoxDataSource; }

private:
    void layoutSafeBoxSetupView();
    void closeToLogin(bool focusPassword = false);
    // Detaches the box and shows it closed; a failing detach keeps it open and says why.
    void detachAndClose(bool focusPassword);
    // The sealer of the open box writes its changes back into the container; one that died is
    // replaced, and when it cannot be, the user hears that the changes are not being saved.
    void watchSealer();
    void checkSealer();

    Hooks m_hooks;
    QString m_safeBoxAttactPath;
    QList<QVariantMap> m_safeBoxDataSource;
    std::shared_ptr<SafeBoxFolderSyncer> m_syncer;
    bool m_bLoadingSafeBoxDataSource = false;
    bool m_listingAgain = false;
    bool m_locking = false;
    QPointer<SafeBoxSetupViewController> m_setupView;
    QPointer<QWidget> m_safeboxToolBar;
    QPointer<QPushButton> m_btnSafeBoxLock;
    QPointer<QPushButton> m_btnSafeBoxSetting;
    std::unique_ptr<platform::kit::Popover> m_safeBoxSettingPopver;
    QPointer<QObject> m_settingSheet;
    QPointer<QObject> m_copySheet;
    QPointer<QObject> m_removeSheet;
    platform::ObserverToken m_loginObserver;
    platform::kit::Token m_sealerWatch;
    bool m_resumingSealer = false;
    bool m_sealerWarned = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

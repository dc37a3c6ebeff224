// The window that asks to upgrade an older library and runs the upgrade.
//
// It shows the question first; "Upgrade" switches to the progress view and runs the upgrade
// on a worker, "Cancel" closes at once. The window ends with a code the caller reads from
// runModal() (or the dialog's finished signal): 0 cancelled, 3 failed, 4 upgraded. While the
// upgrade runs the window cannot be closed, because the library must not be opened half-way.
// The worker holds nothing of the controller; its result reaches the controller through the
// main queue and is dropped when the controller has gone meanwhile.
//
// Threads: main thread only, apart from the upgrade itself.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Store/UI/NeedUpgradLibraryWindow.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class NeedUpgradLibraryWindowController : public QObject {
    Q_OBJECT

public:
    enum ResultCode { Cancelled = 0, UpgradeFailed = 3, UpgradeSucceeded = 4 };
    // The work of the upgrade, run on the worker (tests give their own).
    using UpgradeFunction = std::function<platform::Result<void>()>;

    // Upgrades libraryFolder (empty: "String_Library_Path") with the models among the
    // resources at resourcePath (empty: the program's own).
    explicit NeedUpgradLibraryWindowController(const QString& libraryFolder = {}, const QString& resourcePath = {});
    explicit NeedUpgradLibraryWindowController(UpgradeFunction upgrade);
    ~NeedUpgradLibraryWindowController() override;

    const NeedUpgradLibraryWindowOutlets& outlets() const { return m_outlets; }
    QDialog* window() const { return m_outlets.window; }

    // Shows the window modally and answers its code.
    int runModal();

    // Shows the question view.
    void awakeFromNib();
    // Shows the progress view, starts the indicator and the upgrade.
    void btnUpdateClick();
    // Closes the window with 0.
    void btnCancelClick();
    // Runs the upgrade on a worker; its outcome arrives in onDataBaseUpgradFinished.
    void updateDataBase();
    // Closes the window with code.
    void onDataBaseUpgradFinished(int code);

    bool isUpgrading() const { return m_upgrading; }
    // The reason of the last failed upgrade; empty otherwise.
    const QString& lastError() const { return m_lastError; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showView(QWidget* view, const QSize& size);

    UpgradeFunction m_upgrade;
    NeedUpgradLibraryWindowOutlets m_outlets;
    std::unique_ptr<QDialog> m_ownedWindow;
    bool m_upgrading = false;
    QString m_lastError;
};

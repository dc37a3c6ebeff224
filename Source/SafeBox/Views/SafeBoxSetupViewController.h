// The view over the document area while the SafeBox node is selected and no box is open: in
// set-up mode a small wizard that creates the box, in login mode the password prompt that opens
// it. A successful login posts "SafeBoxLoginSuccess" with the mount path.
//
// The typed passwords go only into the command client (which derives them at once); the login
// field is emptied after a successful login so the password does not stay in the view.
#pragma once

#include <QString>
#include <QVariantMap>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace platform {
class NotificationCenter;
namespace kit {
class Scheduler;
}
} // namespace platform

class SafeBoxSetupViewController : public QWidget {
    Q_OBJECT
public:
    struct Services {
        QString storeFile;     // the library's "safebox.db"
        QString runtimeFolder; // where the box is opened ("ToPath")
        // The login's device and key go to the application delegate.
        std::function<void(const QString& disk, const QVariantMap& keyInfo)> rememberLogin;
        platform::NotificationCenter* notifications = nullptr;
        platform::kit::Scheduler* scheduler = nullptr;
    };

    // Login mode unless setupMode.
    SafeBoxSetupViewController(bool setupMode, Services services, QWidget* parent = nullptr);

    void makeFirstResponerToInput();

    // The steps, for the window and for tests.
    QWidget* vSetup1 = nullptr;
    QWidget* vSetup2 = nullptr;
    QWidget* vSetupSetPassword = nullptr;
    QWidget* vSetupProgressing = nullptr;
    QWidget* vSetupFailed = nullptr;
    QWidget* vLogin = nullptr;
    QWidget* vLoginHint = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLineEdit* txtVerify = nullptr;
    QLineEdit* txtHint = nullptr;
    QLabel* hintImageView = nullptr;
    QPushButton* btnSetPassword = nullptr;
    QLabel* txtFinished = nullptr;
    QLabel* txtFailure = nullptr;
    QLineEdit* txtLoginPassword = nullptr;
    QPushButton* btnLogin = nullptr;
    QProgressBar* loginProgressIndicator = nullptr;
    QLabel* txtLoginHint = nullptr;
    // Why the last login failed: a wrong password, or the tool's own reason (a damaged box).
    QLabel* txtLoginError = nullptr;

    QWidget* currentStep() const;

    void btnCancel();
    void btnNextToSetup2();
    void btnNextToSetupPassword();
    void btnCreate();
    void btnLogin_();
    void controlTextDidChange();

private:
    void showStep(QWidget* step);
    QWidget* buildSetup1();
    QWidget* buildSetup2();
    QWidget* buildSetPassword();
    QWidget* buildProgressing();
    QWidget* buildFailed();
    QWidget* buildLogin();

    Services m_services;
    bool m_bSetupMode;
    QStackedWidget* m_steps = nullptr;
    QProgressBar* m_progressIndicator = nullptr;
};

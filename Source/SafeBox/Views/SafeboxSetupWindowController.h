// The resize and password sheets of the open SafeBox. Both end with code 1 when the box must be
// shown closed afterwards (resized, or the password changed), 0 when nothing changed.
//
// Resize detaches the box first and resizes the closed store with the login key; the key is
// gone after a lock, so a resize then asks for a new login. When the detach or the resize fails
// the tool's text is shown; once the detach has succeeded the sheet ends with 1 whatever
// follows, because the box is closed and the window must say so.
//
// The password change runs while the box is open. A wrong old password clears the fields and
// says so; any other failure shows the tool's text. Nothing leaves the spinner running.
//
// Threads: main thread; the commands come back through the main queue.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QStackedWidget;
class QWidget;

namespace platform::kit {
class DialogService;
class Scheduler;
class Sheet;
} // namespace platform::kit

class SafeboxSetupWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr quint64 kGiB = 1073741824;
    static constexpr quint64 kMB = 1048576;

    struct Services {
        QString storeFile;
        QString safeBoxDisk;
        QVariantMap keyInfo; // the login key (tmpSBDicInfo)
        // What the runtime folder, where the open box lives, can still take; -1 unknown.
        qint64 runtimeFree = -1;
        platform::kit::DialogService* dialogs = nullptr;
        platform::kit::Scheduler* scheduler = nullptr;
    };

    enum class Mode { Resize, ChangePassword };
    SafeboxSetupWindowController(Mode mode, Services services, QObject* parent = nullptr);
    ~SafeboxSetupWindowController() override;

    bool isResize() const { return m_mode == Mode::Resize; }
    bool isChangePassword() const { return m_mode == Mode::ChangePassword; }
    // Bytes the box holds and its capacity now (the resize page starts there).
    void setSafeBoxUsage(quint64 usage, quint64 capacity);
    quint64 safeBoxUsage() const { return m_safeBoxUsage; }

    // The block gets the return code once; the controller deletes itself afterwards.
    void beginSheedWithWindow(QWidget* window, std::function<void(int)> completedBlock);

    // The size the slider asks for, in bytes (hundredths of a GiB, not rounded).
    quint64 requestedSize() const;

    void sliderChange();
    void btnResizeOK();
    void btnResizeCancel();
    void btnChangePasswordOK();
    void btnChangePasswordCancel();
    void controlTextDidChange();

    QWidget* currentPage() const;
    QWidget* resizeView = nullptr;
    QWidget* progressingView = nullptr;
    QWidget* hintView = nullptr;
    QWidget* changePasswordView = nullptr;
    QSlider* resizeSlider = nullptr;
    QLabel* currentSize = nullptr;
    QLabel* resizeHint = nullptr;
    QLabel* roomHint = nullptr;
    QLabel* txtProgressInfo = nullptr;
    QLabel* txtHintText = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QLineEdit* txtChangeOldPassword = nullptr;
    QLineEdit* txtChangePassword = nullptr;
    QLineEdit* txtChangeVerify = nullptr;
    QLineEdit* txtChangeHint = nullptr;
    QLabel* imgHintView = nullptr;
    QLabel* txtChangePasswordError = nullptr;
    QPushButton* btnChangePassword = nullptr;
    QPushButton* btnChangePasswordCancelButton = nullptr;
    QProgressBar* changePSWProgress = nullptr;
    platform::kit::Sheet* sheet() const { return m_sheet.get(); }

private:
    void buildResize(QStackedWidget* pages);
    void buildPassword(QStackedWidget* pages);
    void showFailure(const QString& text);
    void end(int code);
    platform::kit::Scheduler& scheduler() const;

    Mode m_mode;
    Services m_services;
    quint64 m_safeBoxUsage = 0;
    quint64 m_capacity = 0;
    bool m_detached = false;
    bool m_bSuccess = false;
    QStackedWidget* m_pages = nullptr;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    std::function<void(int)> m_completedBlock;
    QPointer<QWidget> m_window;
};

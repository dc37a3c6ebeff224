#include "SafeBox/Views/SafeboxSetupWindowController.h"

#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "SafeBox/Views/DeleteSoon.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QString kHintKey = QStringLiteral("String_SafeBoxHint");
constexpr int kDoneDelayMs = 1000;
// Hundredths of a GiB: 0.1 GiB to 100 GiB.
constexpr int kSliderMin = 10;
constexpr int kSliderMax = 10000;

QLabel* wrapped(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QLineEdit* secure(const QString& placeholder, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setEchoMode(QLineEdit::Password);
    field->setPlaceholderText(placeholder);
    return field;
}

QString megabytesText(quint64 bytes)
{
    return QStringLiteral("%1MB").arg(double(bytes) / double(SafeboxSetupWindowController::kMB), 0, 'f', 0);
}

} // namespace

SafeboxSetupWindowController::SafeboxSetupWindowController(Mode mode, Services services, QObject* parent)
    : QObject(parent), m_mode(mode), m_services(std::move(services))
{
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("SafeBoxSettingWindow"));
    content->setFixedWidth(420);
    auto* outer = new QVBoxLayout(content);
    m_pages = new QStackedWidget(content);
    outer->addWidget(m_pages);
    if (mode == Mode::Resize)
        buildResize(m_pages);
    else
        buildPassword(m_pages);
    m_sheet = std::make_unique<platform::kit::Sheet>(content);
}

SafeboxSetupWindowController::~SafeboxSetupWindowController() = default;

platform::kit::Scheduler& SafeboxSetupWindowController::scheduler() const
{
    return m_services.scheduler ? *m_services.scheduler : platform::kit::Scheduler::current();
}

void SafeboxSetupWindowController::buildResize(QStackedWidget* pages)
{
    resizeView = new QWidget;
    auto* layout = new QVBoxLayout(resizeView);
    layout->addWidget(wrapped(tr("Choose the new size of the SafeBox. It is locked while it is resized; open it "
                                 "again afterwards."),
                              resizeView));
    auto* row = new QHBoxLayout;
    resizeSlider = new QSlider(Qt::Horizontal, resizeView);
    resizeSlider->setRange(kSliderMin, kSliderMax);
    currentSize = new QLabel(resizeView);
    currentSize->setMinimumWidth(80);
    row->addWidget(resizeSlider, 1);
    row->addWidget(currentSize);
    layout->addLayout(row);
    resizeHint = wrapped(tr("The new size is smaller than what the SafeBox holds."), resizeView);
    resizeHint->hide();
    roomHint = wrapped(tr("The private runtime folder may not have room for a SafeBox this large."), resizeView);
    roomHint->hide();
    layout->addWidget(resizeHint);
    layout->addWidget(roomHint);
    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(tr("Cancel"), resizeView);
    auto* ok = new QPushButton(tr("Resize"), resizeView);
    ok->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    connect(resizeSlider, &QSlider::valueChanged, this, &SafeboxSetupWindowController::sliderChange);
    connect(cancel, &QPushButton::clicked, this, &SafeboxSetupWindowController::btnResizeCancel);
    connect(ok, &QPushButton::clicked, this, &SafeboxSetupWindowController::btnResizeOK);

    progressingView = new QWidget;
    auto* progress = new QVBoxLayout(progressingView);
    txtProgressInfo = new QLabel(progressingView);
    progressIndicator = new QProgressBar(progressingView);
    progressIndicator->setRange(0, 0);
    progress->addWidget(txtProgressInfo);
    progress->addWidget(progressIndicator);

    hintView = new QWidget;
    auto* hint = new QVBoxLayout(hintView);
    hint->addWidget(wrapped(tr("The SafeBox could not be resized."), hintView));
    txtHintText = wrapped(QString(), hintView);
    txtHintText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hint->addWidget(txtHintText);
    auto* close = new QPushButton(tr("Close"), hintView);
    hint->addWidget(close, 0, Qt::AlignRight);
    // The box was detached before the failure: the window must show it closed.
    connect(close, &QPushButton::clicked, this, [this] { end(m_detached ? 1 : 0); });

    pages->addWidget(resizeView);
    pages->addWidget(progressingView);
    pages->addWidget(hintView);
}

void SafeboxSetupWindowController::buildPassword(QStackedWidget* pages)
{
    changePasswordView = new QWidget;
    auto* layout = new QVBoxLayout(changePasswordView);
    txtChangeOldPassword = secure(tr("Current password"), changePasswordView);
    txtChangePassword = secure(tr("New password"), changePasswordView);
    txtChangeVerify = secure(tr("Verify new password"), changePasswordView);
    txtChangeHint = new QLineEdit(changePasswordView);
    txtChangeHint->setPlaceholderText(tr("Password hint"));
    imgHintView = new QLabel(changePasswordView);
    imgHintView->hide();
    txtChangePasswordError = wrapped(tr("The current password is not correct."), changePasswordView);
    txtChangePasswordError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    txtChangePasswordError->hide();
    layout->addWidget(txtChangeOldPassword);
    layout->addWidget(txtChangePassword);
    auto* verifyRow = new QHBoxLayout;
    verifyRow->addWidget(txtChangeVerify);
    verifyRow->addWidget(imgHintView);
    layout->addLayout(verifyRow);
    layout->addWidget(txtChangeHint);
    layout->addWidget(txtChangePasswordError);
    changePSWProgress = new QProgressBar(changePasswordView);
    changePSWProgress->setRange(0, 0);
    changePSWProgress->hide();
    layout->addWidget(changePSWProgress);
    auto* buttons = new QHBoxLayout;
    btnChangePasswordCancelButton = new QPushButton(tr("Cancel"), changePasswordView);
    btnChangePassword = new QPushButton(tr("Change"), changePasswordView);
    btnChangePassword->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(btnChangePasswordCancelButton);
    buttons->addWidget(btnChangePassword);
    layout->addLayout(buttons);
    for (QLineEdit* field : {txtChangeOldPassword, txtChangePassword, txtChangeVerify, txtChangeHint})
        connect(field, &QLineEdit::textChanged, this, &SafeboxSetupWindowController::controlTextDidChange);
    connect(btnChangePasswordCancelButton, &QPushButton::clicked, this,
            &SafeboxSetupWindowController::btnChangePasswordCancel);
    connect(btnChangePassword, &QPushButton::clicked, this, &SafeboxSetupWindowController::btnChangePasswordOK);
    pages->addWidget(changePasswordView);
    controlTextDidChange();
}

void SafeboxSetupWindowController::setSafeBoxUsage(quint64 usage, quint64 capacity)
{
    m_safeBoxUsage = usage;
    m_capacity = capacity;
    if (!resizeSlider)
        return;
    // Up to four times the present size (at least 10 GiB), so one step of the slider stays small.
    const int current = int(std::lround(double(capacity) / double(kGiB) * 100.0));
    resizeSlider->setMaximum(std::clamp(current * 4, 1000, kSliderMax));
    resizeSlider->setValue(current);
    sliderChange();
    currentSize->setText(megabytesText(capacity));
}

quint64 SafeboxSetupWindowController::requestedSize() const
{
    return resizeSlider ? quint64(double(resizeSlider->value()) / 100.0 * double(kGiB)) : 0;
}

QWidget* SafeboxSetupWindowController::currentPage() const
{
    return m_pages->currentWidget();
}

void SafeboxSetupWindowController::beginSheedWithWindow(QWidget* window, std::function<void(int)> completedBlock)
{
    m_window = window;
    m_completedBlock = std::move(completedBlock);
    platform::kit::DialogService& dialogs =
        m_services.dialogs ? *m_services.dialogs : platform::kit::DialogService::shared();
    dialogs.beginSheet(window, *m_sheet, [self = QPointer(this)](int code) {
        if (!self)
            return;
        if (auto block = std::move(self->m_completedBlock))
            block(code);
        safebox::deleteSoon(self);
    });
}

void SafeboxSetupWindowController::end(int code)
{
    if (m_sheet->isBegun())
        m_sheet->end(code);
}

void SafeboxSetupWindowController::sliderChange()
{
    const quint64 size = requestedSize();
    resizeHint->setVisible(m_safeBoxUsage >= size);
    const bool tooLarge = m_services.runtimeFree >= 0 && size > quint64(m_services.runtimeFree) + m_safeBoxUsage;
    roomHint->setVisible(tooLarge);
    currentSize->setText(megabytesText(size));
}

void SafeboxSetupWindowController::showFailure(const QString& text)
{
    txtHintText->setText(text.isEmpty() ? tr("The disk-image tool gave no reason.") : text);
    m_pages->setCurrentWidget(hintView);
}

void SafeboxSetupWindowController::btnResizeOK()
{
    if (currentPage() != resizeView)
        return;
    const QString key = m_services.keyInfo.value(QStringLiteral("Key")).toString();
    if (key.isEmpty() || m_services.safeBoxDisk.isEmpty()) {
        // Without the login key of this session the store cannot be opened for the resize.
        showFailure(tr("Open the SafeBox again, then resize it."));
        return;
    }
    txtProgressInfo->setText(QStringLiteral("SafeBox is resizing"));
    m_pages->setCurrentWidget(progressingView);
    const QVariantMap parameter{{QStringLiteral("Name"), QStringLiteral("SafeBox")},
                                {QStringLiteral("P"), key},
                                {QStringLiteral("Size"), QVariant::fromValue(requestedSize())}};
    auto resizer = SafeBoxXPCClient::create(m_services.storeFile, parameter);
    const QPointer<SafeboxSetupWindowController> self(this);
    SafeBoxXPCClient::create()->detachWithCompletedBlock(m_services.safeBoxDisk, [self, resizer](bool detached,
                                                                                                 const QString& error) {
        if (!self)
            return;
        if (!detached) {
            KPLogLogMessage(QStringLiteral("SafeBox: the detach before a resize failed: %1").arg(error));
            self->showFailure(error);
            return;
        }
        self->m_detached = true;
        resizer->resizeWithCompletedBlock([self](bool resized, const QString& resizeError) {
            if (!self)
                return;
            if (!resized) {
                KPLogLogMessage(QStringLiteral("SafeBox: the resize failed: %1").arg(resizeError));
                self->showFailure(resizeError);
                return;
            }
            self->txtProgressInfo->setText(QStringLiteral("Almost done"));
            self->scheduler().after(self, kDoneDelayMs, [self] {
                if (self)
                    self->end(1);
            });
        });
    });
}

void SafeboxSetupWindowController::btnResizeCancel()
{
    if (currentPage() == resizeView)
        end(0);
}

void SafeboxSetupWindowController::controlTextDidChange()
{
    txtChangePasswordError->hide();
    const QString password = txtChangePassword->text();
    const QString verify = txtChangeVerify->text();
    if (!password.isEmpty() && !verify.isEmpty()) {
        imgHintView->setText(password == verify ? QStringLiteral("✓") : QStringLiteral("✗"));
        imgHintView->show();
    } else {
        imgHintView->hide();
    }
    btnChangePassword->setEnabled(!changePSWProgress->isVisible() && !txtChangeOldPassword->text().isEmpty() &&
                                  !password.isEmpty() && password == verify && !txtChangeHint->text().isEmpty());
}

void SafeboxSetupWindowController::btnChangePasswordOK()
{
    if (!btnChangePassword->isEnabled())
        return;
    changePSWProgress->show();
    btnChangePassword->setEnabled(false);
    btnChangePasswordCancelButton->setEnabled(false);
    const QString hint = txtChangeHint->text();
    auto client = SafeBoxXPCClient::create(m_services.storeFile,
                                           QVariantMap{{QStringLiteral("Name"), QStringLiteral("SafeBox")},
                                                       {QStringLiteral("Password"), txtChangeOldPassword->text()},
                                                       {QStringLiteral("NewPassword"), txtChangePassword->text()}});
    const QPointer<SafeboxSetupWindowController> self(this);
    client->changeWithCompletedBlock([self, hint](bool success, const QString& error) {
        if (!self)
            return;
        if (success) {
            self->m_bSuccess = true;
            platform::UserDefaults::standardUserDefaults().setString(SafeBoxContentGenerate::encodeHint(hint), kHintKey);
            self->scheduler().after(self, kDoneDelayMs, [self] {
                if (!self)
                    return;
                self->changePSWProgress->hide();
                platform::kit::DialogService& dialogs =
                    self->m_services.dialogs ? *self->m_services.dialogs : platform::kit::DialogService::shared();
                // An alert on a window is a sheet too, and a window shows one sheet at a time: put
                // up now, it would wait behind this sheet while this one waited for its answer,
                // and the window would stay blocked for good. So this sheet ends first and the
                // alert follows on the window.
                const QPointer<QWidget> window = self->m_window;
                self->end(1);
                if (window)
                    dialogs.alert(window,
                                  platform::kit::Alert::withMessage(QStringLiteral("SafeBox password has been changed"),
                                                                    QStringLiteral("OK"), {}, {},
                                                                    QStringLiteral("Please memorise the new password.")),
                                  [](int) {});
            });
            return;
        }
        KPLogLogMessage(QStringLiteral("SafeBox: the password change failed: %1").arg(error));
        self->btnChangePasswordCancelButton->setEnabled(true);
        const bool wrongPassword = error.contains(QStringLiteral("Authentication error"));
        self->scheduler().after(self, wrongPassword ? kDoneDelayMs : 0, [self, wrongPassword, error] {
            if (!self)
                return;
            self->changePSWProgress->hide();
            if (wrongPassword) {
                for (QLineEdit* field : {self->txtChangeOldPassword, self->txtChangePassword, self->txtChangeVerify,
                                         self->txtChangeHint})
                    field->clear();
                self->txtChangePasswordError->setText(tr("The current password is not correct."));
            } else {
                self->controlTextDidChange();
                self->txtChangePasswordError->setText(error.isEmpty() ? tr("The disk-image tool gave no reason.") : error);
            }
            self->txtChangePasswordError->show();
        });
    });
}

void SafeboxSetupWindowController::btnChangePasswordCancel()
{
    if (!changePSWProgress->isVisible())
        end(0);
}

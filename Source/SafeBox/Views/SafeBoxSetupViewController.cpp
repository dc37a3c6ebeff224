#include "SafeBox/Views/SafeBoxSetupViewController.h"

#include "Analytics/AnalyticsHelper.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Scheduler.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

const QString kHintKey = QStringLiteral("String_SafeBoxHint");
constexpr qint64 kNewBoxSize = 104857600; // 100 MiB
constexpr int kFinishedDelayMs = 1000;

QLabel* wrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QLineEdit* secureField(QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setEchoMode(QLineEdit::Password);
    return field;
}

} // namespace

SafeBoxSetupViewController::SafeBoxSetupViewController(bool setupMode, Services services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)), m_bSetupMode(setupMode)
{
    setObjectName(QStringLiteral("SafeboxSetupView"));
    setFixedSize(420, 260);
    m_steps = new QStackedWidget(this);
    m_steps->setGeometry(15, 15, 390, 230);
    vSetup1 = buildSetup1();
    vSetup2 = buildSetup2();
    vSetupSetPassword = buildSetPassword();
    vSetupProgressing = buildProgressing();
    vSetupFailed = buildFailed();
    vLogin = buildLogin();
    for (QWidget* step : {vSetup1, vSetup2, vSetupSetPassword, vSetupProgressing, vSetupFailed, vLogin})
        m_steps->addWidget(step);
    showStep(m_bSetupMode ? vSetup1 : vLogin);
    controlTextDidChange();
}

QWidget* SafeBoxSetupViewController::currentStep() const
{
    return m_steps->currentWidget();
}

void SafeBoxSetupViewController::showStep(QWidget* step)
{
    m_steps->setCurrentWidget(step);
}

QWidget* SafeBoxSetupViewController::buildSetup1()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(wrappedLabel(tr("The SafeBox keeps private documents in one encrypted file in your library. "
                                      "Only your password opens it."),
                                   page));
    layout->addStretch();
    auto* next = new QPushButton(tr("Continue"), page);
    connect(next, &QPushButton::clicked, this, &SafeBoxSetupViewController::btnNextToSetup2);
    layout->addWidget(next, 0, Qt::AlignRight);
    return page;
}

QWidget* SafeBoxSetupViewController::buildSetup2()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(wrappedLabel(tr("There is no way to recover a forgotten password: the documents in the "
                                      "SafeBox would be lost. Choose a hint that reminds only you of it."),
                                   page));
    layout->addStretch();
    auto* row = new QHBoxLayout;
    auto* cancel = new QPushButton(tr("Cancel"), page);
    auto* next = new QPushButton(tr("Continue"), page);
    connect(cancel, &QPushButton::clicked, this, &SafeBoxSetupViewController::btnCancel);
    connect(next, &QPushButton::clicked, this, &SafeBoxSetupViewController::btnNextToSetupPassword);
    row->addStretch();
    row->addWidget(cancel);
    row->addWidget(next);
    layout->addLayout(row);
    return page;
}

QWidget* SafeBoxSetupViewController::buildSetPassword()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    txtPassword = secureField(page);
    txtVerify = secureField(page);
    txtHint = new QLineEdit(page);
    txtPassword->setPlaceholderText(tr("Password"));
    txtVerify->setPlaceholderText(tr("Verify"));
    txtHint->setPlaceholderText(tr("Password hint"));
    hintImageView = new QLabel(page);
    auto* verifyRow = new QHBoxLayout;
    verifyRow->addWidget(txtVerify);
    verifyRow->addWidget(hintImageView);
    layout->addWidget(txtPassword);
    layout->addLayout(verifyRow);
    layout->addWidget(txtHint);
    layout->addStretch();
    auto* row = new QHBoxLayout;
    auto* cancel = new QPushButton(tr("Cancel"), page);
    btnSetPassword = new QPushButton(tr("Create"), page);
    connect(cancel, &QPushButton::clicked, this, &SafeBoxSetupViewController::btnCancel);
    connect(btnSetPassword, &QPushButton::clicked, this, &SafeBoxSetupViewController::btnCreate);
    row->addStretch();
    row->addWidget(cancel);
    row->addWidget(btnSetPassword);
    layout->addLayout(row);
    for (QLineEdit* field : {txtPassword, txtVerify, txtHint})
        connect(field, &QLineEdit::textChanged, this, &SafeBoxSetupViewController::controlTextDidChange);
    return page;
}

QWidget* SafeBoxSetupViewController::buildProgressing()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    txtFinished = new QLabel(page);
    m_progressIndicator = new QProgressBar(page);
    m_progressIndicator->setRange(0, 0);
    layout->addStretch();
    layout->addWidget(txtFinished, 0, Qt::AlignHCenter);
    layout->addWidget(m_progressIndicator);
    layout->addStretch();
    return page;
}

QWidget* SafeBoxSetupViewController::buildFailed()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(wrappedLabel(tr("The SafeBox could not be created."), page));
    txtFailure = wrappedLabel(QString(), page);
    txtFailure->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(txtFailure);
    layout->addStretch();
    auto* again = new QPushButton(tr("Start Again"), page);
    connect(again, &QPushButton::clicked, this, &SafeBoxSetupViewController::btnCancel);
    layout->addWidget(again, 0, Qt::AlignRight);
    return page;
}

QWidget* SafeBoxSetupViewController::buildLogin()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(wrappedLabel(tr("Enter the SafeBox password."), page));
    txtLoginPassword = secureField(page);
    layout->addWidget(txtLoginPassword);
    vLoginHint = new QWidget(page);
    auto* hintLayout = new QVBoxLayout(vLoginHint);
    hintLayout->setContentsMargins(0, 0, 0, 0);
    txtLoginError = wrappedLabel(QString(), vLoginHint);
    txtLoginError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hintLayout->addWidget(txtLoginError);
    txtLoginHint = wrappedLabel(QString(), vLoginHint);
    hintLayout->addWidget(txtLoginHint);
    vLoginHint->hide();
    layout->addWidget(vLoginHint);
    loginProgressIndicator = new QProgressBar(page);
    loginProgressIndicator->setRange(0, 0);
    loginProgressIndicator->hide();
    layout->addWidget(loginProgressIndicator);
    layout->addStretch();
    btnLogin = new QPushButton(tr("Open"), page);
    btnLogin->setDefault(true);
    connect(btnLogin, &QPushButton::clicked, this, &SafeBoxSetupViewController::btnLogin_);
    connect(txtLoginPassword, &QLineEdit::returnPressed, this, [this] {
        if (btnLogin->isEnabled())
            btnLogin_();
    });
    connect(txtLoginPassword, &QLineEdit::textChanged, this, &SafeBoxSetupViewController::controlTextDidChange);
    layout->addWidget(btnLogin, 0, Qt::AlignRight);
    return page;
}

void SafeBoxSetupViewController::makeFirstResponerToInput()
{
    txtLoginPassword->setFocus();
}

void SafeBoxSetupViewController::btnCancel()
{
    txtPassword->clear();
    txtVerify->clear();
    txtHint->clear();
    showStep(vSetup1);
}

void SafeBoxSetupViewController::btnNextToSetup2()
{
    showStep(vSetup2);
}

void SafeBoxSetupViewController::btnNextToSetupPassword()
{
    showStep(vSetupSetPassword);
    txtPassword->setFocus();
}

void SafeBoxSetupViewController::controlTextDidChange()
{
    const QString password = txtPassword->text();
    const QString verify = txtVerify->text();
    if (!password.isEmpty() && !verify.isEmpty()) {
        hintImageView->setText(password == verify ? QStringLiteral("✓") : QStringLiteral("✗"));
        hintImageView->show();
    } else {
        hintImageView->hide();
    }
    vLoginHint->hide();
    btnSetPassword->setEnabled(!password.isEmpty() && password == verify && !txtHint->text().isEmpty());
    btnLogin->setEnabled(!txtLoginPassword->text().isEmpty());
}

void SafeBoxSetupViewController::btnCreate()
{
    // The button's state is the guard; a call from elsewhere gets the same checks.
    if (txtPassword->text().isEmpty() || txtPassword->text() != txtVerify->text() || txtHint->text().isEmpty())
        return;
    txtFinished->setText(QStringLiteral("SafeBox is Progressing"));
    showStep(vSetupProgressing);
    const QString hint = txtHint->text();
    auto client = SafeBoxXPCClient::create(m_services.storeFile,
                                           QVariantMap{{QStringLiteral("Name"), QStringLiteral("SafeBox")},
                                                       {QStringLiteral("Size"), kNewBoxSize},
                                                       {QStringLiteral("Password"), txtPassword->text()}});
    txtPassword->clear();
    txtVerify->clear();
    client->creatorWithCompletedBlock([self = QPointer(this), hint](bool success, const QString& error) {
        if (!self)
            return;
        if (!success) {
            // The tool's own text says why; without it the user could only guess.
            KPLogLogMessage(QStringLiteral("SafeBox create error: %1").arg(error));
            self->txtFailure->setText(error);
            self->showStep(self->vSetupFailed);
            return;
        }
        AnalyticsHelper::fireEvent(QStringLiteral("act-safebox"), 1);
        self->txtFinished->setText(QStringLiteral("SafeBox is Finished!"));
        platform::UserDefaults::standardUserDefaults().setString(SafeBoxContentGenerate::encodeHint(hint), kHintKey);
        platform::kit::Scheduler& scheduler =
            self->m_services.scheduler ? *self->m_services.scheduler : platform::kit::Scheduler::current();
        scheduler.after(self, kFinishedDelayMs, [self] {
            if (!self)
                return;
            self->showStep(self->vLogin);
            self->txtLoginPassword->setFocus();
        });
    });
}

void SafeBoxSetupViewController::btnLogin_()
{
    const QString password = txtLoginPassword->text();
    if (password.isEmpty())
        return;
    loginProgressIndicator->show();
    btnLogin->setEnabled(false);
    auto client = SafeBoxXPCClient::create(m_services.storeFile,
                                           QVariantMap{{QStringLiteral("Password"), password},
                                                       {QStringLiteral("ToPath"), m_services.runtimeFolder}});
    const QVariantMap keyInfo = SafeBoxContentGenerate(password).generateD();
    client->attachWithCompletedBlock([self = QPointer(this), keyInfo](bool success, const QString& path,
                                                                      const QString& disk, const QString& error) {
        if (!self)
            return;
        self->loginProgressIndicator->hide();
        if (!success) {
            if (!error.isEmpty())
                KPLogLogMessage(QStringLiteral("SafeBox Login error: %1").arg(error));
            // The hint helps only against a wrong password; a box that cannot be opened with any
            // password (a damaged container, no room, no runtime folder) says the tool's reason,
            // or the user keeps trying passwords in vain.
            const bool wrongPassword = error.contains(QStringLiteral("Authentication error"));
            if (wrongPassword) {
                const QString hint = SafeBoxContentGenerate::decodeHint(
                    platform::UserDefaults::standardUserDefaults().stringForKey(kHintKey));
                self->txtLoginError->setText(tr("The password is not correct."));
                self->txtLoginHint->setText(QStringLiteral("Hint: %1").arg(hint));
            } else {
                self->txtLoginError->setText(error.isEmpty() ? tr("The SafeBox could not be opened; the disk-image tool gave no reason.")
                                                             : tr("The SafeBox could not be opened: %1").arg(error.trimmed()));
            }
            self->txtLoginHint->setVisible(wrongPassword);
            self->vLoginHint->show();
            self->txtLoginPassword->selectAll();
            self->txtLoginPassword->setFocus();
            return;
        }
        if (self->m_services.rememberLogin)
            self->m_services.rememberLogin(disk, keyInfo);
        self->txtLoginPassword->clear();
        platform::NotificationCenter& center =
            self->m_services.notifications ? *self->m_services.notifications : platform::NotificationCenter::defaultCenter();
        center.post(QStringLiteral("SafeBoxLoginSuccess"), path);
    });
}

// The set-up wizard and the login view against a fake driver.
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Scheduler.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "SafeBox/Views/SafeBoxSetupViewController.h"
#include "Support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>
#include <mutex>

namespace {

struct DriverLog {
    std::mutex mutex; // written by the fake driver on a worker
    QStringList calls;
    QVariantMap parameter;
};

class ScriptedDriver : public SafeBoxCreator {
public:
    ScriptedDriver(const QString& path, const QVariantMap& parameter, DriverLog& log, SafeBoxOutcome outcome)
        : SafeBoxCreator(path, parameter), m_log(log), m_outcome(std::move(outcome))
    {
    }
    SafeBoxOutcome creator() override { return record(QStringLiteral("create")); }
    SafeBoxOutcome attach() override { return record(QStringLiteral("attach")); }

private:
    SafeBoxOutcome record(const QString& call)
    {
        std::lock_guard lock(m_log.mutex);
        m_log.calls.append(call);
        m_log.parameter = parameter;
        return m_outcome;
    }
    DriverLog& m_log;
    SafeBoxOutcome m_outcome;
};

class SafeBoxSetupViewControllerTest : public ::testing::Test {
protected:
    void answer(bool success, const QString& error = {}, const QString& path = {}, const QString& disk = {})
    {
        SafeBoxOutcome outcome;
        outcome.success = success;
        if (!error.isEmpty())
            outcome.error = error;
        outcome.path = path;
        outcome.disk = disk;
        SafeBoxXPCClient::setDriverFactoryForTesting([this, outcome](const QString& p, const QVariantMap& parameter) {
            return std::make_unique<ScriptedDriver>(p, parameter, m_log, outcome);
        });
    }
    void TearDown() override { SafeBoxXPCClient::setDriverFactoryForTesting(nullptr); }

    std::unique_ptr<SafeBoxSetupViewController> make(bool setupMode)
    {
        SafeBoxSetupViewController::Services services;
        services.storeFile = QStringLiteral("/lib/safebox.db");
        services.runtimeFolder = QStringLiteral("/run/box");
        services.rememberLogin = [this](const QString& disk, const QVariantMap& key) {
            m_disk = disk;
            m_key = key;
        };
        services.notifications = &m_center;
        services.scheduler = &m_scheduler;
        return std::make_unique<SafeBoxSetupViewController>(setupMode, services);
    }
    QStringList calls()
    {
        std::lock_guard lock(m_log.mutex);
        return m_log.calls;
    }

    DriverLog m_log;
    platform::NotificationCenter m_center;
    platform::kit::VirtualScheduler m_scheduler;
    QString m_disk;
    QVariantMap m_key;
};

} // namespace

TEST_F(SafeBoxSetupViewControllerTest, CreateNeedsTheSamePasswordTwiceAndAHintThenTurnsIntoTheLogin)
{
    answer(true);
    auto view = make(true);
    EXPECT_EQ(view->currentStep(), view->vSetup1);
    view->btnNextToSetup2();
    view->btnNextToSetupPassword();
    EXPECT_EQ(view->currentStep(), view->vSetupSetPassword);
    view->txtPassword->setText(QStringLiteral("secret"));
    view->txtVerify->setText(QStringLiteral("secreT"));
    view->txtHint->setText(QStringLiteral("abc"));
    EXPECT_FALSE(view->btnSetPassword->isEnabled());
    EXPECT_EQ(view->hintImageView->text(), QStringLiteral("✗"));
    view->btnCreate(); // refused while the passwords differ
    EXPECT_EQ(view->currentStep(), view->vSetupSetPassword);
    view->txtVerify->setText(QStringLiteral("secret"));
    view->txtHint->clear();
    EXPECT_FALSE(view->btnSetPassword->isEnabled());
    view->txtHint->setText(QStringLiteral("abc"));
    EXPECT_TRUE(view->btnSetPassword->isEnabled());

    view->btnSetPassword->click();
    EXPECT_EQ(view->currentStep(), view->vSetupProgressing);
    ASSERT_TRUE(testsupport::spinUntil([&] { return view->txtFinished->text() == QStringLiteral("SafeBox is Finished!"); }));
    EXPECT_EQ(platform::UserDefaults::standardUserDefaults().stringForKey(QStringLiteral("String_SafeBoxHint")),
              QStringLiteral("592|598|604|"));
    EXPECT_EQ(view->currentStep(), view->vSetupProgressing);
    m_scheduler.advance(1000);
    EXPECT_EQ(view->currentStep(), view->vLogin);
    EXPECT_EQ(calls(), QStringList{QStringLiteral("create")}); // created, not opened
    std::lock_guard lock(m_log.mutex);
    EXPECT_EQ(m_log.parameter.value(QStringLiteral("Password")).toString(),
              SafeBoxContentGenerate(QStringLiteral("secret")).generate());
    EXPECT_EQ(m_log.parameter.value(QStringLiteral("Size")).toLongLong(), 104857600);
}

TEST_F(SafeBoxSetupViewControllerTest, AFailedCreationShowsTheToolsText)
{
    answer(false, QStringLiteral("folivo-hdiutil: create failed - File exists"));
    auto view = make(true);
    view->btnNextToSetup2();
    view->btnNextToSetupPassword();
    view->txtPassword->setText(QStringLiteral("a"));
    view->txtVerify->setText(QStringLiteral("a"));
    view->txtHint->setText(QStringLiteral("h"));
    view->btnCreate();
    ASSERT_TRUE(testsupport::spinUntil([&] { return view->currentStep() == view->vSetupFailed; }));
    EXPECT_TRUE(view->txtFailure->text().contains(QStringLiteral("File exists")));
    view->btnCancel();
    EXPECT_EQ(view->currentStep(), view->vSetup1);
}

TEST_F(SafeBoxSetupViewControllerTest, WrongPasswordShowsTheHintAndALoginEmptiesTheField)
{
    platform::UserDefaults::standardUserDefaults().setString(QStringLiteral("592|598|604|"), QStringLiteral("String_SafeBoxHint"));
    answer(false, QStringLiteral("folivo-hdiutil: attach failed - Authentication error"));
    auto view = make(false);
    EXPECT_EQ(view->currentStep(), view->vLogin);
    EXPECT_FALSE(view->btnLogin->isEnabled());
    view->txtLoginPassword->setText(QStringLiteral("wrong"));
    EXPECT_TRUE(view->btnLogin->isEnabled());
    view->btnLogin->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !view->vLoginHint->isHidden(); }));
    EXPECT_EQ(view->txtLoginHint->text(), QStringLiteral("Hint: abc"));
    EXPECT_FALSE(view->txtLoginHint->isHidden());
    EXPECT_EQ(view->txtLoginError->text(), QStringLiteral("The password is not correct."));
    EXPECT_FALSE(view->txtLoginError->isHidden());
    EXPECT_EQ(view->txtLoginPassword->text(), QStringLiteral("wrong"));
    EXPECT_FALSE(view->btnLogin->isEnabled());
    view->txtLoginPassword->setText(QStringLiteral("right"));
    EXPECT_TRUE(view->vLoginHint->isHidden());
    EXPECT_TRUE(view->btnLogin->isEnabled());

    // A box no password opens says why, not the hint.
    answer(false, QStringLiteral("folivo-hdiutil: attach failed - the container's payload is damaged\n"));
    view->txtLoginPassword->setText(QStringLiteral("any"));
    view->btnLogin->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !view->vLoginHint->isHidden(); }));
    EXPECT_TRUE(view->txtLoginError->text().contains(QStringLiteral("the container's payload is damaged")));
    EXPECT_TRUE(view->txtLoginHint->isHidden());
    view->txtLoginPassword->setText(QStringLiteral("right"));

    answer(true, {}, QStringLiteral("/run/box/.42"), QStringLiteral("/dev/folivo-sbx-00000042"));
    QVariant posted;
    auto token = m_center.addObserver(QStringLiteral("SafeBoxLoginSuccess"),
                                      [&](const platform::Notification& n) { posted = n.object; });
    view->btnLogin->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return posted.isValid(); }));
    EXPECT_EQ(posted.toString(), QStringLiteral("/run/box/.42"));
    EXPECT_EQ(m_disk, QStringLiteral("/dev/folivo-sbx-00000042"));
    EXPECT_EQ(m_key, SafeBoxContentGenerate(QStringLiteral("right")).generateD());
    EXPECT_TRUE(view->txtLoginPassword->text().isEmpty());
    std::lock_guard lock(m_log.mutex);
    EXPECT_EQ(m_log.parameter.value(QStringLiteral("ToPath")).toString(), QStringLiteral("/run/box"));
}

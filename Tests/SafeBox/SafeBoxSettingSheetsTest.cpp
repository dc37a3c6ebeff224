// The SafeBox settings popover and its resize and password sheets with a fake disk-image driver:
// the usage figures, the exact resize size, failures that show the tool's text instead of a
// spinner that never stops, and a wrong old password.
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "SafeBox/Views/SafeBoxSettingViewController.h"
#include "SafeBox/Views/SafeboxSetupWindowController.h"
#include "Support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include <gtest/gtest.h>

#include <mutex>

using Kind = platform::kit::RecordingDialogService::Kind;

namespace {

struct Script {
    std::mutex mutex;
    SafeBoxOutcome detach;
    SafeBoxOutcome resize;
    SafeBoxOutcome change;
    QVariantMap resizeParameter;
    int resizes = 0;
};

class ScriptedDriver : public SafeBoxCreator {
public:
    ScriptedDriver(const QString& path, const QVariantMap& parameter, Script& script)
        : SafeBoxCreator(path, parameter), m_script(script)
    {
    }
    SafeBoxOutcome detach(const QString&) override
    {
        std::lock_guard lock(m_script.mutex);
        return m_script.detach;
    }
    SafeBoxOutcome resize() override
    {
        std::lock_guard lock(m_script.mutex);
        m_script.resizeParameter = parameter;
        ++m_script.resizes;
        return m_script.resize;
    }
    SafeBoxOutcome change() override
    {
        std::lock_guard lock(m_script.mutex);
        return m_script.change;
    }

private:
    Script& m_script;
};

SafeBoxOutcome outcome(bool success, const QString& error = {})
{
    SafeBoxOutcome result;
    result.success = success;
    result.error = error;
    return result;
}

class SafeBoxSettingSheetsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window.resize(800, 600);
        SafeBoxXPCClient::setDriverFactoryForTesting([this](const QString& path, const QVariantMap& parameter) {
            return std::make_unique<ScriptedDriver>(path, parameter, m_script);
        });
    }
    void TearDown() override { SafeBoxXPCClient::setDriverFactoryForTesting(nullptr); }

    SafeboxSetupWindowController* begin(SafeboxSetupWindowController::Mode mode, QVariantMap key = {{QStringLiteral("Key"), QStringLiteral("sbKEYfk20")}})
    {
        SafeboxSetupWindowController::Services services;
        services.storeFile = QStringLiteral("/lib/safebox.db");
        services.safeBoxDisk = QStringLiteral("/dev/folivo-sbx-00000001");
        services.keyInfo = key;
        services.runtimeFree = qint64(2) * SafeboxSetupWindowController::kGiB;
        services.dialogs = &m_dialogs;
        services.scheduler = &m_scheduler;
        m_dialogs.scriptSheetShown();
        auto* sheet = new SafeboxSetupWindowController(mode, services);
        m_code = -1;
        sheet->beginSheedWithWindow(&m_window, [this](int code) { m_code = code; });
        return sheet;
    }

    QWidget m_window;
    Script m_script;
    platform::kit::RecordingDialogService m_dialogs;
    platform::kit::VirtualScheduler m_scheduler;
    int m_code = -1;
};

} // namespace

TEST_F(SafeBoxSettingSheetsTest, ThePopoverShowsUsedOfCapacityAndAnswersItsTwoActions)
{
    // Free is below capacity less used, as when the disks have less room than the box: the
    // shortage is not content.
    SafeBoxSettingViewController settings(QStringLiteral("/mount"), [](const QString&) {
        platform::SafeBoxVolumeInfo info;
        info.capacity = 100 * 1048576;
        info.free = 10 * 1048576;
        info.used = 25 * 1048576;
        return std::optional(info);
    });
    EXPECT_EQ(settings.labUsageInfo->text(), QStringLiteral("25.00 MB of 100.00 MB"));
    EXPECT_EQ(settings.usage(), quint64(25 * 1048576));
    EXPECT_EQ(settings.leveIndicator->value(), 3);

    // A large box holding one small file on a fuller disk reads as almost empty.
    SafeBoxSettingViewController large(QStringLiteral("/mount"), [](const QString&) {
        platform::SafeBoxVolumeInfo info;
        info.capacity = quint64(100) * 1073741824;
        info.used = 4096;
        info.free = quint64(42564) * 1048576;
        return std::optional(info);
    });
    EXPECT_EQ(large.labUsageInfo->text(), QStringLiteral("0.00 MB of 102400.00 MB"));
    EXPECT_EQ(large.usage(), quint64(4096));
    EXPECT_EQ(large.leveIndicator->value(), 1);
    QList<int> codes;
    settings.setupCallBack([&](int code) { codes.append(code); });
    settings.btnResize->click();
    settings.btnPassword->click();
    EXPECT_EQ(codes, (QList<int>{1, 2}));

    SafeBoxSettingViewController unreadable(QStringLiteral("/gone"), [](const QString&) { return std::optional<platform::SafeBoxVolumeInfo>(); });
    EXPECT_FALSE(unreadable.btnResize->isEnabled());
}

TEST_F(SafeBoxSettingSheetsTest, ResizeAsksForTheExactSizeWarnsBelowTheUsageAndEndsClosed)
{
    SafeboxSetupWindowController* sheet = begin(SafeboxSetupWindowController::Mode::Resize);
    sheet->setSafeBoxUsage(quint64(300) * 1048576, quint64(SafeboxSetupWindowController::kGiB));
    EXPECT_EQ(sheet->resizeSlider->value(), 100);
    sheet->resizeSlider->setValue(27); // below the 300 MB it holds: warned, still allowed
    EXPECT_FALSE(sheet->resizeHint->isHidden());
    sheet->resizeSlider->setValue(150);
    EXPECT_TRUE(sheet->resizeHint->isHidden());
    EXPECT_EQ(sheet->requestedSize(), quint64(1610612736)); // 1.5 GiB, not rounded to whole GiB
    sheet->resizeSlider->setValue(300); // more than the runtime folder can take
    EXPECT_FALSE(sheet->roomHint->isHidden());
    sheet->resizeSlider->setValue(150);

    m_script.detach = outcome(true);
    m_script.resize = outcome(true);
    sheet->btnResizeOK();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->txtProgressInfo->text() == QStringLiteral("Almost done"); }));
    EXPECT_EQ(m_script.resizeParameter.value(QStringLiteral("Size")).toULongLong(), quint64(1610612736));
    EXPECT_EQ(m_script.resizeParameter.value(QStringLiteral("P")).toString(), QStringLiteral("sbKEYfk20"));
    m_scheduler.advance(1000);
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_code != -1; }));
    EXPECT_EQ(m_code, 1);
}

TEST_F(SafeBoxSettingSheetsTest, AFailedDetachOrResizeOrAMissingKeyShowsWhyInsteadOfSpinning)
{
    SafeboxSetupWindowController* sheet = begin(SafeboxSetupWindowController::Mode::Resize);
    sheet->setSafeBoxUsage(0, SafeboxSetupWindowController::kGiB);
    m_script.detach = outcome(false, QStringLiteral("folivo-hdiutil: detach failed - Resource busy"));
    sheet->btnResizeOK();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->currentPage() == sheet->hintView; }));
    EXPECT_TRUE(sheet->txtHintText->text().contains(QStringLiteral("Resource busy")));
    EXPECT_EQ(m_script.resizes, 0);
    sheet->hintView->findChild<QPushButton*>()->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_code != -1; }));
    EXPECT_EQ(m_code, 0); // still attached: the box stays shown open

    // Detached, then the resize fails: the box is closed and the window must say so.
    sheet = begin(SafeboxSetupWindowController::Mode::Resize);
    sheet->setSafeBoxUsage(0, SafeboxSetupWindowController::kGiB);
    m_script.detach = outcome(true);
    m_script.resize = outcome(false, QStringLiteral("resize failed - No space left on device"));
    sheet->btnResizeOK();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->currentPage() == sheet->hintView; }));
    EXPECT_TRUE(sheet->txtHintText->text().contains(QStringLiteral("No space left")));
    sheet->hintView->findChild<QPushButton*>()->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_code != -1; }));
    EXPECT_EQ(m_code, 1);

    // After a lock the login key is gone: nothing is detached or resized.
    sheet = begin(SafeboxSetupWindowController::Mode::Resize, {});
    const int resizes = m_script.resizes;
    sheet->btnResizeOK();
    EXPECT_EQ(sheet->currentPage(), sheet->hintView);
    EXPECT_EQ(m_script.resizes, resizes);
}

TEST_F(SafeBoxSettingSheetsTest, PasswordChangeIsGatedAndAFailureNeverLeavesTheSpinnerRunning)
{
    SafeboxSetupWindowController* sheet = begin(SafeboxSetupWindowController::Mode::ChangePassword);
    sheet->txtChangePassword->setText(QStringLiteral("new"));
    sheet->txtChangeVerify->setText(QStringLiteral("new"));
    sheet->txtChangeHint->setText(QStringLiteral("hint"));
    EXPECT_FALSE(sheet->btnChangePassword->isEnabled()); // the old password is still empty
    sheet->txtChangeOldPassword->setText(QStringLiteral("old"));
    EXPECT_TRUE(sheet->btnChangePassword->isEnabled());

    m_script.change = outcome(false, QStringLiteral("chpass failed - Authentication error"));
    sheet->btnChangePasswordOK();
    EXPECT_FALSE(sheet->btnChangePasswordCancelButton->isEnabled());
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->btnChangePasswordCancelButton->isEnabled(); }));
    m_scheduler.advance(1000);
    EXPECT_TRUE(sheet->changePSWProgress->isHidden());
    EXPECT_FALSE(sheet->txtChangePasswordError->isHidden());
    EXPECT_TRUE(sheet->txtChangeOldPassword->text().isEmpty());
    EXPECT_TRUE(sheet->txtChangeVerify->text().isEmpty());

    for (QLineEdit* field : {sheet->txtChangeOldPassword, sheet->txtChangePassword, sheet->txtChangeVerify, sheet->txtChangeHint})
        field->setText(QStringLiteral("x"));
    m_script.change = outcome(false, QStringLiteral("chpass failed - Input/output error"));
    sheet->btnChangePasswordOK();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->btnChangePasswordCancelButton->isEnabled(); }));
    m_scheduler.advance(0);
    EXPECT_TRUE(sheet->changePSWProgress->isHidden());
    EXPECT_TRUE(sheet->txtChangePasswordError->text().contains(QStringLiteral("Input/output error")));
    EXPECT_EQ(sheet->txtChangeOldPassword->text(), QStringLiteral("x")); // kept for another try
    EXPECT_EQ(m_code, -1);

    m_script.change = outcome(true);
    sheet->btnChangePasswordOK();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_scheduler.pendingCount() > 0; }));
    m_scheduler.advance(1000);
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_code != -1; }));
    EXPECT_EQ(m_code, 1);
    EXPECT_EQ(m_dialogs.last(Kind::Alert).messageText, QStringLiteral("SafeBox password has been changed"));
}

TEST_F(SafeBoxSettingSheetsTest, AChangedPasswordEndsTheSheetBeforeTheAlertComes)
{
    // The real service: an alert on a window waits for the window's sheet to end.
    platform::kit::QtDialogService screen;
    SafeboxSetupWindowController::Services services;
    services.storeFile = QStringLiteral("/lib/safebox.db");
    services.dialogs = &screen;
    services.scheduler = &m_scheduler;
    auto* sheet = new SafeboxSetupWindowController(SafeboxSetupWindowController::Mode::ChangePassword, services);
    sheet->beginSheedWithWindow(&m_window, [this](int code) { m_code = code; });
    for (QLineEdit* field : {sheet->txtChangeOldPassword, sheet->txtChangePassword, sheet->txtChangeVerify, sheet->txtChangeHint})
        field->setText(QStringLiteral("x"));
    m_script.change = outcome(true);
    sheet->btnChangePasswordOK();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_scheduler.pendingCount() > 0; }));
    m_scheduler.advance(1000);
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_code != -1; }));
    EXPECT_EQ(m_code, 1);
    // The alert now stands alone on the window, and answering it leaves the window free.
    platform::kit::Sheet* alert = platform::kit::Sheet::shownSheet(&m_window);
    ASSERT_NE(alert, nullptr);
    bool saysChanged = false;
    for (const QLabel* label : alert->content()->findChildren<QLabel*>())
        saysChanged = saysChanged || label->text() == QStringLiteral("SafeBox password has been changed");
    EXPECT_TRUE(saysChanged);
    const QList<QPushButton*> buttons = alert->content()->findChildren<QPushButton*>();
    ASSERT_FALSE(buttons.isEmpty());
    buttons.first()->click();
    EXPECT_TRUE(testsupport::spinUntil([&] { return platform::kit::Sheet::shownSheet(&m_window) == nullptr; }));
}

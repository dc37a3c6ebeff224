// The upgrade window: cancelling never upgrades, the window cannot be closed while the upgrade
// runs, and it ends with 4 or 3 according to the outcome.
#include "Platform/Foundation/Bundle.h"
#include "Store/UI/NeedUpgradLibraryWindowController.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

struct Finished {
    std::optional<int> code;
    explicit Finished(NeedUpgradLibraryWindowController& controller)
    {
        QObject::connect(controller.window(), &QDialog::finished, controller.window(), [this](int c) { code = c; });
    }
    bool wait() { return testsupport::spinUntil([this] { return code.has_value(); }); }
};

} // namespace

TEST(NeedUpgradLibraryWindowController, CancelClosesWithZeroAndUpgradesNothing)
{
    std::atomic<int> runs{0};
    NeedUpgradLibraryWindowController controller([&]() -> platform::Result<void> {
        ++runs;
        return {};
    });
    Finished finished(controller);
    controller.window()->show();
    EXPECT_EQ(controller.outlets().content->currentWidget(), controller.outlets().firstView);
    controller.outlets().cancelButton->click();
    ASSERT_TRUE(finished.wait());
    EXPECT_EQ(*finished.code, NeedUpgradLibraryWindowController::Cancelled);
    EXPECT_EQ(runs.load(), 0);
}

TEST(NeedUpgradLibraryWindowController, TheWindowStaysWhileUpgradingAndReportsTheOutcome)
{
    for (const bool succeed : {true, false}) {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> started{false};
        NeedUpgradLibraryWindowController controller([&, released]() -> platform::Result<void> {
            started = true;
            released.wait();
            if (succeed)
                return {};
            return platform::fail(QStringLiteral("DataBaseEngine(Upgrad)"), 8001, QStringLiteral("No MappingModel found in bundle"));
        });
        Finished finished(controller);
        controller.window()->show();
        controller.outlets().updateButton->click();

        EXPECT_EQ(controller.outlets().content->currentWidget(), controller.outlets().updateingView);
        EXPECT_EQ(controller.outlets().indicator->maximum(), 0) << "the indicator runs";
        ASSERT_TRUE(testsupport::spinUntil([&] { return started.load(); }));
        EXPECT_TRUE(controller.isUpgrading());
        controller.window()->close();
        controller.btnCancelClick();
        QCoreApplication::processEvents();
        EXPECT_TRUE(controller.window()->isVisible()) << "a half-done upgrade cannot be walked away from";
        EXPECT_FALSE(finished.code.has_value());

        release.set_value();
        ASSERT_TRUE(finished.wait());
        EXPECT_EQ(*finished.code, succeed ? NeedUpgradLibraryWindowController::UpgradeSucceeded
                                          : NeedUpgradLibraryWindowController::UpgradeFailed);
        EXPECT_EQ(controller.lastError().isEmpty(), succeed);
        EXPECT_FALSE(controller.isUpgrading());
    }
}

TEST(NeedUpgradLibraryWindowController, UpgradesTheLibraryItIsGiven)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("lib"));
    NeedUpgradLibraryWindowController controller(folder + QStringLiteral("/gone"),
                                                 platform::Bundle::mainBundle().resourcePath());
    Finished finished(controller);
    controller.btnUpdateClick();
    ASSERT_TRUE(finished.wait());
    EXPECT_EQ(*finished.code, NeedUpgradLibraryWindowController::UpgradeFailed);
    EXPECT_TRUE(controller.lastError().contains(folder + QStringLiteral("/gone"))) << qPrintable(controller.lastError());
}

#include "Platform/Frameworks/KPCrashReportManager.h"
#include "Platform/Frameworks/KPUpdater.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace platform;

TEST(KPCrashReportManager, StartsOnlyWhenConfiguredWithAWellFormedIdentifier)
{
    KPCrashReportManager manager;
    EXPECT_FALSE(manager.startManager());
    EXPECT_FALSE(manager.configureWithIdentifier(QStringLiteral("5E0B7C21A9D43F68E17C02B4D9A6F385"), QStringLiteral("norlith")));
    EXPECT_FALSE(manager.configureWithIdentifier(QStringLiteral("5e0b7c21"), QStringLiteral("norlith")));
    ASSERT_TRUE(manager.configureWithIdentifier(QStringLiteral("5e0b7c21a9d43f68e17c02b4d9a6f385"), QStringLiteral("norlith")));
    EXPECT_TRUE(manager.startManager());
    EXPECT_TRUE(QFileInfo(manager.reportsFolder()).isDir());
}

TEST(KPUpdater, MenuCheckSaysTheRunningVersionIsCurrent)
{
    auto& updater = KPUpdater::sharedUpdater();
    updater.checkForUpdatesInBackground();
    EXPECT_TRUE(updater.checkForUpdates().contains(QStringLiteral("2.0.0")));
    EXPECT_EQ(updater.checksMade(), 2);
}

// The main window over a library in a scratch folder: the store opened as the program's
// default, the generated theme, the display and sort settings fresh, and a window controller
// made on demand with held keys the test sets.
#pragma once

#include "../Browser/BrowserLibraryKit.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/KeyState.h"
#include "MainWindow/MainWindowController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "Support/TestSupport.h"
#include "Theme/KPThemeManager.h"

#include <gtest/gtest.h>
#include <memory>

namespace mainwindowtest {

inline platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

class MainWindowFixture : public browsertest::BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
        for (const QString& key :
             {MainWindowController::kLastSelectedInfoKey, MainWindowController::kLeftSideBarWidthKey,
              MainWindowController::kSubLeftSideBarWidthKey, MainWindowController::kLeftSideBarExpandKey,
              QStringLiteral("MainWindowFrame")})
            defaults().removeObjectForKey(key);
        defaults().registerDefaults({{MainWindowController::kLeftSideBarExpandKey, QStringLiteral("YES")},
                                     {MainWindowController::kLeftSideBarWidthKey, QStringLiteral("200")},
                                     {MainWindowController::kSubLeftSideBarWidthKey, QStringLiteral("200")}});
        KPDataSourceSortManager::resetForTesting();
    }

    void TearDown() override
    {
        controller.reset();
        KPDataSourceManager::shareDataSourceManager().removeAllObjects();
        BrowserLibraryTest::TearDown();
        KPDataSourceSortManager::resetForTesting();
    }

    MainWindowController::Options options()
    {
        MainWindowController::Options o;
        SideBarServices services;
        services.library = engine.get();
        o.sideBarServices = services;
        o.keys = &keys;
        o.canPlaceWindows = true;
        o.onCloseRequest = [this] { ++closeRequests; };
        o.openRebuildWindow = [this](QWidget*) { ++rebuildOpens; };
        return o;
    }

    // Makes the window and waits until both side bars have loaded and the selection is back.
    MainWindowController& open(MainWindowController::Options o)
    {
        controller = std::make_unique<MainWindowController>(std::move(o));
        controller->showWindow();
        EXPECT_TRUE(testsupport::spinUntil([this] { return controller->isRestored(); }));
        return *controller;
    }
    MainWindowController& open() { return open(options()); }

    KPSideBarOutlineView& sideBarView() { return *controller->context().sideBarDataSource->sideBarView(); }
    KPNode* selected() { return sideBarView().selectedNode(); }

    FixedKeyState keys;
    int closeRequests = 0;
    int rebuildOpens = 0;
    std::unique_ptr<MainWindowController> controller;
};

} // namespace mainwindowtest

// Readable QString values in test failure messages.
#include <ostream>
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// Shared set-up of the browser tests: display settings from a known table of user defaults,
// and a fresh KPViewSizeManager per test.
#pragma once

#include "Browser/KPViewSizeManager.h"
#include "Platform/Foundation/UserDefaults.h"

#include <gtest/gtest.h>

namespace browsertest {

// The registered defaults of the settings the browser reads (as the application registers
// them), with every stored value removed.
inline void resetBrowserDefaults()
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    const QString yes = QStringLiteral("YES");
    defaults.registerDefaults({
        {QStringLiteral("Int_ViewItemScale"), QStringLiteral("40")},
        {QStringLiteral("Int_DisplayMode"), QStringLiteral("1")},
        {QStringLiteral("Bool_IsShowTitle"), yes},
        {QStringLiteral("Bool_IsShowRating"), yes},
        {QStringLiteral("Bool_IsShowTags"), yes},
        {QStringLiteral("Int_GroupSortType"), QStringLiteral("1")},
        {QStringLiteral("Bool_GroupAscending"), yes},
        {QStringLiteral("Int_FileSortType"), QStringLiteral("1")},
        {QStringLiteral("Bool_FileAscending"), yes},
        {QStringLiteral("Int_DocumentRecentFilterType"), QStringLiteral("0")},
    });
    for (const char* key : {"Int_ViewItemScale", "Int_DisplayMode", "Bool_IsShowTitle", "Bool_IsShowRating",
                            "Bool_IsShowTags", "Bool_IsShowExtension", "Int_GroupSortType", "Bool_GroupAscending",
                            "Int_FileSortType", "Bool_FileAscending", "Int_DocumentRecentFilterType"})
        defaults.removeObjectForKey(QString::fromLatin1(key));
}

// Every test starts from the registered settings and a new settings instance.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetBrowserDefaults();
        KPViewSizeManager::resetForTesting();
    }
    void TearDown() override { KPViewSizeManager::resetForTesting(); }

    KPViewSizeManager& settings() { return KPViewSizeManager::instance(); }
};

} // namespace browsertest

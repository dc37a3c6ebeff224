#include "App/DefaultSettings.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"

namespace DefaultSettings {

QVariantMap table(const QString& documentsFolder)
{
    const auto yes = QStringLiteral("YES");
    const auto no = QStringLiteral("NO");
    return {
        {QStringLiteral("Bool_ProgramIsFirstRun"), yes},
        {QStringLiteral("Int_RunningCount"), QStringLiteral("0")},
        {QStringLiteral("Bool_Rated"), no},
        {QStringLiteral("Bool_CopyFilesToLibrary"), no},
        {QStringLiteral("String_Library_Path"), documentsFolder + QStringLiteral("/Folivo 2 Library")},
        {QStringLiteral("Bool_IsShowWelcomWindow"), yes},
        {QStringLiteral("Bool_GroupAscending"), yes},
        {QStringLiteral("Int_GroupSortType"), QStringLiteral("1")},
        {QStringLiteral("Int_FileSortType"), QStringLiteral("1")},
        {QStringLiteral("Bool_FileAscending"), yes},
        {QStringLiteral("Bool_IsShowTitle"), yes},
        {QStringLiteral("Bool_IsShowRating"), yes},
        {QStringLiteral("Bool_IsShowTags"), yes},
        {QStringLiteral("String_ThemeName"), QStringLiteral("gray")},
        {QStringLiteral("Int_DisplayMode"), QStringLiteral("1")},
        {QStringLiteral("Int_ViewItemScale"), QStringLiteral("40")},
        {QStringLiteral("Bool_LeftSideBarExpand"), yes},
        {QStringLiteral("Int_LeftSideBarWidth"), QStringLiteral("200")},
        {QStringLiteral("Int_SubLeftSideBarWidth"), QStringLiteral("200")},
        {QStringLiteral("Bool_ShowSideBarItemCount"), yes},
        {QStringLiteral("Bool_KeepImportWindowAsk"), yes},
        {QStringLiteral("Int_DocumentRecentFilterType"), QStringLiteral("0")},
        {QStringLiteral("Int_DocumentFlagType"), QStringLiteral("0")},
        {QStringLiteral("String_UnSupportKindIDS"), QStringLiteral("26,28,29,30,31,32,33,34,35")},
    };
}

void registerDefaultSettings()
{
    platform::UserDefaults::standardUserDefaults().registerDefaults(
        table(platform::Paths::documentsDirectory()));
}

} // namespace DefaultSettings

#include "App/DefaultSettings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Support/TestSupport.h"

#include <gtest/gtest.h>

TEST(DefaultSettings, RegisteredTextReadsBackTyped)
{
    DefaultSettings::registerDefaultSettings();
    auto& defaults = platform::UserDefaults::standardUserDefaults();

    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("Bool_Rated")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_ProgramIsFirstRun")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_ViewItemScale")), 40);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_RunningCount")), 0);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("String_ThemeName")), QStringLiteral("gray"));
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("String_UnSupportKindIDS")),
              QStringLiteral("26,28,29,30,31,32,33,34,35"));
    EXPECT_EQ(DefaultSettings::table(QStringLiteral("/docs")).size(), 24);
}

TEST(DefaultSettings, LibraryPathIsAbsoluteInTheDocumentsFolder)
{
    DefaultSettings::registerDefaultSettings();
    const QString path = platform::UserDefaults::standardUserDefaults().stringForKey(
        QStringLiteral("String_Library_Path"));
    EXPECT_FALSE(path.contains(QLatin1Char('~')));
    EXPECT_TRUE(path.startsWith(testsupport::homeDir())) << path.toStdString();
    EXPECT_TRUE(path.endsWith(QStringLiteral("/Folivo 2 Library")));
}

TEST(DefaultSettings, StoredValueWinsOverRegisteredOne)
{
    DefaultSettings::registerDefaultSettings();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setBool(true, QStringLiteral("Bool_Rated"));
    DefaultSettings::registerDefaultSettings(); // a later start registers again
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_Rated")));
    defaults.removeObjectForKey(QStringLiteral("Bool_Rated"));
}

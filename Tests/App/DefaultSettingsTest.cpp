#include "App/DefaultSettings.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Support/TestSupport.h"

#include <gtest/gtest.h>

// Everything is registered as text; the typed readers of the rest of the program must still
// read "YES", "NO" and digits as what they mean.
TEST(DefaultSettings, RegisteredTextReadsBackTypedAndNeverOverridesAStoredValue)
{
    DefaultSettings::registerDefaultSettings();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_ProgramIsFirstRun")));
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("Bool_Rated")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_ViewItemScale")), 40);

    defaults.setBool(true, QStringLiteral("Bool_Rated"));
    DefaultSettings::registerDefaultSettings(); // a later start registers again
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_Rated")));
    defaults.removeObjectForKey(QStringLiteral("Bool_Rated"));
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

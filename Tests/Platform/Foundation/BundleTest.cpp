#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"

#include "Support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using platform::Bundle;
using platform::Localization;

namespace {

QByteArray stringsTable(const QList<std::pair<const char*, const char*>>& entries)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
    for (const auto& [k, v] : entries)
        xml += QByteArray("<key>") + k + "</key><string>" + v + "</string>";
    return xml + "</dict></plist>";
}

// A resource folder with plain, typed, nested and localized files.
QString makeResources()
{
    const QString root = testsupport::makeTempDir(QStringLiteral("res"));
    testsupport::writeFile(root + QStringLiteral("/Info.plist"),
                           "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                           "<key>CFBundleIdentifier</key><string>org.example.test</string>"
                           "<key>CFBundleVersion</key><string>7</string></dict></plist>");
    testsupport::writeFile(root + QStringLiteral("/flagconfig.plist"), "x");
    testsupport::writeFile(root + QStringLiteral("/Fonts/b.ttf"), "x");
    testsupport::writeFile(root + QStringLiteral("/Fonts/a.ttf"), "x");
    testsupport::writeFile(root + QStringLiteral("/Fonts/readme.txt"), "x");
    QDir().mkpath(root + QStringLiteral("/Themes/gray.theme"));
    testsupport::writeFile(root + QStringLiteral("/en.lproj/Welcome.html"), "x");
    testsupport::writeFile(root + QStringLiteral("/outside.txt"), "x");
    return root;
}

} // namespace

TEST(Bundle, MainBundleFindsTheInstalledResources)
{
    Bundle& main = Bundle::mainBundle();
    EXPECT_TRUE(QFileInfo::exists(main.resourcePath() + QStringLiteral("/Info.plist")))
        << main.resourcePath().toStdString();
    EXPECT_EQ(main.bundleIdentifier(), QStringLiteral("com.norlith.folivo2"));
    EXPECT_FALSE(main.objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString"))
                     .toString()
                     .isEmpty());
    EXPECT_EQ(main.pathForResource(QStringLiteral("Localizable"), QStringLiteral("strings")),
              main.resourcePath() + QStringLiteral("/en.lproj/Localizable.strings"));
}

TEST(Bundle, FindsResourcesByNameTypeAndFolder)
{
    const QString root = makeResources();
    Bundle bundle(root);
    EXPECT_EQ(bundle.bundleIdentifier(), QStringLiteral("org.example.test"));
    EXPECT_EQ(bundle.pathForResource(QStringLiteral("flagconfig"), QStringLiteral("plist")),
              root + QStringLiteral("/flagconfig.plist"));
    EXPECT_EQ(bundle.pathForResource(QStringLiteral("flagconfig"), QStringLiteral(".plist")),
              root + QStringLiteral("/flagconfig.plist"));
    EXPECT_EQ(bundle.pathForResource(QStringLiteral("flagconfig.plist"), QString()),
              root + QStringLiteral("/flagconfig.plist"));
    EXPECT_EQ(bundle.pathForResource(QStringLiteral("a"), QStringLiteral("ttf"), QStringLiteral("Fonts")),
              root + QStringLiteral("/Fonts/a.ttf"));
    EXPECT_EQ(bundle.pathForResource(QStringLiteral("Welcome"), QStringLiteral("html")),
              root + QStringLiteral("/en.lproj/Welcome.html"));
    EXPECT_TRUE(bundle.pathForResource(QStringLiteral("a"), QStringLiteral("ttf")).isEmpty());
    EXPECT_TRUE(bundle.pathForResource(QStringLiteral("missing"), QStringLiteral("png")).isEmpty());
    // Names may not climb out of the resource folder.
    testsupport::writeFile(root + QStringLiteral("/../secret.txt"), "x");
    EXPECT_TRUE(bundle.pathForResource(QStringLiteral("../secret"), QStringLiteral("txt")).isEmpty());

    EXPECT_EQ(bundle.pathsForResourcesOfType(QStringLiteral("ttf"), QStringLiteral("Fonts")),
              (QStringList{root + QStringLiteral("/Fonts/a.ttf"), root + QStringLiteral("/Fonts/b.ttf")}));
    EXPECT_EQ(bundle.pathsForResourcesOfType(QStringLiteral("theme"), QStringLiteral("Themes")),
              QStringList{root + QStringLiteral("/Themes/gray.theme")});
    EXPECT_EQ(bundle.pathsForResourcesOfType(QString(), QStringLiteral("Fonts")).size(), 3);
    EXPECT_TRUE(bundle.pathsForResourcesOfType(QStringLiteral("ttf"), QStringLiteral("None")).isEmpty());
}

TEST(Bundle, MissingInfoPlistGivesAnEmptyDictionary)
{
    Bundle bundle(testsupport::makeTempDir(QStringLiteral("empty")));
    EXPECT_TRUE(bundle.infoDictionary().isEmpty());
    EXPECT_TRUE(bundle.bundleIdentifier().isEmpty());
}

TEST(Localization, PrefersTheUsersLanguageThenEnglishThenTheKey)
{
    const QString root = makeResources();
    testsupport::writeFile(root + QStringLiteral("/en.lproj/Localizable.strings"),
                           stringsTable({{"Cancel", "Cancel"}, {"OK", "OK"}, {"untitled smart folder", "untitled smart folder"}}));
    testsupport::writeFile(root + QStringLiteral("/de.lproj/Localizable.strings"),
                           stringsTable({{"Cancel", "Abbrechen"}}));
    testsupport::writeFile(root + QStringLiteral("/de.lproj/Menu.strings"), "not a plist");

    Localization german(root, {QStringLiteral("de_AT"), QStringLiteral("de")});
    EXPECT_EQ(german.languages(), (QStringList{QStringLiteral("de_AT"), QStringLiteral("de"), QStringLiteral("en")}));
    EXPECT_EQ(german.localizedString(QStringLiteral("Cancel")), QStringLiteral("Abbrechen"));
    EXPECT_EQ(german.localizedString(QStringLiteral("OK")), QStringLiteral("OK"));
    EXPECT_EQ(german.localizedString(QStringLiteral("Never translated")), QStringLiteral("Never translated"));
    EXPECT_EQ(german.localizedString(QStringLiteral("Cancel"), QStringLiteral("Menu")), QStringLiteral("Cancel"));

    Localization english(root, {});
    EXPECT_EQ(english.localizedString(QStringLiteral("Cancel")), QStringLiteral("Cancel"));
}

TEST(Localization, ReadsLanguagesFromTheEnvironment)
{
    const QByteArray oldLanguage = qgetenv("LANGUAGE");
    const QByteArray oldLang = qgetenv("LANG");
    qputenv("LANGUAGE", "fr:de_CH");
    qputenv("LANG", "pt_BR.UTF-8@x");
    const QStringList fromEnv = Localization::languagesFromEnvironment();
    qputenv("LANGUAGE", "");
    qputenv("LANG", "C.UTF-8");
    const QStringList plain = Localization::languagesFromEnvironment();
    qputenv("LANGUAGE", oldLanguage);
    qputenv("LANG", oldLang);
    EXPECT_EQ(fromEnv, (QStringList{QStringLiteral("fr"), QStringLiteral("de_CH"), QStringLiteral("de"),
                                    QStringLiteral("pt_BR"), QStringLiteral("pt")}));
    EXPECT_TRUE(plain.isEmpty());
    EXPECT_EQ(platform::localizedString(QStringLiteral("untitled smart folder")),
              QStringLiteral("untitled smart folder"));
}

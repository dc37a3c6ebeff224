#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeResourcer.h"
#include "Support/TestSupport.h"
#include "ThemeFixtures.h"

#include <gtest/gtest.h>

using namespace themefixtures;

namespace {

QString plistPath(const QString& folder, const QString& name)
{
    return QStringLiteral("%1/theme/%2.plist").arg(folder, name);
}

QVariantMap typed(const QString& type, const QVariant& value = {})
{
    QVariantMap d{{QStringLiteral("Type"), type}};
    if (value.isValid())
        d.insert(QStringLiteral("Value"), value);
    return d;
}

} // namespace

TEST(KPThemeResourcer, LoadsOnlyTheSheetOfItsScale)
{
    const QString folder = testsupport::makeTempDir();
    writeTheme(folder, QStringLiteral("t"), basicRoot(), true, false);

    KPThemeResourcer at1x(plistPath(folder, QStringLiteral("t")), false);
    ASSERT_TRUE(at1x.loadResource());
    EXPECT_EQ(at1x.themeImageRef().size(), QSize(64, 64));

    KPThemeResourcer at2x(plistPath(folder, QStringLiteral("t")), true);
    const auto failed = at2x.loadResource();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().domain, QStringLiteral("KPThemeResource"));
    EXPECT_EQ(failed.error().code, 2);
    EXPECT_EQ(failed.error().message, QStringLiteral("Theme file don't exist!"));
}

TEST(KPThemeResourcer, MissingOrUndecodableFilesAreCode2)
{
    const QString folder = testsupport::makeTempDir();
    KPThemeResourcer missing(plistPath(folder, QStringLiteral("none")), false);
    const auto noFile = missing.loadResource();
    ASSERT_FALSE(noFile);
    EXPECT_EQ(noFile.error().code, 2);
    EXPECT_EQ(noFile.error().message, QStringLiteral("Theme file don't exist!"));

    writeTheme(folder, QStringLiteral("bad"), basicRoot(), false, false);
    testsupport::writeFile(folder + QStringLiteral("/theme/bad.png"), QByteArray("\x89PNG not really", 15));
    KPThemeResourcer corrupt(plistPath(folder, QStringLiteral("bad")), false);
    const auto undecodable = corrupt.loadResource();
    ASSERT_FALSE(undecodable);
    EXPECT_EQ(undecodable.error().code, 2);
    EXPECT_EQ(undecodable.error().message, QStringLiteral("error theme file!"));
}

TEST(KPThemeResourcer, BadStyleListsAreCode1AndNeverCrash)
{
    const QString folder = testsupport::makeTempDir();
    // A description that is a plain string instead of a dictionary.
    QVariantMap root = basicRoot();
    QVariantMap objects = root.value(QStringLiteral("ThemeObjects")).toMap();
    objects.insert(QStringLiteral("Broken"), QStringLiteral("{{0, 0}, {8, 8}}"));
    root.insert(QStringLiteral("ThemeObjects"), objects);
    writeTheme(folder, QStringLiteral("string"), root);
    const auto stringEntry = KPThemeResourcer(plistPath(folder, QStringLiteral("string")), false).loadResource();
    ASSERT_FALSE(stringEntry);
    EXPECT_EQ(stringEntry.error().code, 1);
    EXPECT_TRUE(stringEntry.error().message.contains(QStringLiteral("Broken")));

    // A group member that is not a dictionary.
    root = basicRoot();
    root.insert(QStringLiteral("CustomThemeObject"), QVariantMap{{QStringLiteral("G"), QVariantMap{{QStringLiteral("m"), 5}}}});
    writeTheme(folder, QStringLiteral("member"), root);
    const auto memberEntry = KPThemeResourcer(plistPath(folder, QStringLiteral("member")), false).loadResource();
    ASSERT_FALSE(memberEntry);
    EXPECT_EQ(memberEntry.error().code, 1);

    // Not a property list at all, and a list whose root is no dictionary.
    writeTheme(folder, QStringLiteral("garbage"), QVariantList{});
    testsupport::writeFile(plistPath(folder, QStringLiteral("garbage")), "this is { not a plist");
    const auto garbage = KPThemeResourcer(plistPath(folder, QStringLiteral("garbage")), false).loadResource();
    ASSERT_FALSE(garbage);
    EXPECT_EQ(garbage.error().code, 1);
    writeTheme(folder, QStringLiteral("array"), QVariantList{1, 2});
    const auto array = KPThemeResourcer(plistPath(folder, QStringLiteral("array")), false).loadResource();
    ASSERT_FALSE(array);
    EXPECT_EQ(array.error().code, 1);
}

TEST(KPThemeResourcer, EmptyGroupIsSkippedWithItsLogLineAndTheRestLoads)
{
    const QString folder = testsupport::makeTempDir();
    QVariantMap root = basicRoot();
    QVariantMap groups = root.value(QStringLiteral("CustomThemeObject")).toMap();
    groups.insert(QStringLiteral("Empty"), QVariantMap{});
    root.insert(QStringLiteral("CustomThemeObject"), groups);
    writeTheme(folder, QStringLiteral("t"), root);

    LogCapture log;
    KPThemeResourcer theme(plistPath(folder, QStringLiteral("t")), false);
    ASSERT_TRUE(theme.loadResource());
    EXPECT_EQ(theme.customThemeObjectWithName(QStringLiteral("Empty")), nullptr);
    EXPECT_NE(theme.customThemeObjectWithName(QStringLiteral("Group")), nullptr);
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().first().startsWith(QStringLiteral("Parse Custom Theme Object Error: key: Empty \n Value: ")));
}

TEST(KPThemeResourcer, TypeDispatchIsExactAndEverythingElseIsACustomValue)
{
    const KPThemeSheet sheet;
    auto noType = KPThemeResourcer::makeThemeObject(QStringLiteral("a"), QVariantMap{{QStringLiteral("Value"), 3}}, &sheet);
    auto number = KPThemeResourcer::makeThemeObject(QStringLiteral("b"), typed(QStringLiteral("Number"), 3), &sheet);
    auto wrongCase = KPThemeResourcer::makeThemeObject(QStringLiteral("c"), typed(QStringLiteral("color"), QStringLiteral("FF0000")), &sheet);
    auto color = KPThemeResourcer::makeThemeObject(QStringLiteral("d"), typed(QStringLiteral("Color"), QStringLiteral("FF0000")), &sheet);
    auto multi = KPThemeResourcer::makeThemeObject(QStringLiteral("e"), typed(QStringLiteral("MultiSprite")), &sheet);
    ASSERT_TRUE(noType && number && wrongCase && color && multi);
    EXPECT_NE(dynamic_cast<KPCustomThemeObjectValue*>(noType->get()), nullptr);
    EXPECT_NE(dynamic_cast<KPCustomThemeObjectValue*>(number->get()), nullptr);
    EXPECT_NE(dynamic_cast<KPCustomThemeObjectValue*>(wrongCase->get()), nullptr);
    EXPECT_NE(dynamic_cast<KPColor*>(color->get()), nullptr);
    EXPECT_NE(dynamic_cast<KPMultiSprite*>(multi->get()), nullptr);
    EXPECT_FALSE((*noType)->isLoaded());   // created unresolved
}

#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QSet>
#include <gtest/gtest.h>

namespace {

const QString kUnSupportKey = QStringLiteral("String_UnSupportKindIDS");

QVariantList bundleRows()
{
    const QString path = platform::Bundle::mainBundle().pathForResource(QStringLiteral("SupportFileList"), QStringLiteral("plist"));
    return platform::PropertyList::readFile(path).value_or(QVariant()).toMap().value(QStringLiteral("SupportList")).toList();
}

QVariantMap row(qint64 id, const QString& name, const QString& extensions, const QString& group)
{
    return {{QStringLiteral("ID"), id}, {QStringLiteral("Name"), name},
            {QStringLiteral("Extension"), extensions}, {QStringLiteral("Group"), group}};
}

class KPFileFormatManagerTest : public ::testing::Test {
protected:
    void SetUp() override { switchOff(QStringLiteral("26,28,29,30,31,32,33,34,35")); }
    void TearDown() override { platform::UserDefaults::standardUserDefaults().removeObjectForKey(kUnSupportKey); }
    static void switchOff(const QString& ids) { platform::UserDefaults::standardUserDefaults().setString(ids, kUnSupportKey); }
};

} // namespace

TEST_F(KPFileFormatManagerTest, ShippedTableIsWellFormedAndCoversTheDefaultSwitchedOffKinds)
{
    const QVariantList rows = bundleRows();
    ASSERT_FALSE(rows.isEmpty());
    QSet<qint64> ids;
    QSet<QString> extensions;
    for (const QVariant& value : rows) {
        const QVariantMap r = value.toMap();
        ASSERT_TRUE(r.value(QStringLiteral("ID")).canConvert<qint64>());
        EXPECT_FALSE(ids.contains(r.value(QStringLiteral("ID")).toLongLong())) << "duplicate ID";
        ids.insert(r.value(QStringLiteral("ID")).toLongLong());
        EXPECT_FALSE(r.value(QStringLiteral("Name")).toString().isEmpty());
        EXPECT_FALSE(r.value(QStringLiteral("Group")).toString().isEmpty());
        for (const QString& ext : r.value(QStringLiteral("Extension")).toString().split(QLatin1Char(','))) {
            EXPECT_EQ(ext, ext.toLower());
            EXPECT_FALSE(extensions.contains(ext)) << ext.toStdString() << " belongs to two kinds";
            extensions.insert(ext);
        }
    }
    for (qint64 id : {26, 28, 29, 30, 31, 32, 33, 34, 35})
        EXPECT_TRUE(ids.contains(id)) << id;

    KPFileFormatManager& shared = KPFileFormatManager::fileFormatManager();
    EXPECT_EQ(shared.kindList().size(), rows.size());
    EXPECT_TRUE(shared.checkFileIsSupportImport(QStringLiteral("/x/Report.PDF")));
    EXPECT_FALSE(shared.checkFileIsSupportImport(QStringLiteral("/x/song.mp3"))) << "audio is off by default";
}

TEST_F(KPFileFormatManagerTest, LookUpsBetweenExtensionsKindsAndGroups)
{
    KPFileFormatManager formats({row(1, QStringLiteral("PDF Document"), QStringLiteral("pdf"), QStringLiteral("PDF")),
                                 row(4, QStringLiteral("Rich Text"), QStringLiteral("rtf,rtfd"), QStringLiteral("Documents")),
                                 row(5, QStringLiteral("Résumé"), QStringLiteral("cv"), QStringLiteral("Documents"))});
    EXPECT_EQ(formats.kindIDByExtenstion(QStringLiteral("PDF")), 1);
    // Extensions are names, not patterns: wildcard characters match only themselves.
    EXPECT_EQ(formats.kindIDByExtenstion(QStringLiteral("rtf?")), -1);
    EXPECT_EQ(formats.kindIDByExtenstion(QStringLiteral("*")), -1);
    EXPECT_EQ(formats.kindNameByExtenstion(QStringLiteral("*")), QStringLiteral("Unknown"));
    EXPECT_EQ(formats.kindIDByExtenstion(QStringLiteral("CV")), 5);
    EXPECT_EQ(formats.kindIDByExtenstion(QStringLiteral("")), -1);
    EXPECT_EQ(formats.kindNameByExtenstion(QStringLiteral("RTFD")), QStringLiteral("Rich Text"));
    EXPECT_EQ(formats.kindNameByKindID(99), QStringLiteral("Unknown"));
    EXPECT_EQ(formats.kindIDByKindName(QStringLiteral("rich text")), 0) << "names compare exactly";
    EXPECT_EQ(formats.groupList().value(QStringLiteral("Documents")),
              (QStringList{QStringLiteral("rtf"), QStringLiteral("rtfd"), QStringLiteral("cv")}));
    EXPECT_EQ(formats.extensionList().size(), 4);
}

TEST_F(KPFileFormatManagerTest, SwitchedOffKindsTakeEffectOnReload)
{
    KPFileFormatManager formats({row(1, QStringLiteral("PDF"), QStringLiteral("pdf"), QStringLiteral("PDF")),
                                 row(2, QStringLiteral("Text"), QStringLiteral("txt"), QStringLiteral("Text"))});
    EXPECT_TRUE(formats.checkFileIsSupportImport(QStringLiteral("/a/b.pdf")));
    switchOff(QStringLiteral("1, 7,x"));
    EXPECT_TRUE(formats.checkFileIsSupportImport(QStringLiteral("/a/b.pdf"))) << "only a reload applies it";
    formats.reloadUnSupportKindIDS();
    EXPECT_FALSE(formats.checkFileIsSupportImport(QStringLiteral("/a/b.PDF")));
    EXPECT_TRUE(formats.checkFileIsSupportImport(QStringLiteral("/a/b.txt")));
    EXPECT_FALSE(formats.checkFileIsSupportByFiles({QStringLiteral("/a/b.pdf"), QStringLiteral("/a/c.doc")}));
    EXPECT_TRUE(formats.checkFileIsSupportByFiles({QStringLiteral("/a/b.pdf"), QStringLiteral("/a/c.txt")}));
    EXPECT_EQ(formats.unSupportExtensionList(), QStringList{QStringLiteral("pdf")});
}

TEST_F(KPFileFormatManagerTest, ExtensionsOfOddNames)
{
    EXPECT_EQ(KPFileFormatManager::lowerExtension(QStringLiteral("/a/.pdf")), QString()) << "a hidden name has none";
    EXPECT_EQ(KPFileFormatManager::lowerExtension(QStringLiteral("/a/b.")), QString());
    EXPECT_EQ(KPFileFormatManager::lowerExtension(QStringLiteral("/a.d/b")), QString());
    EXPECT_EQ(KPFileFormatManager::lowerExtension(QStringLiteral("/a/Doc.Pages/")), QStringLiteral("pages"));
    EXPECT_EQ(KPFileFormatManager::lowerExtension(QStringLiteral("x.tar.GZ")), QStringLiteral("gz"));
}

TEST_F(KPFileFormatManagerTest, DamagedRowsAreSkippedNotFatal)
{
    KPFileFormatManager formats({QVariant(QStringLiteral("garbage")), QVariant(7),
                                 QVariantMap{{QStringLiteral("Extension"), 12}},
                                 QVariantMap{{QStringLiteral("ID"), QStringLiteral("nine")}, {QStringLiteral("Extension"), QStringLiteral("abc")}},
                                 row(3, QStringLiteral("Text"), QStringLiteral("txt"), QStringLiteral("Text"))});
    EXPECT_EQ(formats.kindIDByExtenstion(QStringLiteral("abc")), -1) << "a row without a numeric ID has none";
    EXPECT_EQ(formats.kindNameByExtenstion(QStringLiteral("abc")), QStringLiteral("Unknown"));
    EXPECT_EQ(formats.kindIDByExtenstion(QStringLiteral("txt")), 3);
    EXPECT_FALSE(formats.checkFileIsSupportImport(QStringLiteral("/a/b.12")));
}

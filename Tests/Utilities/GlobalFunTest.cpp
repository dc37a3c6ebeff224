#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/XAttr.h"
#include "Support/TestSupport.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FinderInfo.h"
#include "Utilities/GlobalFun.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

const QString kRecentKey = QStringLiteral("Array_RecentLibrary_Paths");

QStringList recentPaths(platform::UserDefaults& defaults)
{
    QStringList paths;
    for (const QVariant& entry : defaults.arrayForKey(kRecentKey))
        paths.append(entry.toMap().value("Path").toString());
    return paths;
}

} // namespace

TEST(GlobalFunTest, RecentLibrariesCompareExactlyAndPersist)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(kRecentKey);
    addRecentLibraryPath("/home/u/Folivo 2 Library");
    addRecentLibraryPath("/home/u/Folivo 2 Library");
    addRecentLibraryPath("/home/u/folivo 2 library");
    addRecentLibraryPath("/home/u/Folivo 2 Library/");
    addRecentLibraryPath(QString());
    const QStringList expected{"/home/u/Folivo 2 Library", "/home/u/folivo 2 library", "/home/u/Folivo 2 Library/"};
    EXPECT_EQ(recentPaths(defaults), expected);
    for (const QVariant& entry : defaults.arrayForKey(kRecentKey))
        EXPECT_EQ(entry.toMap().keys(), QStringList{"Path"});

    // Written through at once: a second reader of the same file (the next run) sees the list.
    platform::UserDefaults nextRun(defaults.domain(), defaults.filePath());
    EXPECT_EQ(recentPaths(nextRun), expected);
    defaults.removeObjectForKey(kRecentKey);
}

TEST(GlobalFunTest, FolderIconNeedsAFolderAndReplacesTheOldIcon)
{
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/library.png", "png");
    testsupport::writeFile(dir + "/other.png", "png");
    testsupport::writeFile(dir + "/file.pdf", "pdf");

    EXPECT_FALSE(GlobalFun::setAsCustomIconForDirectory(dir + "/file.pdf", dir + "/library.png"));
    EXPECT_EQ(testsupport::readFile(dir + "/file.pdf"), "pdf");
    EXPECT_FALSE(QFile::exists(dir + "/file.pdf/.directory"));
    EXPECT_FALSE(GlobalFun::setAsCustomIconForDirectory(dir + "/missing", dir + "/library.png"));

    const QString library = dir + "/Library";
    QDir().mkpath(library);
    testsupport::writeFile(library + "/.directory", "[Desktop Entry]\nIcon=old\n[Other]\nKey=kept\n");
    GlobalFun::setIcon(dir + "/library.png", library);
    GlobalFun::setIcon(dir + "/other.png", library);
    const QString entry = QString::fromUtf8(testsupport::readFile(library + "/.directory"));
    EXPECT_EQ(entry.count("Icon="), 1);
    EXPECT_TRUE(entry.contains("Icon=" + dir + "/other.png"));
    EXPECT_TRUE(entry.contains("Key=kept"));

    // An icon that does not exist is refused before anything is written.
    const QString fresh = dir + "/Fresh";
    QDir().mkpath(fresh);
    GlobalFun::setIcon(dir + "/missing.png", fresh);
    GlobalFun::setIcon(QString(), fresh);
    EXPECT_FALSE(QFile::exists(fresh + "/.directory"));
}

TEST(GlobalFunTest, FileDatesWriteModificationOnly)
{
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/doc.pdf", "pdf");
    const QDateTime date(QDate(2011, 5, 6), QTime(7, 8, 9), QTimeZone::utc());
    EXPECT_TRUE(setFileModificationDate(date, dir + "/doc.pdf"));
    const auto attributes = platform::FileManager::attributesOfItem(dir + "/doc.pdf");
    ASSERT_TRUE(attributes.has_value());
    EXPECT_EQ(attributes->modificationDate.toSecsSinceEpoch(), date.toSecsSinceEpoch());

    // Linux cannot change a birth time: an honest failure, not a pretended success.
    EXPECT_FALSE(setFileCreationDate(date, dir + "/doc.pdf"));
    EXPECT_FALSE(setFileModificationDate(date, dir + "/missing.pdf"));
    EXPECT_FALSE(setFileModificationDate(QDateTime(), dir + "/doc.pdf"));
    EXPECT_TRUE(setFileDateByKind("modification", date.addDays(1), dir + "/doc.pdf"));
    EXPECT_FALSE(setFileDateByKind("create", date, dir + "/doc.pdf"));
    EXPECT_FALSE(setFileDateByKind("access", date, dir + "/doc.pdf"));
}

TEST(GlobalFunTest, FinderFlagSettersKeepOtherFields)
{
    auto backend = std::make_shared<platform::FakeXAttrBackend>();
    const auto previous = platform::XAttr::setBackend(backend);
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/doc.pdf", "pdf");
    const QString path = dir + "/doc.pdf";

    FinderInfo info;
    info.setFileType("PDF ");
    info.setFlags(4 << 1);
    ASSERT_TRUE(info.write(path).has_value());

    EXPECT_TRUE(GlobalFun::ChangeFileKind(path));
    EXPECT_TRUE(GlobalFun::setFlagForPath(path, true));
    EXPECT_TRUE(GlobalFun::hasBundle(path));
    EXPECT_EQ(GlobalFun::flagForPath(path), 1);
    EXPECT_EQ(GlobalFun::finderLabelForURL(QUrl::fromLocalFile(path)), 4);
    EXPECT_EQ(FinderInfo::read(path)->fileType(), "PDF ");

    EXPECT_FALSE(GlobalFun::ChangeFileKind(dir + "/missing.pdf"));
    EXPECT_EQ(GlobalFun::flagForPath(dir + "/missing.pdf"), 0);
    platform::XAttr::setBackend(previous);
}


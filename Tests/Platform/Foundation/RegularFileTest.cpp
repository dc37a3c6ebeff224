// Reading files that anyone may have replaced: only a regular file within the cap opens, and
// nothing else blocks or is read.
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/RegularFile.h"
#include "Support/TestSupport.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using platform::RegularFile;

TEST(RegularFile, OnlyARegularFileWithinTheCapOpens)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("regular"));
    const QString file = dir + QStringLiteral("/doc.txt");
    testsupport::writeFile(file, "twelve bytes");
    auto bytes = RegularFile::readAll(file, 12);
    ASSERT_TRUE(bytes) << qPrintable(bytes.error().toString());
    EXPECT_EQ(*bytes, QByteArray("twelve bytes"));
    EXPECT_EQ(RegularFile::check(file, -1).value_or(-1), 12);

    // A FIFO would block the open itself; a folder, a device and a larger file are refused.
    const QString fifo = dir + QStringLiteral("/pipe.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(RegularFile::open(fifo, -1).error().code, ENODEV);
    EXPECT_EQ(RegularFile::check(dir, -1).error().code, ENODEV);
    EXPECT_EQ(RegularFile::readAll(QStringLiteral("/dev/zero"), 16).error().code, ENODEV);
    EXPECT_EQ(RegularFile::readAll(file, 11).error().code, EFBIG);
    EXPECT_EQ(RegularFile::check(dir + QStringLiteral("/missing"), -1).error().code, ENOENT);

    // Reads through a link reach its regular target.
    ASSERT_EQ(::symlink("doc.txt", QFile::encodeName(dir + QStringLiteral("/link")).constData()), 0);
    EXPECT_EQ(RegularFile::readAll(dir + QStringLiteral("/link"), -1).value_or(QByteArray()), QByteArray("twelve bytes"));
}

TEST(FileManager, UsableFileNamesLeaveNoFileHiddenOrOutsideItsFolder)
{
    using platform::FileManager;
    for (const char* good : {"Report.pdf", "a b", "Ünïcödé", "x.", "x..y"})
        EXPECT_TRUE(FileManager::isUsableFileName(QString::fromUtf8(good))) << good;
    // A leading dot hides the file from the walk of its folder, which then drops its record.
    const QStringList bad{QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral(".Report.pdf"),
                          QStringLiteral("../x"), QStringLiteral("a/b"), QStringLiteral("a") + QChar(0) + QStringLiteral("b"),
                          QString(FileManager::kMaxFileNameBytes + 1, QLatin1Char('x')), QString(128, QChar(0x00E9))};
    for (const QString& name : bad)
        EXPECT_FALSE(FileManager::isUsableFileName(name)) << qPrintable(name.left(20));
    EXPECT_TRUE(FileManager::isUsableFileName(QString(FileManager::kMaxFileNameBytes, QLatin1Char('x'))));
}

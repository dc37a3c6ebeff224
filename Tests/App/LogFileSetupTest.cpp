#include "App/LogFileSetup.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

QString logWithSize(const QString& folder, qint64 size)
{
    const QString path = folder + QStringLiteral("/Folivo 2.log");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    EXPECT_TRUE(f.resize(size)); // sparse: no 5 MiB written
    return path;
}

} // namespace

TEST(LogFileSetup, KeepsFileOfExactlyFiveMebibytesAndDeletesOneByteMore)
{
    const QString folder = testsupport::makeTempDir() + QStringLiteral("/Logs");
    const QString path = LogFileSetup::prepareLogFile(folder); // creates the folder
    EXPECT_EQ(path, folder + QStringLiteral("/Folivo 2.log"));
    EXPECT_TRUE(QFileInfo(folder).isDir());

    logWithSize(folder, 5'242'880);
    LogFileSetup::prepareLogFile(folder);
    EXPECT_TRUE(QFileInfo::exists(path));

    logWithSize(folder, 5'242'881);
    LogFileSetup::prepareLogFile(folder);
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(LogFileSetup, RotatesFilesLargerThanFourGibibytes)
{
    // A size taken as 32 bits would read 4 GiB + 10 as 10 bytes and keep the file forever.
    const QString folder = testsupport::makeTempDir();
    const QString path = logWithSize(folder, (qint64(1) << 32) + 10);
    LogFileSetup::prepareLogFile(folder);
    EXPECT_FALSE(QFileInfo::exists(path));
}

#include "Support/TestSupport.h"
#include "Utilities/KPZipArchive.h"
#include "Utilities/KPZipFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <utime.h>

namespace {

struct RawEntry {
    QByteArray name;
    QByteArray data;
    unsigned long externalAttributes = 0;
    bool unixHost = false;
};

// An archive written straight through minizip, for names and kinds the program never writes.
QString writeRawArchive(const QString& path, const QList<RawEntry>& entries, int method = Z_DEFLATED)
{
    zipFile zf = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    EXPECT_NE(zf, nullptr);
    for (const auto& e : entries) {
        zip_fileinfo info = {};
        info.external_fa = e.externalAttributes;
        EXPECT_EQ(zipOpenNewFileInZip4_64(zf, e.name.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                          method, method ? Z_DEFAULT_COMPRESSION : 0, 0, -MAX_WBITS, 8,
                                          Z_DEFAULT_STRATEGY, nullptr, 0, e.unixHost ? (3 << 8) : 0, 0, 0),
                  ZIP_OK);
        zipWriteInFileInZip(zf, e.data.constData(), static_cast<unsigned>(e.data.size()));
        zipCloseFileInZip(zf);
    }
    zipClose(zf, nullptr);
    return path;
}

bool haveTool(const char* name)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

int runTool(const QString& program, const QStringList& args, const QString& cwd = {})
{
    QProcess p;
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QString makeSampleFolder()
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("src")) + QStringLiteral("/Docs.pkg");
    testsupport::writeFile(folder + QStringLiteral("/a.txt"), "alpha");
    testsupport::writeFile(folder + QStringLiteral("/.hidden"), "secret");
    testsupport::writeFile(folder + QStringLiteral("/sub/deeper/b.bin"), QByteArray(200000, 'x') + "tail");
    QDir().mkpath(folder + QStringLiteral("/empty"));
    // A fixed, whole-second modification time to compare after the round trip.
    struct utimbuf times = {1'600'000'000, 1'600'000'000};
    ::utime(QFile::encodeName(folder + QStringLiteral("/a.txt")).constData(), &times);
    return folder;
}

} // namespace

TEST(KPZipArchive, FolderRoundTripKeepsFilesHiddenOnesAndTimesButNoEmptyFolders)
{
    const QString folder = makeSampleFolder();
    const QString archive = testsupport::makeTempDir() + QStringLiteral("/a.zip");
    ASSERT_TRUE(KPZipArchive::zipWithFilePath(folder, archive));
    if (haveTool("unzip")) {
        EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}), 0);
    }

    const QString result = KPZipArchive::unZipWithFilePath(archive, QStringLiteral("Docs.pkg"));
    EXPECT_EQ(result, archive + QStringLiteral("_F/Docs.pkg"));
    EXPECT_EQ(testsupport::readFile(result + QStringLiteral("/a.txt")), "alpha");
    EXPECT_EQ(testsupport::readFile(result + QStringLiteral("/.hidden")), "secret");
    EXPECT_EQ(testsupport::readFile(result + QStringLiteral("/sub/deeper/b.bin")).size(), 200004);
    EXPECT_FALSE(QFileInfo::exists(result + QStringLiteral("/empty")));
    EXPECT_EQ(QFileInfo(result + QStringLiteral("/a.txt")).lastModified().toSecsSinceEpoch(), 1'600'000'000);
}

TEST(KPZipArchive, LinksInsideTheFolderAreNotFollowed)
{
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    testsupport::writeFile(outside + QStringLiteral("/private.txt"), "not for peers");
    const QString folder = makeSampleFolder();
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/private.txt"), folder + QStringLiteral("/link.txt")));
    ASSERT_TRUE(QFile::link(outside, folder + QStringLiteral("/linkdir")));

    const QString archive = testsupport::makeTempDir() + QStringLiteral("/b.zip");
    ASSERT_TRUE(KPZipArchive::zipWithFilePath(folder, archive));
    const QString result = KPZipArchive::unZipWithFilePath(archive, QStringLiteral("x"));
    ASSERT_FALSE(result.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(result + QStringLiteral("/link.txt")));
    EXPECT_FALSE(QFileInfo::exists(result + QStringLiteral("/linkdir/private.txt")));
}

TEST(KPZipFile, BackslashNamesExtractIntoSubfolders)
{
    const QString dir = testsupport::makeTempDir();
    const QString archive = writeRawArchive(dir + QStringLiteral("/w.zip"),
                                            {{"win\\dir\\file.txt", "from windows"}});
    KPZipFile zip;
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    EXPECT_TRUE(zip.UnzipFileTo(dir + QStringLiteral("/out"), true));
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/out/win/dir/file.txt")), "from windows");
}

TEST(KPZipFile, OverwriteAsksTheDelegateOnlyWhenOverwritingIsOff)
{
    const QString dir = testsupport::makeTempDir();
    const QString archive = writeRawArchive(dir + QStringLiteral("/o.zip"), {{"f.txt", "new"}});
    testsupport::writeFile(dir + QStringLiteral("/out/f.txt"), "old");

    QStringList asked;
    KPZipFile zip;
    zip.setDelegate({nullptr, [&](const QString& path) {
                         asked << path;
                         return false;
                     }});
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    EXPECT_TRUE(zip.UnzipFileTo(dir + QStringLiteral("/out"), false));
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/out/f.txt")), "old");

    asked.clear();
    EXPECT_TRUE(zip.UnzipFileTo(dir + QStringLiteral("/out"), true));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/out/f.txt")), "new");
}

TEST(KPZipFile, HostileArchivesAreRefusedAndWriteNothingOutside)
{
    const QString dir = testsupport::makeTempDir();
    const QList<QList<RawEntry>> hostile = {
        {{"../escaped.txt", "x"}},
        {{"ok.txt", "fine"}, {"sub/../../escaped.txt", "x"}},
        {{"/tmp/escaped-absolute.txt", "x"}},
        {{"..\\escaped.txt", "x"}},
        // A link entry pointing outside: never created.
        {{"link", "/etc/passwd", (0120777u << 16), true}},
    };
    int n = 0;
    for (const auto& entries : hostile) {
        const QString archive = writeRawArchive(dir + QStringLiteral("/h%1.zip").arg(n++), entries);
        const QString out = dir + QStringLiteral("/out%1/inner").arg(n);
        KPZipFile zip;
        QStringList errors;
        zip.setDelegate({[&](const QString& m) { errors << m; }, nullptr});
        ASSERT_TRUE(zip.UnzipOpenFile(archive));
        EXPECT_FALSE(zip.UnzipFileTo(out, true)) << n;
        EXPECT_FALSE(errors.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/out%1/escaped.txt").arg(n)));
        EXPECT_FALSE(QFileInfo(out + QStringLiteral("/link")).isSymLink());
    }
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/escaped-absolute.txt")));
}

TEST(KPZipFile, CorruptedDataFailsInsteadOfPassingForSuccess)
{
    const QString dir = testsupport::makeTempDir();
    const QByteArray payload = "The quick brown fox jumps over the lazy dog, stored uncompressed.";
    const QString archive = writeRawArchive(dir + QStringLiteral("/c.zip"), {{"f.txt", payload}}, 0);
    QByteArray bytes = testsupport::readFile(archive);
    const qsizetype at = bytes.indexOf("quick");
    ASSERT_GT(at, 0);
    bytes[at] = 'Q';
    testsupport::writeFile(archive, bytes);

    EXPECT_TRUE(KPZipArchive::unZipWithFilePath(archive, QStringLiteral("r")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(archive + QStringLiteral("_F/r/f.txt")));

    // Truncated archives are no archives.
    testsupport::writeFile(archive, bytes.left(bytes.size() / 2));
    EXPECT_TRUE(KPZipArchive::unZipWithFilePath(archive, QStringLiteral("r2")).isEmpty());
}

TEST(KPZipFile, PasswordArchivesInteroperateWithTheStockTools)
{
    const QString dir = testsupport::makeTempDir();
    const QString folder = makeSampleFolder();
    const QString archive = dir + QStringLiteral("/p.zip");
    KPZipFile zip;
    ASSERT_TRUE(zip.CreateZipFile2(archive, QStringLiteral("s3cret")));
    ASSERT_TRUE(zip.addDirectoryToZip(folder, QStringLiteral("Docs")));
    ASSERT_TRUE(zip.CloseZipFile2());

    if (haveTool("unzip")) {
        EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-P"), QStringLiteral("s3cret"),
                                                     QStringLiteral("-tq"), archive}), 0);
        EXPECT_NE(runTool(QStringLiteral("unzip"), {QStringLiteral("-P"), QStringLiteral("wrong"),
                                                     QStringLiteral("-tq"), archive}), 0);
    }

    KPZipFile reader;
    ASSERT_TRUE(reader.UnzipOpenFile(archive, QStringLiteral("s3cret")));
    ASSERT_TRUE(reader.UnzipFileTo(dir + QStringLiteral("/ours"), true));
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/ours/Docs/a.txt")), "alpha");
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/ours/Docs/sub/deeper/b.bin")).size(), 200004);

    KPZipFile wrong;
    ASSERT_TRUE(wrong.UnzipOpenFile(archive, QStringLiteral("nope")));
    EXPECT_FALSE(wrong.UnzipFileTo(dir + QStringLiteral("/wrong"), true));
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/wrong/Docs/a.txt")));

    if (!haveTool("zip"))
        GTEST_SKIP() << "no stock zip to make an archive with";
    const QString stock = dir + QStringLiteral("/stock.zip");
    ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-qr"), QStringLiteral("-P"), QStringLiteral("pw"),
                                              stock, QStringLiteral("Docs.pkg")},
                      QFileInfo(folder).absolutePath()),
              0);
    KPZipFile fromStock;
    ASSERT_TRUE(fromStock.UnzipOpenFile(stock, QStringLiteral("pw")));
    ASSERT_TRUE(fromStock.UnzipFileTo(dir + QStringLiteral("/stock"), true));
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/stock/Docs.pkg/sub/deeper/b.bin")),
              testsupport::readFile(folder + QStringLiteral("/sub/deeper/b.bin")));
}

TEST(KPZipFile, ReadsPlainArchivesMadeByTheStockZip)
{
    if (!haveTool("zip"))
        GTEST_SKIP() << "no stock zip";
    const QString folder = makeSampleFolder();
    const QString archive = testsupport::makeTempDir() + QStringLiteral("/plain.zip");
    ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-qr"), archive, QStringLiteral("Docs.pkg")},
                      QFileInfo(folder).absolutePath()),
              0);
    const QString result = KPZipArchive::unZipWithFilePath(archive, QStringLiteral("got"));
    ASSERT_FALSE(result.isEmpty());
    EXPECT_EQ(testsupport::readFile(result + QStringLiteral("/Docs.pkg/.hidden")), "secret");
}

TEST(KPZipArchive, AsynchronousRunsReportOnceWithTheResultPath)
{
    const QString folder = makeSampleFolder();
    const QString archive = testsupport::makeTempDir() + QStringLiteral("/async.zip");
    std::atomic<int> zipped{-1};
    KPZipArchive::initWithZipPath(folder, archive, [&](bool ok) { zipped = ok ? 1 : 0; })->start();
    ASSERT_TRUE(testsupport::spinUntil([&] { return zipped != -1; }));
    EXPECT_EQ(zipped, 1);

    std::atomic<bool> done{false};
    QString resultPath;
    bool success = false;
    KPZipArchive::initWithUnZipPath(archive, QStringLiteral("N.pkg"), [&](bool ok, const QString& path) {
        success = ok;
        resultPath = path;
        done = true;
    })->start();
    ASSERT_TRUE(testsupport::spinUntil([&] { return done.load(); }));
    EXPECT_TRUE(success);
    EXPECT_EQ(resultPath, archive + QStringLiteral("_F/N.pkg"));

    std::atomic<bool> failed{false};
    KPZipArchive::initWithUnZipPath(archive + QStringLiteral(".missing"), QStringLiteral("x"),
                                    [&](bool ok, const QString& path) {
                                        EXPECT_FALSE(ok);
                                        EXPECT_TRUE(path.isEmpty());
                                        failed = true;
                                    })->start();
    EXPECT_TRUE(testsupport::spinUntil([&] { return failed.load(); }));
}

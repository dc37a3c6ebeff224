#include "Support/TestSupport.h"
#include "Utilities/KPZipArchive.h"
#include "Utilities/KPZipFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtEndian>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <utime.h>
#include <zlib.h>

namespace {

bool haveTool(const char* name)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// Started through testsupport::ChildProcess, not QProcess, so that this program's thread
// sanitizer run keeps watching the calling thread.
int runTool(const QString& program, const QStringList& args, const QString& cwd = {})
{
    testsupport::ChildProcess p(args, {}, QStandardPaths::findExecutable(program), cwd);
    if (!p.started() || !p.waitForFinished(600000))
        return -1;
    return p.exitCode();
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

// Every file and folder below dir, relative, sorted.
QStringList listTree(const QString& dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(dir).relativeFilePath(it.next());
    found.sort();
    return found;
}

// ---- Archives built byte by byte, for layouts that no writer at hand produces ----

void put16(QByteArray& b, quint16 v)
{
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}

void put32(QByteArray& b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

void put64(QByteArray& b, quint64 v)
{
    char c[8];
    qToLittleEndian(v, c);
    b.append(c, 8);
}

QByteArray rawDeflate(const QByteArray& plain)
{
    z_stream s = {};
    deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&s, static_cast<uLong>(plain.size()))), Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    s.avail_in = static_cast<uInt>(plain.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(static_cast<qsizetype>(s.total_out));
    deflateEnd(&s);
    return out;
}

quint32 crcOf(const QByteArray& b)
{
    return static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(b.constData()), static_cast<uInt>(b.size())));
}

enum Zip64Field { kUsize = 1, kCsize = 2, kOffset = 4 };

struct Member {
    Member(QByteArray name, QByteArray content = {}) : name(std::move(name)), content(std::move(content)) {}
    Member& deflated()
    {
        deflate = true;
        return *this;
    }
    Member& withFlags(quint16 value)
    {
        flags = value;
        return *this;
    }
    Member& madeOnUnix(quint32 mode)
    {
        madeBy = 3 << 8;
        external = mode << 16;
        return *this;
    }
    // Zip64Field bits: written as all ones with the 64-bit field.
    Member& with64BitFields(int fields)
    {
        zip64 = fields;
        return *this;
    }
    Member& declaring(quint64 size)
    {
        declaredSize = size;
        return *this;
    }
    // No local record of its own: the central header points here (another member's bytes).
    Member& pointingAt(quint64 offset)
    {
        pointsAt = offset;
        return *this;
    }
    Member& withCentralExtra(QByteArray extra)
    {
        centralExtra = std::move(extra);
        return *this;
    }

    QByteArray name;
    QByteArray content;
    bool deflate = false;
    quint16 flags = 0;
    quint16 madeBy = 0;
    quint32 external = 0;
    int zip64 = 0;
    std::optional<quint64> declaredSize;
    std::optional<quint64> pointsAt;
    QByteArray centralExtra;
};

QByteArray localRecord(const Member& m)
{
    const QByteArray data = m.deflate ? rawDeflate(m.content) : m.content;
    QByteArray b;
    put32(b, 0x04034b50);
    put16(b, 45);
    put16(b, m.flags);
    put16(b, m.deflate ? 8 : 0);
    put32(b, 0);
    put32(b, crcOf(m.content));
    QByteArray extra;
    if (m.zip64) {
        put16(extra, 1);
        put16(extra, 16);
        put64(extra, m.declaredSize.value_or(m.content.size()));
        put64(extra, data.size());
    }
    put32(b, m.zip64 ? 0xffffffffu : static_cast<quint32>(data.size()));
    put32(b, m.zip64 ? 0xffffffffu : static_cast<quint32>(m.declaredSize.value_or(m.content.size())));
    put16(b, static_cast<quint16>(m.name.size()));
    put16(b, static_cast<quint16>(extra.size()));
    return b + m.name + extra + data;
}

QByteArray buildZip(const QList<Member>& members, bool zip64End = false)
{
    QByteArray out;
    QByteArray central;
    for (const Member& m : members) {
        const quint64 offset = m.pointsAt.value_or(static_cast<quint64>(out.size()));
        if (!m.pointsAt)
            out += localRecord(m);
        const quint64 usize = m.declaredSize.value_or(m.content.size());
        const quint64 csize = m.deflate ? rawDeflate(m.content).size() : m.content.size();
        QByteArray extra;
        if (m.zip64) {
            QByteArray fields;
            if (m.zip64 & kUsize)
                put64(fields, usize);
            if (m.zip64 & kCsize)
                put64(fields, csize);
            if (m.zip64 & kOffset)
                put64(fields, offset);
            put16(extra, 1);
            put16(extra, static_cast<quint16>(fields.size()));
            extra += fields;
        }
        extra += m.centralExtra;
        put32(central, 0x02014b50);
        put16(central, m.madeBy);
        put16(central, 45);
        put16(central, m.flags);
        put16(central, m.deflate ? 8 : 0);
        put32(central, 0);
        put32(central, crcOf(m.content));
        put32(central, (m.zip64 & kCsize) ? 0xffffffffu : static_cast<quint32>(csize));
        put32(central, (m.zip64 & kUsize) ? 0xffffffffu : static_cast<quint32>(usize));
        put16(central, static_cast<quint16>(m.name.size()));
        put16(central, static_cast<quint16>(extra.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, m.external);
        put32(central, (m.zip64 & kOffset) ? 0xffffffffu : static_cast<quint32>(offset));
        central += m.name + extra;
    }
    const quint64 centralOffset = out.size();
    out += central;
    const auto count = static_cast<quint64>(members.size());
    if (zip64End) {
        const quint64 recordAt = out.size();
        put32(out, 0x06064b50);
        put64(out, 44);
        put16(out, 45);
        put16(out, 45);
        put32(out, 0);
        put32(out, 0);
        put64(out, count);
        put64(out, count);
        put64(out, central.size());
        put64(out, centralOffset);
        put32(out, 0x07064b50);
        put32(out, 0);
        put64(out, recordAt);
        put32(out, 1);
    }
    put32(out, 0x06054b50);
    put32(out, 0);
    put16(out, zip64End ? 0xffff : static_cast<quint16>(count));
    put16(out, zip64End ? 0xffff : static_cast<quint16>(count));
    put32(out, zip64End ? 0xffffffffu : static_cast<quint32>(central.size()));
    put32(out, zip64End ? 0xffffffffu : static_cast<quint32>(centralOffset));
    put16(out, 0);
    return out;
}

struct Extraction {
    bool ok = false;
    QStringList errors;
};

Extraction extract(const QString& archive, const QString& to, bool overWrite = true, const QString& password = {})
{
    Extraction result;
    KPZipFile zip;
    zip.setDelegate({[&](const QString& m) { result.errors << m; }, nullptr});
    if (!zip.UnzipOpenFile(archive, password)) {
        result.errors << QStringLiteral("not opened");
        return result;
    }
    result.ok = zip.UnzipFileTo(to, overWrite);
    return result;
}

QString archiveFile(const QByteArray& bytes)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("zip")) + QStringLiteral("/a.zip");
    testsupport::writeFile(path, bytes);
    return path;
}

// Names and general-purpose flags from the central directory of an archive without a comment.
QList<std::pair<QByteArray, quint16>> centralNames(const QByteArray& zip)
{
    QList<std::pair<QByteArray, quint16>> names;
    const char* end = zip.constData() + zip.size() - 22;
    qsizetype at = qFromLittleEndian<quint32>(end + 16);
    const quint16 count = qFromLittleEndian<quint16>(end + 10);
    for (int i = 0; i < count; ++i) {
        const char* h = zip.constData() + at;
        const quint16 n = qFromLittleEndian<quint16>(h + 28);
        names.append({QByteArray(h + 46, n), qFromLittleEndian<quint16>(h + 8)});
        at += 46 + n + qFromLittleEndian<quint16>(h + 30) + qFromLittleEndian<quint16>(h + 32);
    }
    return names;
}

} // namespace

// ---- Writing, and round trips through our reader and the stock tools ----

TEST(KPZipArchive, FolderRoundTripKeepsFilesHiddenOnesTimesAndEmptyFolders)
{
    const QString folder = makeSampleFolder();
    const QString archive = testsupport::makeTempDir() + QStringLiteral("/a.zip");
    ASSERT_TRUE(KPZipArchive::zipWithFilePath(folder, archive));
    if (haveTool("unzip")) {
        EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}), 0);
    }

    const QString result = KPZipArchive::unZipWithFilePath(archive, QStringLiteral("Docs.pkg"));
    EXPECT_EQ(result, archive + QStringLiteral("_F/Docs.pkg"));
    EXPECT_EQ(listTree(result), listTree(folder));
    EXPECT_EQ(testsupport::readFile(result + QStringLiteral("/a.txt")), "alpha");
    EXPECT_EQ(testsupport::readFile(result + QStringLiteral("/sub/deeper/b.bin")).size(), 200004);
    EXPECT_TRUE(QFileInfo(result + QStringLiteral("/empty")).isDir());
    EXPECT_EQ(QFileInfo(result + QStringLiteral("/a.txt")).lastModified().toSecsSinceEpoch(), 1'600'000'000);
    // Only the empty folder has an entry of its own.
    QStringList names;
    for (const auto& [name, flags] : centralNames(testsupport::readFile(archive)))
        names << QString::fromUtf8(name);
    EXPECT_EQ(names, (QStringList{".hidden", "a.txt", "empty/", "sub/deeper/b.bin"}));
}

TEST(KPZipArchive, FoldersWithNothingOrOnlyAnEmptyFolderRoundTrip)
{
    const QString base = testsupport::makeTempDir(QStringLiteral("src"));
    QDir().mkpath(base + QStringLiteral("/Nested.pkg/inner"));
    QDir().mkpath(base + QStringLiteral("/Bare.pkg"));

    for (const QString& name : {QStringLiteral("Nested.pkg"), QStringLiteral("Bare.pkg")}) {
        const QString archive = testsupport::makeTempDir() + QStringLiteral("/p.zip");
        ASSERT_TRUE(KPZipArchive::zipWithFilePath(base + QLatin1Char('/') + name, archive)) << name.toStdString();
        // The stock unzip warns about an archive without entries (exit code 1).
        if (haveTool("unzip") && name == QStringLiteral("Nested.pkg")) {
            EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}), 0);
        }
        const QString result = KPZipArchive::unZipWithFilePath(archive, name);
        ASSERT_FALSE(result.isEmpty()) << name.toStdString();
        EXPECT_TRUE(QFileInfo(result).isDir());
        EXPECT_EQ(listTree(result), listTree(base + QLatin1Char('/') + name));
    }
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
    EXPECT_FALSE(QFileInfo::exists(result + QStringLiteral("/linkdir")));
}

TEST(KPZipFile, NamesBeyondAsciiCarryTheUtf8FlagAndSurviveTheStockUnzip)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("src")) + QStringLiteral("/Café");
    testsupport::writeFile(folder + QStringLiteral("/naïve €.txt"), "accents");
    testsupport::writeFile(folder + QStringLiteral("/plain.txt"), "ascii");
    const QString archive = testsupport::makeTempDir() + QStringLiteral("/n.zip");
    KPZipFile zip;
    ASSERT_TRUE(zip.CreateZipFile2(archive));
    ASSERT_TRUE(zip.addDirectoryToZip(folder, QStringLiteral("Café")));
    ASSERT_TRUE(zip.CloseZipFile2());

    const auto names = centralNames(testsupport::readFile(archive));
    ASSERT_EQ(names.size(), 2);
    EXPECT_EQ(names[0].first, QStringLiteral("Café/naïve €.txt").toUtf8());
    EXPECT_TRUE(names[0].second & 0x800);
    EXPECT_EQ(names[1].first, "Caf\xc3\xa9/plain.txt");
    EXPECT_TRUE(names[1].second & 0x800);

    const QString ascii = testsupport::makeTempDir() + QStringLiteral("/ascii.zip");
    ASSERT_TRUE(zip.CreateZipFile2(ascii));
    ASSERT_TRUE(zip.addFileToZip(folder + QStringLiteral("/plain.txt"), QStringLiteral("plain.txt")));
    ASSERT_TRUE(zip.CloseZipFile2());
    EXPECT_FALSE(centralNames(testsupport::readFile(ascii)).at(0).second & 0x800);

    if (!haveTool("unzip"))
        GTEST_SKIP() << "no stock unzip";
    const QString out = testsupport::makeTempDir(QStringLiteral("stock"));
    EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"), out}), 0);
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/Café/naïve €.txt")), "accents");
    // Names that went wrong are not UTF-8, which Qt cannot remove.
    std::filesystem::remove_all(QFile::encodeName(out).toStdString());
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

    EXPECT_TRUE(extract(archive, dir + QStringLiteral("/ours"), true, QStringLiteral("s3cret")).ok);
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/ours/Docs/a.txt")), "alpha");
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/ours/Docs/sub/deeper/b.bin")).size(), 200004);

    for (const QString& password : {QStringLiteral("nope"), QString()}) {
        const QString out = dir + QStringLiteral("/wrong") + password;
        EXPECT_FALSE(extract(archive, out, true, password).ok);
        EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/Docs/a.txt")));
    }

    if (!haveTool("zip"))
        GTEST_SKIP() << "no stock zip to make an archive with";
    const QString stock = dir + QStringLiteral("/stock.zip");
    ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-qr"), QStringLiteral("-P"), QStringLiteral("pw"),
                                              stock, QStringLiteral("Docs.pkg")},
                      QFileInfo(folder).absolutePath()),
              0);
    EXPECT_TRUE(extract(stock, dir + QStringLiteral("/stock"), true, QStringLiteral("pw")).ok);
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/stock/Docs.pkg/sub/deeper/b.bin")),
              testsupport::readFile(folder + QStringLiteral("/sub/deeper/b.bin")));
}

TEST(KPZipFile, ReadsArchivesMadeByTheStockZip)
{
    if (!haveTool("zip"))
        GTEST_SKIP() << "no stock zip";
    const QString folder = makeSampleFolder();
    testsupport::writeFile(folder + QStringLiteral("/Ünïcode.txt"), "u");
    const QString archive = testsupport::makeTempDir() + QStringLiteral("/plain.zip");
    ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-qr"), archive, QStringLiteral("Docs.pkg")},
                      QFileInfo(folder).absolutePath()),
              0);
    const QString result = KPZipArchive::unZipWithFilePath(archive, QStringLiteral("got"));
    ASSERT_FALSE(result.isEmpty());
    EXPECT_EQ(listTree(result + QStringLiteral("/Docs.pkg")), listTree(folder));
    EXPECT_EQ(testsupport::readFile(result + QStringLiteral("/Docs.pkg/.hidden")), "secret");
}

// Real members past 4 GiB take minutes and 4 GiB of disk: run with FOLIVO_ZIP_LARGE_TESTS=1.
TEST(KPZipFile, MembersOfFourGibibytesRoundTripThroughUsAndTheStockTools)
{
    if (qEnvironmentVariableIsEmpty("FOLIVO_ZIP_LARGE_TESTS"))
        GTEST_SKIP() << "set FOLIVO_ZIP_LARGE_TESTS=1 to run";
    const QString folder = testsupport::makeTempDir(QStringLiteral("big")) + QStringLiteral("/Big");
    const QString big = folder + QStringLiteral("/big.bin");
    const qint64 size = (qint64(1) << 32) + 7;
    {
        QFile f(big);
        QDir().mkpath(folder);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(size - 4)); // sparse: no disk taken
        ASSERT_TRUE(f.seek(size - 4));
        ASSERT_EQ(f.write("tail"), 4);
    }
    const QString dir = testsupport::makeTempDir();
    const QString archive = dir + QStringLiteral("/big.zip");
    ASSERT_TRUE(KPZipArchive::zipWithFilePath(folder, archive));
    if (haveTool("unzip")) {
        EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}), 0);
    }

    QStringList archives{archive};
    if (haveTool("zip")) {
        archives << dir + QStringLiteral("/stock.zip");
        ASSERT_EQ(runTool(QStringLiteral("zip"), {QStringLiteral("-q1r"), archives.last(), QStringLiteral("Big")},
                          QFileInfo(folder).absolutePath()),
                  0);
    }
    for (const QString& path : archives) {
        const QString out = dir + QStringLiteral("/out");
        const auto result = extract(path, out);
        EXPECT_TRUE(result.ok) << result.errors.join(QLatin1Char('\n')).toStdString();
        QFile got(out + (path == archive ? QStringLiteral("/big.bin") : QStringLiteral("/Big/big.bin")));
        EXPECT_EQ(got.size(), size);
        ASSERT_TRUE(got.open(QIODevice::ReadOnly) && got.seek(size - 4));
        EXPECT_EQ(got.read(4), "tail");
        got.close();
        QDir(out).removeRecursively();
    }
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

// ---- Reading what others write ----

TEST(KPZipFile, ArchivesWithoutEntriesOpenAsEmpty)
{
    QByteArray commented = buildZip({});
    commented[commented.size() - 2] = 5;
    commented += "hello";
    for (const QByteArray& bytes : {buildZip({}), commented, buildZip({}, true)}) {
        const QString archive = archiveFile(bytes);
        const QString out = QFileInfo(archive).path() + QStringLiteral("/out");
        const auto result = extract(archive, out);
        EXPECT_TRUE(result.ok) << result.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(QFileInfo(out).isDir());
        EXPECT_TRUE(listTree(out).isEmpty());
    }
    EXPECT_FALSE(extract(archiveFile(buildZip({}).left(21)), testsupport::makeTempDir()).ok);
}

TEST(KPZipFile, SixtyFourBitSizesAndOffsetsAreRead)
{
    const QByteArray payload = "stored behind 64-bit fields";
    const QByteArray text = QByteArray(5000, 'z') + "end";
    const QList<QByteArray> archives = {
        // Every field in the 64-bit extra, and the 64-bit end records.
        buildZip({Member("a.txt", payload).with64BitFields(kUsize | kCsize | kOffset),
                  Member("b.txt", text).deflated().with64BitFields(kUsize | kCsize | kOffset)},
                 true),
        // Only the uncompressed size there, as minizip writes it.
        buildZip({Member("a.txt", payload).with64BitFields(kUsize),
                  Member("b.txt", text).deflated().with64BitFields(kUsize)}),
        // Bytes in front of the archive, as in a self-extractor.
        QByteArray("#!/bin/sh\nexit 0\n")
            + buildZip({Member("a.txt", payload).with64BitFields(kOffset), Member("b.txt", text).deflated()}, true),
    };
    int n = 0;
    for (const QByteArray& bytes : archives) {
        const QString archive = archiveFile(bytes);
        if (haveTool("unzip") && n < 2) {
            EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}), 0) << n;
        }
        const QString out = QFileInfo(archive).path() + QStringLiteral("/out");
        const auto result = extract(archive, out);
        EXPECT_TRUE(result.ok) << n << result.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/a.txt")), payload) << n;
        EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/b.txt")), text) << n;
        ++n;
    }
}

TEST(KPZipFile, NamesAreDecodedByTheirFlagOrAsCodePage437)
{
    QByteArray unicodePath;
    const QByteArray legacy = "legacy-\x81.txt";
    put16(unicodePath, 0x7075);
    put16(unicodePath, static_cast<quint16>(5 + QByteArray("über.txt").size()));
    unicodePath += char(1);
    put32(unicodePath, crcOf(legacy));
    unicodePath += "über.txt";
    const QString archive = archiveFile(buildZip({
        Member("caf\x82.txt", "cp437"),                  // é in code page 437
        Member("\xc3\xa0 la carte.txt", "flagged").withFlags(0x800),
        Member("na\xc3\xafve.txt", "unflagged utf-8"),  // as Info-ZIP's zip writes on Unix
        Member(legacy, "unicode path").withCentralExtra(unicodePath),
        Member("win\\dir\\file.txt", "from windows"),
    }));
    const QString out = QFileInfo(archive).path() + QStringLiteral("/out");
    const auto result = extract(archive, out);
    ASSERT_TRUE(result.ok) << result.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/café.txt")), "cp437");
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/à la carte.txt")), "flagged");
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/naïve.txt")), "unflagged utf-8");
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/über.txt")), "unicode path");
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/win/dir/file.txt")), "from windows");

    // Flagged, yet not UTF-8.
    EXPECT_FALSE(extract(archiveFile(buildZip({Member("bad\xff.txt", "x").withFlags(0x800)})), out).ok);
}

TEST(KPZipFile, TwoEntriesForOneTargetAreAnErrorNotAMerge)
{
    const QList<QList<Member>> colliding = {
        {Member("same.txt", "first"), Member("same.txt", "second")},
        // One name in code page 437, one flagged UTF-8: both are "é.txt".
        {Member("\x82.txt", "first"), Member("\xc3\xa9.txt", "second").withFlags(0x800)},
        {Member("x/y.txt", "first"), Member("x//./y.txt", "second")},
        {Member("a", "a file"), Member("a/b.txt", "needs a as a folder")},
        {Member("dir/", ""), Member("dir", "a file where a folder is")},
    };
    for (const auto& members : colliding) {
        const QString archive = archiveFile(buildZip(members));
        const QString out = QFileInfo(archive).path() + QStringLiteral("/out");
        const auto result = extract(archive, out);
        EXPECT_FALSE(result.ok) << members.last().name.toStdString();
        EXPECT_FALSE(result.errors.isEmpty());
        EXPECT_TRUE(listTree(out).isEmpty()) << listTree(out).join(QLatin1Char(' ')).toStdString();
    }
    // A folder named twice is one folder.
    const QString archive = archiveFile(buildZip({Member("dir/", ""), Member("dir/f.txt", "f"), Member("dir/", "")}));
    EXPECT_TRUE(extract(archive, QFileInfo(archive).path() + QStringLiteral("/out")).ok);
}

// ---- Hostile archives ----

TEST(KPZipFile, EntriesThatShareBytesAreRefusedBeforeAnythingIsWritten)
{
    // Sixty names over one deflated megabyte of zeros: a small archive that would write sixty
    // times the bytes it holds.
    const QByteArray zeros(1 << 20, '\0');
    QList<Member> shared = {Member("0.bin", zeros).deflated()};
    for (int i = 1; i < 60; ++i)
        shared.append(Member(QByteArray::number(i) + ".bin", zeros).deflated().pointingAt(0));

    // The second entry's local header lies inside the first entry's stored bytes.
    const Member inner("inner.txt", "hidden inside");
    const QList<Member> nested = {Member("outer.bin", localRecord(inner)), Member(inner).pointingAt(30 + 9)};

    for (const auto& members : {shared, nested}) {
        const QByteArray bytes = buildZip(members);
        const QString archive = archiveFile(bytes);
        const QString out = QFileInfo(archive).path() + QStringLiteral("/out");
        const auto result = extract(archive, out);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.errors.join(QLatin1Char(' ')).contains(QStringLiteral("overlap")));
        EXPECT_TRUE(listTree(out).isEmpty());
    }
}

TEST(KPZipFile, OutputIsBoundByDeclaredSizesAndTheRoomOnTheDisk)
{
    const QByteArray zeros(1 << 20, '\0');
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + QStringLiteral("/out/victim.bin"), "precious");

    // Inflates a megabyte while it declares a thousand bytes; the file it would replace stays.
    const QString archive = archiveFile(buildZip({Member("victim.bin", zeros).deflated().declaring(1000)}));
    auto result = extract(archive, dir + QStringLiteral("/out"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.errors.join(QLatin1Char(' ')).contains(QStringLiteral("declared size")));
    EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/out/victim.bin")), "precious");

    // Declares more than any disk holds: refused before a byte is written.
    const QString huge = archiveFile(buildZip(
        {Member("small.txt", "fits"),
         Member("huge.bin", zeros).deflated().with64BitFields(kUsize).declaring(quint64(1) << 60)}));
    result = extract(huge, dir + QStringLiteral("/huge"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.errors.join(QLatin1Char(' ')).contains(QStringLiteral("room")));
    EXPECT_TRUE(listTree(dir + QStringLiteral("/huge")).isEmpty());

    // Inflates less than it declares.
    const QString shortArchive = archiveFile(buildZip({Member("short.bin", zeros).deflated().declaring(2 << 20)}));
    EXPECT_FALSE(extract(shortArchive, dir + QStringLiteral("/short")).ok);
    EXPECT_TRUE(listTree(dir + QStringLiteral("/short")).isEmpty());
    EXPECT_EQ(listTree(dir + QStringLiteral("/out")), QStringList{QStringLiteral("victim.bin")});
}

TEST(KPZipFile, HostileArchivesAreRefusedAndWriteNothingOutside)
{
    const QString dir = testsupport::makeTempDir();
    const QString outside = dir + QStringLiteral("/outside");
    QDir().mkpath(outside);
    const QList<QList<Member>> hostile = {
        {Member("../escaped.txt", "x")},
        {Member("ok.txt", "fine"), Member("sub/../../escaped.txt", "x")},
        {Member("/tmp/escaped-absolute.txt", "x")},
        {Member("..\\escaped.txt", "x")},
        // A link entry pointing outside: never created.
        {Member("link", "/etc/passwd").madeOnUnix(0120777u)},
        // Through a link that already sits in the destination.
        {Member("planted/escaped.txt", "x")},
    };
    for (int n = 0; n < hostile.size(); ++n) {
        const QString archive = archiveFile(buildZip(hostile[n]));
        const QString out = dir + QStringLiteral("/out%1/inner").arg(n);
        QDir().mkpath(out);
        ASSERT_TRUE(QFile::link(outside, out + QStringLiteral("/planted")));
        const auto result = extract(archive, out);
        EXPECT_FALSE(result.ok) << n;
        EXPECT_FALSE(result.errors.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/out%1/escaped.txt").arg(n)));
        EXPECT_FALSE(QFileInfo(out + QStringLiteral("/link")).isSymLink());
    }
    EXPECT_TRUE(listTree(outside).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/escaped-absolute.txt")));
}

TEST(KPZipFile, DamagedArchivesFailAndLeaveNoPartialFiles)
{
    const QByteArray payload = "The quick brown fox jumps over the lazy dog, stored uncompressed.";
    QByteArray bytes = buildZip({Member("first.txt", "whole"), Member("f.txt", payload)});
    const qsizetype at = bytes.indexOf("quick");
    bytes[at] = 'Q';
    const QString archive = archiveFile(bytes);

    // The file it would replace keeps its content, and no temporary file is left beside it.
    const QString out = archive + QStringLiteral("_F/r");
    testsupport::writeFile(out + QStringLiteral("/f.txt"), "old");
    EXPECT_TRUE(KPZipArchive::unZipWithFilePath(archive, QStringLiteral("r")).isEmpty());
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/f.txt")), "old");
    EXPECT_EQ(listTree(out), (QStringList{"f.txt", "first.txt"}));
    // A result folder the run made itself is taken back whole.
    EXPECT_TRUE(KPZipArchive::unZipWithFilePath(archive, QStringLiteral("fresh")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(archive + QStringLiteral("_F/fresh")));

    // Truncated archives and other bytes are no archives.
    KPZipFile zip;
    for (const QByteArray& broken : {bytes.left(bytes.size() / 2), QByteArray("PK\x05\x06"), QByteArray()}) {
        testsupport::writeFile(archive, broken);
        EXPECT_FALSE(zip.UnzipOpenFile(archive));
        EXPECT_FALSE(zip.UnzipFileTo(out, true));
    }
}

TEST(KPZipFile, OverwriteAsksTheDelegateOnlyWhenOverwritingIsOff)
{
    const QString archive = archiveFile(buildZip({Member("f.txt", "new")}));
    const QString out = QFileInfo(archive).path() + QStringLiteral("/out");
    testsupport::writeFile(out + QStringLiteral("/f.txt"), "old");

    QStringList asked;
    KPZipFile zip;
    zip.setDelegate({nullptr, [&](const QString& path) {
                         asked << path;
                         return false;
                     }});
    ASSERT_TRUE(zip.UnzipOpenFile(archive));
    EXPECT_TRUE(zip.UnzipFileTo(out, false));
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/f.txt")), "old");

    asked.clear();
    EXPECT_TRUE(zip.UnzipFileTo(out, true));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(testsupport::readFile(out + QStringLiteral("/f.txt")), "new");
}

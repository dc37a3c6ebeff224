#include "Support/TestSupport.h"
#include "Utilities/DataBase64.h"
#include "Utilities/MD5Generator.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QString md5Of(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : bytes)
        c = char(generator.generate() & 0xFF);
    return bytes;
}

struct ObserverReset {
    ~ObserverReset() { MD5Generator::setPieceObserverForTesting({}); }
};

} // namespace

TEST(MD5GeneratorTest, EmptyFilesHashTheirPathSoTheyNeverMatch)
{
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/a.txt", {});
    testsupport::writeFile(dir + "/b.txt", {});
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/a.txt"), MD5Generator::createMD5ByString(dir + "/a.txt"));
    EXPECT_NE(MD5Generator::createMD5ByFile(dir + "/a.txt"), MD5Generator::createMD5ByFile(dir + "/b.txt"));
}

TEST(MD5GeneratorTest, NoHashWithoutExtensionOrFile)
{
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/README", "text");
    testsupport::writeFile(dir + "/.profile", "text");
    testsupport::writeFile(dir + "/name.", "text");
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/README").isNull());
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/.profile").isNull());
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/name.").isNull());
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/missing.pdf").isNull());
    EXPECT_TRUE(MD5Generator::createMD5ByFile(QString()).isNull());
}

TEST(MD5GeneratorTest, LargeFilesHashAcrossPieceBoundaries)
{
    const QString dir = testsupport::makeTempDir();
    // Two full pieces and a part, so a lost or repeated piece would change the digest.
    const QByteArray content = randomBytes(2 * MD5Generator::kPieceSize + 12345, 7);
    testsupport::writeFile(dir + "/big.pdf", content);
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/big.pdf"), md5Of(content));
    const QByteArray exact = randomBytes(MD5Generator::kPieceSize, 8);
    testsupport::writeFile(dir + "/exact.pdf", exact);
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/exact.pdf"), md5Of(exact));
}

TEST(MD5GeneratorTest, PackagesHashTheirContentFileOnly)
{
    const QString dir = testsupport::makeTempDir();
    for (const QString& name : {QStringLiteral("one.key"), QStringLiteral("two.key")}) {
        testsupport::writeFile(dir + "/" + name + "/index.apxl.gz", "slides");
        testsupport::writeFile(dir + "/" + name + "/Index.zip", "fallback");
        testsupport::writeFile(dir + "/" + name + "/QuickLook/Thumbnail.jpg", name.toUtf8());
    }
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/one.key"), md5Of("slides"));
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/one.key"), MD5Generator::createMD5ByFile(dir + "/two.key"));

    testsupport::writeFile(dir + "/n.numbers/Index.zip", "zipped");
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/n.numbers"), md5Of("zipped"));
    testsupport::writeFile(dir + "/t.pages-tef/index.pages/index.xml.gz", "tef");
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/t.pages-tef"), md5Of("tef"));
    testsupport::writeFile(dir + "/r.rtfd/TXT.rtf", "{\\rtf1 hi}");
    testsupport::writeFile(dir + "/r.rtfd/image.png", "png");
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/r.rtfd/"), md5Of("{\\rtf1 hi}"));

    // Extensions are matched exactly: "KEY" is no Keynote package and is hashed whole.
    testsupport::writeFile(dir + "/upper.KEY/index.apxl.gz", "slides");
    EXPECT_NE(MD5Generator::createMD5ByFile(dir + "/upper.KEY"), md5Of("slides"));
    EXPECT_FALSE(MD5Generator::createMD5ByFile(dir + "/upper.KEY").isNull());

    // A single-file document of a package kind is hashed as the file it is.
    testsupport::writeFile(dir + "/flat.pages", "zip bytes");
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/flat.pages"), md5Of("zip bytes"));
}

TEST(MD5GeneratorTest, PackageWithoutContentFileHashesAllFilesInStableOrder)
{
    const QString dir = testsupport::makeTempDir();
    // Same tree, created in opposite orders, so directory listing order differs.
    testsupport::writeFile(dir + "/a.key/b.txt", "B");
    testsupport::writeFile(dir + "/a.key/sub/c.txt", "C");
    testsupport::writeFile(dir + "/a.key/a.txt", "A");
    testsupport::writeFile(dir + "/z.key/a.txt", "A");
    testsupport::writeFile(dir + "/z.key/sub/c.txt", "C");
    testsupport::writeFile(dir + "/z.key/b.txt", "B");
    const QString first = MD5Generator::createMD5ByFile(dir + "/a.key");
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first, MD5Generator::createMD5ByFile(dir + "/z.key"));
    EXPECT_NE(first, md5Of({}));

    // Moving bytes from one file to another, or renaming a file, is a different package.
    testsupport::writeFile(dir + "/m.key/a.txt", "AB");
    testsupport::writeFile(dir + "/m.key/b.txt", "");
    testsupport::writeFile(dir + "/m.key/sub/c.txt", "C");
    EXPECT_NE(first, MD5Generator::createMD5ByFile(dir + "/m.key"));
    testsupport::writeFile(dir + "/n.key/a.txt", "A");
    testsupport::writeFile(dir + "/n.key/b2.txt", "B");
    testsupport::writeFile(dir + "/n.key/sub/c.txt", "C");
    EXPECT_NE(first, MD5Generator::createMD5ByFile(dir + "/n.key"));
}

TEST(MD5GeneratorTest, PackageWithoutReadableFilesHasNoHash)
{
    const QString dir = testsupport::makeTempDir();
    QDir().mkpath(dir + "/empty.key/sub");
    QDir().mkpath(dir + "/other.pages");
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/empty.key").isNull());
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/other.pages").isNull());
    // Two unrelated broken packages must never look like duplicates.
    QDir().mkpath(dir + "/links.key");
    QFile::link(dir + "/nowhere", dir + "/links.key/dangling");
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/links.key").isNull());
}

TEST(MD5GeneratorTest, FileChangingWhileHashedHasNoHash)
{
    ObserverReset reset;
    const QString dir = testsupport::makeTempDir();
    const QByteArray content = randomBytes(3 * MD5Generator::kPieceSize, 3);

    const QString vanishing = dir + "/vanishing.pdf";
    testsupport::writeFile(vanishing, content);
    MD5Generator::setPieceObserverForTesting([&](const QString& file, qint64 done) {
        if (file == vanishing && done == MD5Generator::kPieceSize)
            QFile::remove(vanishing);
    });
    EXPECT_TRUE(MD5Generator::createMD5ByFile(vanishing).isNull());

    const QString shrinking = dir + "/shrinking.pdf";
    testsupport::writeFile(shrinking, content);
    MD5Generator::setPieceObserverForTesting([&](const QString& file, qint64 done) {
        if (file == shrinking && done == MD5Generator::kPieceSize)
            QFile(shrinking).resize(MD5Generator::kPieceSize + 10);
    });
    EXPECT_TRUE(MD5Generator::createMD5ByFile(shrinking).isNull());

    const QString replaced = dir + "/replaced.pdf";
    testsupport::writeFile(replaced, content);
    testsupport::writeFile(dir + "/new.pdf", content);
    MD5Generator::setPieceObserverForTesting([&](const QString& file, qint64 done) {
        if (file == replaced && done == MD5Generator::kPieceSize)
            ::rename(QFile::encodeName(dir + "/new.pdf").constData(), QFile::encodeName(replaced).constData());
    });
    EXPECT_TRUE(MD5Generator::createMD5ByFile(replaced).isNull());

    // Inside a package, one file vanishing spoils the whole package's hash.
    testsupport::writeFile(dir + "/p.key/a.bin", content);
    testsupport::writeFile(dir + "/p.key/b.bin", "b");
    MD5Generator::setPieceObserverForTesting([&](const QString& file, qint64) {
        if (file.endsWith("/p.key/a.bin"))
            QFile::remove(file);
    });
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/p.key").isNull());

    MD5Generator::setPieceObserverForTesting({});
    testsupport::writeFile(vanishing, content);
    EXPECT_EQ(MD5Generator::createMD5ByFile(vanishing), md5Of(content));
}

TEST(MD5GeneratorTest, TitleAndTimeVariant)
{
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/f.pdf", "body");
    const qint64 time = 0x0102030405060708;
    QByteArray expected = "bodyTitle é";
    const qint64 little = qToLittleEndian(time);
    expected.append(reinterpret_cast<const char*>(&little), 8);
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/f.pdf", QStringLiteral("Title é"), time), md5Of(expected));
    EXPECT_EQ(MD5Generator::createMD5ByFile(dir + "/f.pdf", QString(), 0), md5Of("body"));
    EXPECT_TRUE(MD5Generator::createMD5ByFile(dir + "/gone.pdf", QStringLiteral("t"), 1).isNull());
}

TEST(Base64Test, LinesOf64CharactersWithoutTrailingBreak)
{
    const QByteArray bytes48 = randomBytes(48, 1);
    const QString one = base64EncodedString(bytes48);
    EXPECT_EQ(one.size(), 64);
    EXPECT_FALSE(one.contains('\r'));

    const QByteArray bytes49 = randomBytes(49, 1);
    const QString two = base64EncodedString(bytes49);
    ASSERT_EQ(two.size(), 64 + 2 + 4);
    EXPECT_EQ(two.mid(64, 2), "\r\n");
    EXPECT_TRUE(two.endsWith("=="));

    EXPECT_EQ(base64EncodedString({}), QString());
    EXPECT_EQ(base64EncodedString("ab"), "YWI=");
    EXPECT_EQ(base64EncodedString("abc"), "YWJj");
    EXPECT_EQ(base64EncodedString(randomBytes(96, 2)).count("\r\n"), 1);
}

TEST(Base64Test, RoundTripsAndMatchesStandardEncoding)
{
    for (qsizetype size = 0; size < 200; ++size) {
        const QByteArray bytes = randomBytes(size, quint32(size));
        const QString text = base64EncodedString(bytes);
        EXPECT_EQ(QString(text).remove("\r\n"), QString::fromLatin1(bytes.toBase64())) << size;
        EXPECT_EQ(dataFromBase64String(text), bytes) << size;
    }
}

TEST(Base64Test, DecoderIsLenient)
{
    EXPECT_EQ(dataFromBase64String("YWJj\n"), "abc");
    EXPECT_EQ(dataFromBase64String(" YW\r\nJj "), "abc");
    EXPECT_EQ(dataFromBase64String("YWI"), "ab");
    EXPECT_EQ(dataFromBase64String("YQ=="), "a");
    // A single leftover character carries fewer than 8 bits and adds nothing.
    EXPECT_EQ(dataFromBase64String("YWJjZ"), "abc");
    EXPECT_TRUE(dataFromBase64String(QStringLiteral("YWJj\u00e9")).isEmpty());
    EXPECT_TRUE(dataFromBase64String(QString()).isEmpty());
}

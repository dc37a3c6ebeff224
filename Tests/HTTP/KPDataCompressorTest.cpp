#include "Support/TestSupport.h"
#include "HTTP/KPDataCompressor.h"
#include "HTTP/KPDataDecompressor.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QByteArray sample(qsizetype size)
{
    // Half text, half noise: compressible but not trivially.
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator rng(42);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = (i / 512) % 2 ? char(rng.bounded(256)) : char('a' + i % 26);
    return out;
}

} // namespace

TEST(KPDataCompressorTest, WholeBuffersRoundTripAtTheEdgeSizes)
{
    EXPECT_TRUE(KPDataCompressor::compressData({})->isEmpty()) << "0 bytes give nothing, not an empty member";
    for (qsizetype size : {qsizetype(1), qsizetype(262144), qsizetype(10 * 1024 * 1024)}) {
        const QByteArray data = sample(size);
        auto packed = KPDataCompressor::compressData(data);
        ASSERT_TRUE(packed) << size;
        auto unpacked = KPDataDecompressor::uncompressData(*packed);
        ASSERT_TRUE(unpacked) << size << unpacked.error().message.toStdString();
        EXPECT_EQ(*unpacked, data) << size;
    }
}

TEST(KPDataCompressorTest, PiecesRoundTripAndInflateByteByByte)
{
    const QByteArray data = sample(300000);
    auto c = KPDataCompressor::compressor();
    QByteArray packed;
    for (qsizetype at = 0; at < data.size(); at += 7777) {
        const QByteArray piece = data.mid(at, 7777);
        auto out = c->compressBytes(piece.constData(), piece.size(), at + 7777 >= data.size());
        ASSERT_TRUE(out);
        packed += *out;
    }
    EXPECT_FALSE(c->streamReady());

    // One byte in at a time: output still pending inside zlib must not be cut off.
    auto d = KPDataDecompressor::decompressor();
    QByteArray unpacked;
    for (char byte : packed) {
        auto out = d->uncompressBytes(&byte, 1);
        ASSERT_TRUE(out);
        unpacked += *out;
    }
    EXPECT_TRUE(d->streamEnded());
    EXPECT_EQ(unpacked, data);
}

TEST(KPDataCompressorTest, FilesRoundTripIncludingAWholeNumberOfReads)
{
    const QString dir = testsupport::makeTempDir();
    for (qsizetype size : {qsizetype(1), qsizetype(262144), qsizetype(2 * 262144), qsizetype(262144 + 3)}) {
        const QByteArray data = sample(size);
        testsupport::writeFile(dir + "/src", data);
        ASSERT_TRUE(KPDataCompressor::compressDataFromFile(dir + "/src", dir + "/gz")) << size;
        // The gzip must carry its trailer even when the last read was a full one.
        auto strict = KPDataDecompressor::uncompressData(testsupport::readFile(dir + "/gz"));
        ASSERT_TRUE(strict) << size;
        EXPECT_EQ(*strict, data);
        ASSERT_TRUE(KPDataDecompressor::uncompressDataFromFile(dir + "/gz", dir + "/out")) << size;
        EXPECT_EQ(testsupport::readFile(dir + "/out"), data) << size;
    }
}

TEST(KPDataCompressorTest, ErrorsCarryTheirTexts)
{
    const QString dir = testsupport::makeTempDir();
    auto missing = KPDataCompressor::compressDataFromFile(dir + "/none", dir + "/dst");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, 11);
    EXPECT_EQ(missing.error().domain, QStringLiteral("KPHTTPRequestErrorDomain"));
    EXPECT_EQ(missing.error().message, QStringLiteral("Compression of %1/none failed the file does not exist").arg(dir));
    EXPECT_TRUE(QFileInfo::exists(dir + "/dst")) << "the empty destination stays, as callers expect";

    auto missingInflate = KPDataDecompressor::uncompressDataFromFile(dir + "/none", dir + "/dst2");
    ASSERT_FALSE(missingInflate);
    EXPECT_EQ(missingInflate.error().message, QStringLiteral("Decompression of %1/none failed the file does not exist").arg(dir));

    testsupport::writeFile(dir + "/src", "abc");
    auto noFolder = KPDataCompressor::compressDataFromFile(dir + "/src", dir + "/no/such/dst");
    ASSERT_FALSE(noFolder);
    EXPECT_EQ(noFolder.error().message,
              QStringLiteral("Compression of %1/src failed because we were to create a file at %1/no/such/dst").arg(dir));

    // Not gzip, and gzip cut short: both errors, and no half result left on disk.
    auto garbage = KPDataDecompressor::uncompressData("this is not gzip at all");
    ASSERT_FALSE(garbage);
    EXPECT_EQ(garbage.error().message, QStringLiteral("Decompression of data failed with code -3"));
    const QByteArray packed = *KPDataCompressor::compressData(sample(100000));
    EXPECT_FALSE(KPDataDecompressor::uncompressData(packed.left(packed.size() / 2)));
    testsupport::writeFile(dir + "/cut.gz", packed.left(packed.size() - 4));
    EXPECT_FALSE(KPDataDecompressor::uncompressDataFromFile(dir + "/cut.gz", dir + "/cut"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/cut"));
}

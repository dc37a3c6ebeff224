#include "ContentFixtures.h"
#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/TextExtractor.h"
#include "Support/TestSupport.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace platform;
using namespace contentfixtures;
using testsupport::makeTempDir;
using testsupport::writeFile;

namespace {

// Tuning: damaged copies made of each sample; enough to reach most parser branches quickly.
constexpr int kCutsPerSample = 24;
constexpr int kFlipsPerSample = 24;

QList<std::pair<QString, QByteArray>> samples(const QString& dir)
{
    writeZip(dir + "/s.docx", docxEntries(QStringLiteral("<w:p><w:r><w:t>Wort</w:t></w:r></w:p>")));
    writeZip(dir + "/s.odt", odtEntries(QStringLiteral("<text:p>mot</text:p>")) +
                                 QList<ZipEntry>{{QStringLiteral("Thumbnails/thumbnail.png"), pngBytes(QImage(8, 8, QImage::Format_RGB32))}});
    writeZip(dir + "/s.epub", epubEntries({QStringLiteral("<p>chapitre</p>")}, pngBytes(QImage(8, 8, QImage::Format_RGB32))));
    writePdf(dir + "/s.pdf", {QStringLiteral("Seite")});
    QList<std::pair<QString, QByteArray>> out;
    for (const char* name : {"s.docx", "s.odt", "s.epub", "s.pdf"})
        out.append({QString::fromLatin1(name), testsupport::readFile(dir + "/" + name)});
    out.append({QStringLiteral("s.rtf"), "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 A;}}\\uc1 x\\u233?\\'e9{\\*\\x y}\\bin3 abc\\par}"});
    out.append({QStringLiteral("s.html"), "<html><head><title>t</title><script>x</script></head><body><p>a &amp; b &#x41;</p></body></html>"});
    out.append({QStringLiteral("s.eml"), "From: a\nSubject: =?utf-8?B?w6k=?=\nContent-Type: multipart/mixed; boundary=q\n\n--q\n"
                                         "Content-Transfer-Encoding: quoted-printable\n\nx=C3=A9=\n--q--\n"});
    return out;
}

} // namespace

// Truncated and bit-flipped copies of every kind of sample: each read must end in text or an
// error, never in a crash or a hang.
TEST(HostileInputTest, DamagedFilesNeverCrashTheReaders)
{
    const QString dir = makeTempDir();
    QRandomGenerator random(20261206);
    int errors = 0, reads = 0;
    for (const auto& [name, bytes] : samples(dir)) {
        const QString suffix = name.mid(name.indexOf(QLatin1Char('.')));
        QList<QByteArray> variants;
        for (int i = 1; i <= kCutsPerSample; ++i)
            variants.append(bytes.left(bytes.size() * i / (kCutsPerSample + 1)));
        for (int i = 0; i < kFlipsPerSample; ++i) {
            QByteArray flipped = bytes;
            for (int n = 0; n < 4; ++n)
                flipped[random.bounded(int(flipped.size()))] = char(random.bounded(256));
            variants.append(flipped);
        }
        for (int i = 0; i < variants.size(); ++i) {
            const QString path = dir + QStringLiteral("/v%1%2").arg(i).arg(suffix);
            writeFile(path, variants[i]);
            ExtractionLimits limits;
            limits.timeoutMs = 10000;
            auto text = TextExtractor::shared().extract(path, limits);
            ++reads;
            if (!text)
                ++errors;
            EXPECT_FALSE(ContentPreview::shared().preview(path, QSize(64, 64)).isNull()) << path.toStdString();
        }
    }
    // Most damage is detected; a reader that "succeeds" on everything is not reading.
    EXPECT_GT(errors, reads / 4);
}

// The library folder: its layout and dated folders, files copied and moved in without ever
// replacing one (also under concurrent writers), thumbnails, relative paths, and the failures
// that must be reported instead of recorded as stored documents.
#include "Platform/Foundation/FileManager.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/TestSupport.h"
#include "Utilities/MD5Generator.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocale>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <set>
#include <sys/resource.h>
#include <thread>

using platform::FileManager;

namespace {

const QDateTime kNewYear2014(QDate(2014, 1, 1), QTime(12, 0));
const QString kDay = QStringLiteral("/Documents/Jan 01, 2014/");

struct Library {
    QString folder = testsupport::makeTempDir(QStringLiteral("lib"));
    KPLibraryFileManager manager{folder, kNewYear2014};
};

QString source(const QString& name, const QByteArray& bytes = "content")
{
    const QString path = testsupport::makeTempDir(QStringLiteral("src")) + QLatin1Char('/') + name;
    testsupport::writeFile(path, bytes);
    return path;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(KPLibraryFileManager, LaysOutTheLibraryFolderWithADayFolderInEnglish)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("layout"));
    // A trailing "/" in the setting must not cost the relative paths their leading one.
    KPLibraryFileManager manager(folder + QLatin1Char('/'), kNewYear2014);
    EXPECT_TRUE(manager.folderError().isEmpty()) << qPrintable(manager.folderError());
    EXPECT_EQ(manager.dayFolder(), folder + kDay);
    EXPECT_EQ(manager.safeBoxFile(), folder + QStringLiteral("/safebox.db"));
    EXPECT_EQ(manager.indexFolderStoreFile(), folder + QStringLiteral("/Index/indexFolder.db"));
    for (const QString& made : {QStringLiteral("/Documents/Jan 01, 2014"), QStringLiteral("/Thumbnail"),
                                QStringLiteral("/Index")})
        EXPECT_TRUE(QFileInfo(folder + made).isDir()) << qPrintable(made);

    // Stored paths must not depend on the user's language.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QStringList months{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int month = 1; month <= 12; ++month)
        EXPECT_EQ(KPLibraryFileManager::dayFolderName(QDateTime(QDate(2023, month, 7), QTime(0, 30))),
                  QStringLiteral("%1 07, 2023").arg(months[month - 1]));
    QLocale::setDefault(previous);
}

TEST(KPLibraryFileManager, CopiesTakeTheNextFreeNameAndNeverReplaceAFile)
{
    Library lib;
    const QString a = source(QStringLiteral("a.pdf"), "first");
    EXPECT_EQ(lib.manager.addFile(a).value_or(QString()), kDay + QStringLiteral("a.pdf"));
    testsupport::writeFile(a, "second");
    EXPECT_EQ(lib.manager.addFile(a, true).value_or(QString()), kDay + QStringLiteral("a_1.pdf"))
        << "the override flag must not overwrite";
    testsupport::writeFile(a, "third");
    EXPECT_EQ(lib.manager.addFile(a).value_or(QString()), kDay + QStringLiteral("a_2.pdf"));
    EXPECT_EQ(testsupport::readFile(lib.folder + kDay + QStringLiteral("a.pdf")), QByteArray("first"));
    EXPECT_EQ(testsupport::readFile(a), QByteArray("third")) << "a copy leaves its source alone";

    // A package is copied whole and keeps its extension after the number.
    const QString package = testsupport::makeTempDir(QStringLiteral("pkg")) + QStringLiteral("/report.pages");
    testsupport::writeFile(package + QStringLiteral("/Index.xml"), "<doc/>");
    testsupport::writeFile(package + QStringLiteral("/Data/image.png"), "png");
    ASSERT_TRUE(lib.manager.addFile(package));
    EXPECT_EQ(lib.manager.addFile(package).value_or(QString()), kDay + QStringLiteral("report_1.pages"));
    EXPECT_EQ(testsupport::readFile(lib.folder + kDay + QStringLiteral("report_1.pages/Data/image.png")),
              QByteArray("png"));

    // Without an extension the number is followed by a full stop, as stored libraries have it.
    const QString bare = source(QStringLiteral("name"));
    ASSERT_TRUE(lib.manager.addFile(bare));
    EXPECT_EQ(lib.manager.addFile(bare).value_or(QString()), kDay + QStringLiteral("name_1."));
    EXPECT_EQ(lib.manager.newFilePathByName(QStringLiteral("name")), lib.folder + kDay + QStringLiteral("name_2."));

    // A file in a folder of the library's own choosing; never one outside it.
    ASSERT_TRUE(FileManager::createDirectory(lib.folder + QStringLiteral("/Documents/Scans"), false));
    EXPECT_EQ(lib.manager.addFile(a, QStringLiteral("/Documents/Scans/"), false).value_or(QString()),
              QStringLiteral("/Documents/Scans/a.pdf"));
    EXPECT_FALSE(lib.manager.addFile(a, QStringLiteral("/../elsewhere/"), false));
    EXPECT_FALSE(lib.manager.addFile(a, QStringLiteral("/Documents/Missing/"), false));
    EXPECT_FALSE(entries(lib.folder + kDay).join(QLatin1Char(',')).contains(QStringLiteral(".folivo-")))
        << "no staging file is left behind";
}

TEST(KPLibraryFileManager, ConcurrentWritersEachGetTheirOwnName)
{
    Library lib;
    constexpr int kThreads = 8;
    constexpr int kCopies = 25;
    std::vector<QString> sources;
    for (int t = 0; t < kThreads; ++t)
        sources.push_back(source(QStringLiteral("same.pdf"), QByteArray("writer ") + QByteArray::number(t)));
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::vector<QStringList> answers(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < kCopies; ++i) {
                auto stored = (i % 2) ? lib.manager.addFile(sources[size_t(t)]) : lib.manager.addFile(sources[size_t(t)], true);
                if (stored)
                    answers[size_t(t)] << *stored;
                else
                    ++failures;
            }
        });
    }
    go = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);

    std::set<QString> distinct;
    std::map<QByteArray, int> perWriter;
    for (int t = 0; t < kThreads; ++t) {
        for (const QString& relative : answers[size_t(t)]) {
            distinct.insert(relative);
            const QByteArray bytes = testsupport::readFile(lib.manager.CombinFileAbsolutePath(relative));
            EXPECT_EQ(bytes, QByteArray("writer ") + QByteArray::number(t)) << "a name answered to one writer holds its file";
            ++perWriter[bytes];
        }
    }
    EXPECT_EQ(distinct.size(), size_t(kThreads * kCopies));
    EXPECT_EQ(entries(lib.folder + kDay).size(), kThreads * kCopies) << "every copy is there, nothing staged is left";
    for (const auto& [bytes, n] : perWriter)
        EXPECT_EQ(n, kCopies) << bytes.constData();
}

TEST(KPLibraryFileManager, AMissingLibraryFolderIsReportedAndCreatesNothing)
{
    const QString parent = testsupport::makeTempDir(QStringLiteral("gone"));
    const QString folder = parent + QStringLiteral("/Folivo 2 Library");
    KPLibraryFileManager manager(folder, kNewYear2014);
    EXPECT_TRUE(manager.folderError().contains(QStringLiteral("missing"))) << qPrintable(manager.folderError());
    const QString file = source(QStringLiteral("a.pdf"));
    auto copied = manager.addFile(file);
    ASSERT_FALSE(copied) << "no path for a file that did not arrive";
    EXPECT_TRUE(copied.error().message.contains(QStringLiteral("missing"))) << qPrintable(copied.error().message);
    auto moved = manager.moveFile(file);
    ASSERT_FALSE(moved);
    EXPECT_EQ(testsupport::readFile(file), QByteArray("content")) << "the source stays where it was";
    EXPECT_FALSE(manager.addThumbByFile(kDay + QStringLiteral("a.pdf"), QImage(4, 4, QImage::Format_RGB32)));
    EXPECT_FALSE(manager.addFolderByName(QStringLiteral("x")));
    EXPECT_FALSE(FileManager::itemExists(folder)) << "the library folder is the user's choice, never made here";
    EXPECT_TRUE(entries(parent).isEmpty());

    // When the folder appears later (a disk mounted late), the same manager works.
    ASSERT_TRUE(FileManager::createDirectory(folder, false));
    EXPECT_EQ(manager.addFile(file).value_or(QString()), kDay + QStringLiteral("a.pdf"));
}

TEST(KPLibraryFileManager, AFullDiskLeavesNoHalfFileAndNoRecordablePath)
{
    Library lib;
    const QString big = source(QStringLiteral("big.pdf"), QByteArray(1 << 20, 'x'));
    // The file-size limit makes writes fail the way a full disk does, at a point inside the copy.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto copied = lib.manager.addFile(big);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_FALSE(copied);
    EXPECT_TRUE(copied.error().message.contains(QStringLiteral("big.pdf"))) << qPrintable(copied.error().message);
    EXPECT_EQ(testsupport::readFile(big).size(), 1 << 20);
    EXPECT_TRUE(entries(lib.folder + kDay).isEmpty()) << qPrintable(entries(lib.folder + kDay).join(','));
}

namespace {

std::atomic<int> g_refusedClaims{0};

// A file system that takes the staged copy but refuses every final name, as a folder turned
// read-only half-way does.
int refuseFinalNames(const char* from, const char* to)
{
    if (std::strstr(to, "/Documents/") && !std::strstr(to, ".folivo-")) {
        ++g_refusedClaims;
        errno = EROFS;
        return -1;
    }
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

} // namespace

TEST(KPLibraryFileManager, MovesTakeTheSourceAwayButAReadOnlyFolderLosesNothing)
{
    Library lib;
    const QString first = source(QStringLiteral("scan.pdf"), "one");
    QString absolute;
    EXPECT_EQ(lib.manager.moveFile(first, &absolute).value_or(QString()), kDay + QStringLiteral("scan.pdf"));
    EXPECT_EQ(absolute, lib.folder + kDay + QStringLiteral("scan.pdf"));
    EXPECT_FALSE(FileManager::itemExists(first));
    EXPECT_EQ(lib.manager.moveFile(source(QStringLiteral("scan.pdf"))).value_or(QString()), kDay + QStringLiteral("scan_1.pdf"));
    EXPECT_FALSE(lib.manager.moveFile(first)) << "a source that is gone";
    const QStringList before = entries(lib.folder + kDay);

    const QString file = source(QStringLiteral("keep.pdf"), "precious");
    FileManager::setRenameFunctionForTesting(refuseFinalNames);
    auto copied = lib.manager.addFile(file);
    auto moved = lib.manager.moveFile(file);
    FileManager::setRenameFunctionForTesting(nullptr);
    EXPECT_GE(g_refusedClaims.load(), 2);
    ASSERT_FALSE(copied);
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().code, EROFS);
    EXPECT_EQ(testsupport::readFile(file), QByteArray("precious")) << "a refused move puts the file back";
    EXPECT_EQ(entries(lib.folder + kDay), before);
}

TEST(KPLibraryFileManager, ThumbnailsArePngWithAlphaJpegWithoutAndNamedByTheStoredPath)
{
    Library lib;
    QImage transparent(16, 16, QImage::Format_ARGB32);
    transparent.fill(Qt::transparent);
    QImage opaque(16, 16, QImage::Format_RGB32);
    opaque.fill(Qt::red);

    const QString first = kDay + QStringLiteral("a.pdf");
    const QString second = kDay + QStringLiteral("a_1.pdf");
    auto png = lib.manager.addThumbByFile(first, transparent);
    auto jpeg = lib.manager.addThumbByFile(second, opaque);
    ASSERT_TRUE(png);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(*png, QStringLiteral("/Thumbnail/") + MD5Generator::createMD5ByString(first));
    EXPECT_NE(*png, *jpeg) << "two stored documents never share a thumbnail";
    EXPECT_TRUE(testsupport::readFile(lib.folder + *png).startsWith("\x89PNG"));
    EXPECT_TRUE(testsupport::readFile(lib.folder + *jpeg).startsWith("\xFF\xD8"));
    EXPECT_FALSE(png->contains(QLatin1Char('.')));

    // The same document's thumbnail is replaced, not added to.
    ASSERT_TRUE(lib.manager.addThumbByFile(first, opaque));
    EXPECT_TRUE(testsupport::readFile(lib.folder + *png).startsWith("\xFF\xD8"));
    EXPECT_EQ(entries(lib.manager.thumbFolder()).size(), 2);

    EXPECT_FALSE(lib.manager.addThumbByFile(first, QImage())) << "no image, no thumbnail path";
    EXPECT_FALSE(lib.manager.addThumbByFile(QString(), opaque));

    // Encoded elsewhere, written here: the same name and the same bytes; nothing to write
    // keeps the earlier thumbnail.
    const QByteArray written = testsupport::readFile(lib.folder + *jpeg);
    const auto encoded = KPLibraryFileManager::encodeThumbnail(transparent);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(lib.manager.addThumbData(second, *encoded).value_or(QString()), *jpeg);
    ASSERT_TRUE(lib.manager.addThumbByFile(first, transparent));
    EXPECT_EQ(testsupport::readFile(lib.folder + *jpeg), testsupport::readFile(lib.folder + *png));
    EXPECT_FALSE(lib.manager.addThumbData(second, QByteArray()));
    EXPECT_FALSE(KPLibraryFileManager::encodeThumbnail(QImage()));
    EXPECT_TRUE(testsupport::readFile(lib.folder + *jpeg).startsWith("\x89PNG"));
    EXPECT_NE(written, testsupport::readFile(lib.folder + *jpeg));
    EXPECT_EQ(entries(lib.manager.thumbFolder()).size(), 2);
}

namespace {

// A picture that compresses badly, so that its file is far larger than a flat one's.
QImage noisy(int side, QImage::Format format)
{
    QImage image(side, side, format);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x ^ y) % 256));
    return image;
}

} // namespace

TEST(KPLibraryFileManager, OnlyTransparentPixelsMakeAPngThumbnailAndItKeepsThem)
{
    Library lib;
    using Flush = KPLibraryFileManager::ThumbFlush;
    for (const Flush flush : {Flush::Now, Flush::ByCaller}) {
        const QString tag = flush == Flush::Now ? QStringLiteral("flushed") : QStringLiteral("unflushed");
        // An alpha channel that every pixel leaves opaque is no reason for a PNG.
        const QImage opaque = noisy(64, QImage::Format_ARGB32_Premultiplied);
        auto jpeg = lib.manager.addThumbByFile(kDay + tag + QStringLiteral("-opaque.pdf"), opaque, flush);
        ASSERT_TRUE(jpeg) << qPrintable(tag);
        EXPECT_TRUE(testsupport::readFile(lib.folder + *jpeg).startsWith("\xFF\xD8")) << qPrintable(tag);

        // A single clear pixel is: the PNG keeps it, and every other pixel as it was.
        QImage cutOut = noisy(64, QImage::Format_ARGB32);
        cutOut.setPixel(63, 63, qRgba(0, 0, 0, 0));
        auto png = lib.manager.addThumbByFile(kDay + tag + QStringLiteral("-cut.pdf"), cutOut, flush);
        ASSERT_TRUE(png) << qPrintable(tag);
        const QByteArray bytes = testsupport::readFile(lib.folder + *png);
        ASSERT_TRUE(bytes.startsWith("\x89PNG")) << qPrintable(tag);
        const QImage back = QImage::fromData(bytes).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(back, cutOut) << qPrintable(tag);
    }
    // Nothing but the four thumbnails: no temporary files are left beside them.
    EXPECT_EQ(entries(lib.manager.thumbFolder()).size(), 4) << qPrintable(entries(lib.manager.thumbFolder()).join(','));
}

TEST(KPLibraryFileManager, AThumbnailThatCannotBeWrittenLeavesTheEarlierOne)
{
    Library lib;
    using Flush = KPLibraryFileManager::ThumbFlush;
    const QString document = kDay + QStringLiteral("a.pdf");
    QImage small(8, 8, QImage::Format_RGB32);
    small.fill(Qt::red);
    auto first = lib.manager.addThumbByFile(document, small);
    ASSERT_TRUE(first);
    const QByteArray before = testsupport::readFile(lib.folder + *first);
    // A transparent noisy picture makes a PNG of hundreds of kilobytes, past the limit below.
    QImage large = noisy(256, QImage::Format_ARGB32);
    large.setPixel(0, 0, qRgba(0, 0, 0, 0));

    for (const Flush flush : {Flush::Now, Flush::ByCaller}) {
        // The file-size limit makes the write fail the way a full disk does.
        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved;
        limited.rlim_cur = 16 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        auto replaced = lib.manager.addThumbByFile(document, large, flush);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        ASSERT_FALSE(replaced);
        EXPECT_TRUE(replaced.error().message.contains(document)) << qPrintable(replaced.error().message);
        EXPECT_EQ(testsupport::readFile(lib.folder + *first), before);
        EXPECT_EQ(entries(lib.manager.thumbFolder()).size(), 1) << qPrintable(entries(lib.manager.thumbFolder()).join(','));
    }
}

TEST(KPLibraryFileManager, RelativeAndAbsolutePathsRoundTripAndNeverNameTheLibraryItself)
{
    Library lib;
    const QString relative = kDay + QStringLiteral("report.pdf");
    const QString absolute = lib.manager.CombinFileAbsolutePath(relative);
    EXPECT_EQ(absolute, lib.folder + relative);
    EXPECT_EQ(lib.manager.removeAbsolutePath(absolute), relative);
    EXPECT_EQ(lib.manager.removeAbsolutePath(lib.folder + QStringLiteral("/Documents/")), QStringLiteral("/Documents/"));

    EXPECT_TRUE(lib.manager.CombinFileAbsolutePath(QString()).isEmpty()) << "an empty path is no path";
    EXPECT_TRUE(lib.manager.CombinFileAbsolutePath(QStringLiteral("/")).isEmpty());
    EXPECT_TRUE(lib.manager.CombinFileAbsolutePath(QStringLiteral("/Documents/..")).isEmpty());
    EXPECT_TRUE(lib.manager.CombinFileAbsolutePath(QStringLiteral("/../other/a.pdf")).isEmpty());
    EXPECT_TRUE(lib.manager.CombinFileAbsolutePath(QStringLiteral("Documents/a.pdf")).isEmpty())
        << "without its leading \"/\" the path would name a sibling of the library";

    EXPECT_TRUE(lib.manager.removeAbsolutePath(lib.folder).isNull());
    EXPECT_TRUE(lib.manager.removeAbsolutePath(QString()).isNull());
    EXPECT_TRUE(lib.manager.removeAbsolutePath(QStringLiteral("/usr/share/doc/a.pdf")).isNull());
    EXPECT_TRUE(lib.manager.removeAbsolutePath(lib.folder + QStringLiteral("2/Documents/a.pdf")).isNull())
        << "a sibling whose name starts like the library is outside it";

    EXPECT_FALSE(lib.manager.checkIsInLibraryFile(QString()));
    EXPECT_TRUE(lib.manager.checkIsInLibraryFile(absolute));
    EXPECT_FALSE(lib.manager.checkIsInLibraryFile(lib.folder + QStringLiteral("2/x")));
    EXPECT_FALSE(lib.manager.checkIsInLibraryFile(lib.folder.toUpper() + relative)) << "Linux names are case-sensitive";
}

TEST(KPLibraryFileManager, FoldersAndRenamesRefuseToReplace)
{
    Library lib;
    EXPECT_EQ(lib.manager.addFolderByName(QStringLiteral("Scans")).value_or(QString()), kDay + QStringLiteral("Scans/"));
    EXPECT_EQ(lib.manager.addFolderByName(QStringLiteral("Scans")).value_or(QString()), kDay + QStringLiteral("Scans_1/"));
    for (const QString& bad : {QString(), QStringLiteral("a/b"), QStringLiteral(".."), QStringLiteral(".")})
        EXPECT_FALSE(lib.manager.addFolderByName(bad)) << qPrintable(bad);

    const QString day = lib.folder + kDay;
    testsupport::writeFile(day + QStringLiteral("a.pdf"), "a");
    testsupport::writeFile(day + QStringLiteral("b.pdf"), "b");
    EXPECT_FALSE(lib.manager.renameNameByFile(day + QStringLiteral("a.pdf"), QStringLiteral("b.pdf")));
    EXPECT_EQ(testsupport::readFile(day + QStringLiteral("b.pdf")), QByteArray("b"));
    EXPECT_FALSE(lib.manager.renameNameByFile(day + QStringLiteral("a.pdf"), QStringLiteral("../c.pdf")));
}

// A hidden name drops out of folder walks, and one like a staged copy's is removed when the
// library opens next: an item brought in under such a name is kept under a visible one, and
// no rename or new name may take one.
TEST(KPLibraryFileManager, HiddenAndWorkingNamesBecomeVisibleAndSurviveTheNextOpening)
{
    Library lib;
    const QStringList sources{QStringLiteral(".folivo-0123456789abcdef.part"), QStringLiteral(".profile"),
                              QStringLiteral("...notes.txt")};
    const QStringList kept{QStringLiteral("folivo-0123456789abcdef.part"), QStringLiteral("profile"),
                           QStringLiteral("notes.txt")};
    QStringList stored;
    for (const QString& name : sources)
        stored << lib.manager.addFile(source(name)).value_or(QString());
    QString moved;
    stored << lib.manager.moveFile(source(QStringLiteral(".folivo-fedcba9876543210.part")), &moved).value_or(QString());
    EXPECT_EQ(stored.join(QLatin1Char('|')).toStdString(),
              QStringList({kDay + kept[0], kDay + kept[1], kDay + kept[2], kDay + QStringLiteral("folivo-fedcba9876543210.part")})
                  .join(QLatin1Char('|'))
                  .toStdString());
    EXPECT_EQ(KPLibraryFileManager::removeStagedItems(lib.folder).join(QLatin1Char('|')).toStdString(), "");
    for (const QString& relative : std::as_const(stored))
        EXPECT_EQ(testsupport::readFile(lib.folder + relative), QByteArray("content")) << qPrintable(relative);

    const QString day = lib.folder + kDay;
    for (const QString& bad : {QStringLiteral(".hidden.pdf"), QStringLiteral(".folivo-0123456789abcdef.part")}) {
        EXPECT_FALSE(lib.manager.renameNameByFile(day + QStringLiteral("profile"), bad)) << qPrintable(bad);
        EXPECT_FALSE(lib.manager.addFolderByName(bad)) << qPrintable(bad);
        EXPECT_EQ(lib.manager.newFilePathByName(bad), QString()) << qPrintable(bad);
    }
    EXPECT_TRUE(QFile::exists(day + QStringLiteral("profile")));
    for (const QString& name : entries(day))
        EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << qPrintable(name);
}

// A name that fits on its own must still find a free name once a number is added: the stem
// (then the extension) gives up whole characters at its end, counted in bytes, never half of
// one.
TEST(KPLibraryFileManager, ANameAtTheLengthLimitStillTakesTheNextFreeName)
{
    Library lib;
    // 125 two-byte letters and ".pdf": 254 bytes, one short of the limit.
    const QString longName = QString(125, QChar(0x00FC)) + QStringLiteral(".pdf");
    ASSERT_EQ(longName.toUtf8().size(), 254);
    const QString a = source(longName, "first");
    ASSERT_EQ(lib.manager.addFile(a).value_or(QString()), kDay + longName);
    const auto second = lib.manager.addFile(a);
    ASSERT_TRUE(second) << qPrintable(second.error().toString());
    EXPECT_EQ(*second, kDay + QString(124, QChar(0x00FC)) + QStringLiteral("_1.pdf"));
    const auto moved = lib.manager.moveFile(source(longName, "moved"));
    ASSERT_TRUE(moved) << qPrintable(moved.error().toString());
    EXPECT_EQ(*moved, kDay + QString(124, QChar(0x00FC)) + QStringLiteral("_2.pdf"));

    // A character made of a letter and its accent goes whole, and so does one outside the
    // basic plane (a surrogate pair).
    const QString accented = QString(248, QLatin1Char('a')) + QStringLiteral("e\u0301.txt");
    ASSERT_EQ(accented.toUtf8().size(), 255);
    const QString b = source(accented, "b");
    ASSERT_TRUE(lib.manager.addFile(b));
    EXPECT_EQ(lib.manager.addFile(b).value_or(QString()), kDay + QString(248, QLatin1Char('a')) + QStringLiteral("_1.txt"));
    const QString emoji = QString(247, QLatin1Char('b')) + QString::fromUcs4(U"\U0001F600") + QStringLiteral(".md");
    ASSERT_EQ(emoji.toUtf8().size(), 254);
    const QString c = source(emoji, "c");
    ASSERT_TRUE(lib.manager.addFile(c));
    EXPECT_EQ(lib.manager.addFile(c).value_or(QString()), kDay + QString(247, QLatin1Char('b')) + QStringLiteral("_1.md"));

    // An extension that alone nearly fills the limit: once the stem is gone the extension gives
    // up characters too, whole ones (three-byte letters here), so every copy finds a name.
    const QString longExtension = QStringLiteral("a.") + QString(253, QLatin1Char('e'));
    const QString d = source(longExtension, "d");
    ASSERT_TRUE(lib.manager.addFile(d));
    for (int n = 1; n <= 12; ++n) {
        const auto copy = lib.manager.addFile(d);
        ASSERT_TRUE(copy) << n << ": " << qPrintable(copy.error().toString());
        EXPECT_EQ(QFileInfo(*copy).fileName().toUtf8().size(), 255) << n;
        EXPECT_TRUE(copy->startsWith(kDay + QStringLiteral("_%1.eee").arg(n))) << qPrintable(*copy);
        EXPECT_EQ(testsupport::readFile(lib.folder + *copy), QByteArray("d"));
    }
    const QString wide = QStringLiteral("b.e") + QString(84, QChar(0x20AC)); // 3 + 252 bytes
    ASSERT_EQ(wide.toUtf8().size(), 255);
    const QString e = source(wide, "e");
    ASSERT_TRUE(lib.manager.addFile(e));
    const auto wideCopy = lib.manager.addFile(e);
    ASSERT_TRUE(wideCopy) << qPrintable(wideCopy.error().toString());
    EXPECT_EQ(*wideCopy, kDay + QStringLiteral("_1.e") + QString(83, QChar(0x20AC)));
    EXPECT_EQ(lib.manager.newFilePathByName(longExtension).toUtf8().size() - (lib.folder + kDay).toUtf8().size(), 255);

    // Folders made by name, too.
    const QString folderName = QString(255, QLatin1Char('f'));
    ASSERT_TRUE(lib.manager.addFolderByName(folderName));
    EXPECT_EQ(lib.manager.addFolderByName(folderName).value_or(QString()),
              kDay + QString(253, QLatin1Char('f')) + QStringLiteral("_1/"));
}

namespace {

// Stands in for fsync in flushItems: notes each path (and still syncs it), failing the one
// named in failAt with EIO.
struct SyncLog {
    std::mutex mutex;
    QStringList synced;
    QString failAt;

    SyncLog()
    {
        KPLibraryFileManager::setSyncFunctionForTesting([this](int fd, const QString& path) {
            std::lock_guard lock(mutex);
            synced.append(path);
            if (path == failAt) {
                errno = EIO;
                return -1;
            }
            return ::fsync(fd);
        });
    }
    ~SyncLog() { KPLibraryFileManager::setSyncFunctionForTesting(nullptr); }
};

std::set<QString> setOf(const QStringList& list)
{
    return std::set<QString>(list.begin(), list.end());
}

} // namespace

TEST(KPLibraryFileManager, FlushingWrittenItemsSyncsThemAndTheFoldersThatNameThemAndNothingElse)
{
    Library lib;
    const auto copy = lib.manager.addFile(source(QStringLiteral("a.pdf")));
    ASSERT_TRUE(copy);
    const QString package = testsupport::makeTempDir(QStringLiteral("pkg")) + QStringLiteral("/Book.rtfd");
    testsupport::writeFile(package + QStringLiteral("/TXT.rtf"), "rich");
    testsupport::writeFile(package + QStringLiteral("/Pictures/p.png"), "png");
    const auto packageCopy = lib.manager.addFile(package);
    ASSERT_TRUE(packageCopy);
    const auto thumb = lib.manager.addThumbByFile(*copy, noisy(16, QImage::Format_RGB32),
                                                  KPLibraryFileManager::ThumbFlush::ByCaller);
    ASSERT_TRUE(thumb);
    // Written meanwhile by someone else: not this flush's business.
    testsupport::writeFile(lib.folder + QStringLiteral("/Index/other.txt"), "other");

    SyncLog log;
    const QString copyPath = lib.folder + *copy;
    const QString packagePath = lib.folder + *packageCopy;
    const QString thumbPath = lib.folder + *thumb;
    const auto flushed = lib.manager.flushItems({copyPath, packagePath, thumbPath});
    ASSERT_TRUE(flushed) << qPrintable(flushed.error().toString());
    // Each file's data and every part of the package, then the folders whose entries name them,
    // up to the library folder (a day folder made today is itself new in Documents): each once.
    const std::set<QString> expected{copyPath,
                                     packagePath,
                                     packagePath + QStringLiteral("/TXT.rtf"),
                                     packagePath + QStringLiteral("/Pictures"),
                                     packagePath + QStringLiteral("/Pictures/p.png"),
                                     thumbPath,
                                     lib.manager.dayFolder().chopped(1),
                                     lib.manager.documentsFolder(),
                                     lib.manager.thumbFolder(),
                                     lib.folder};
    EXPECT_EQ(setOf(log.synced), expected) << qPrintable(log.synced.join(QLatin1Char('\n')));
    EXPECT_EQ(size_t(log.synced.size()), expected.size()) << qPrintable(log.synced.join(QLatin1Char('\n')));

    // An item that is gone needs nothing; its folders are still synced.
    log.synced.clear();
    ASSERT_TRUE(QFile::remove(copyPath));
    EXPECT_TRUE(lib.manager.flushItems({copyPath}));
    EXPECT_EQ(setOf(log.synced), (std::set<QString>{lib.manager.dayFolder().chopped(1), lib.manager.documentsFolder(), lib.folder}));

    // A write-back that failed is reported, naming the file, so that no record names it.
    log.failAt = thumbPath;
    const auto failed = lib.manager.flushItems({thumbPath});
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, EIO);
    EXPECT_TRUE(failed.error().message.contains(thumbPath)) << qPrintable(failed.error().message);
}

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Scanner/KPScannerSaveWorker.h"
#include "Store/DBFileInfo.h"
#include "Store/DBNode.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPdfDocument>
#include <QRandomGenerator>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace {

QImage page(int w, int h, QImage::Format format = QImage::Format_Grayscale8)
{
    QImage image(w, h, format);
    image.fill(Qt::gray);
    return image;
}

struct PdfPage {
    double width = 0;
    double height = 0;
};

QList<PdfPage> readPdf(const QString& path)
{
    QList<PdfPage> out;
    try {
        const QByteArray name = path.toLocal8Bit();
        QPDF pdf;
        pdf.processFile(name.constData());
        for (auto& p : QPDFPageDocumentHelper(pdf).getAllPages()) {
            const auto box = p.getMediaBox().getArrayAsRectangle();
            out.append({box.urx - box.llx, box.ury - box.lly});
        }
    } catch (const std::exception& e) {
        ADD_FAILURE() << "qpdf: " << e.what();
    }
    return out;
}

class KPScannerSaveWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        libraryPath = testsupport::makeTempDir(QStringLiteral("library"));
        temp = testsupport::makeTempDir(QStringLiteral("tmp"));
        files = std::make_unique<KPLibraryFileManager>(libraryPath);
        DataBaseEngine::Options options;
        options.libraryPath = libraryPath;
        options.makeDefault = false;
        engine = std::make_unique<DataBaseEngine>(options);
        ASSERT_TRUE(engine->initDataBase().has_value());
    }
    void TearDown() override { engine.reset(); }

    KPScannerSaveWorker worker()
    {
        KPScannerSaveWorker::Environment env;
        env.files = files.get();
        env.temporaryFolder = temp;
        env.preview = [this](const QString& path) {
            previewed = path;
            return page(64, 64, QImage::Format_RGB32);
        };
        env.insert = [this](const ImportRecord& record, quint64 nodeID) -> platform::Result<void> {
            if (onInsert)
                onInsert();
            if (failInsert)
                return platform::fail(QStringLiteral("test"), 1, QStringLiteral("the disk is full"));
            return KPScannerSaveWorker::insertIntoLibrary(record, nodeID, engine.get());
        };
        return KPScannerSaveWorker(env);
    }
    QList<DBFileInfo> documents()
    {
        auto found = engine->queryRecordByName(DBFileInfo::entityName());
        return found ? DBRecord::recordsOf<DBFileInfo>(*found) : QList<DBFileInfo>();
    }
    QStringList leftovers(const QString& folder) const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QStringList tmpScanner() const { return leftovers(temp + QStringLiteral("/tmpScanner")); }

    QString libraryPath, temp, previewed;
    std::unique_ptr<KPLibraryFileManager> files;
    std::unique_ptr<DataBaseEngine> engine;
    bool failInsert = false;
    std::function<void()> onInsert;
    std::atomic<bool> cancel{false};
};

} // namespace

TEST_F(KPScannerSaveWorkerTest, SavesCentredPagesOfOneSizeUnderTheChosenNode)
{
    DBNode node = engine->createDBNode();
    node.setTitle(QStringLiteral("Scans"));
    node.setType(DBNode::Folder);
    ASSERT_TRUE(engine->writeToDiskAndWait());

    // A turned page counts with its sides swapped; the trailing empty page adds nothing.
    auto turned = KPCGImageStoreObj::create(page(3508, 2000, QImage::Format_RGB888));
    turned->setAngle(90);
    const QList<KPCGImageStoreObj::Ptr> pages{KPCGImageStoreObj::create(page(2480, 3508)),
                                              KPCGImageStoreObj::create(page(3508, 2480, QImage::Format_RGB32)),
                                              turned, KPCGImageStoreObj::create()};
    EXPECT_EQ(KPScannerSaveWorker::pageSize(pages), QSize(3508, 3508));
    const auto outcome = worker().run(pages, QStringLiteral("Letter"), node.nodeID(), cancel);
    ASSERT_EQ(outcome.returnCode, 1) << outcome.error.toStdString();

    const QString stored = libraryPath + outcome.relativePath;
    EXPECT_TRUE(stored.endsWith(QStringLiteral("/Letter.pdf")));
    EXPECT_EQ(previewed, stored);
    const auto read = readPdf(stored);
    ASSERT_EQ(read.size(), 3);
    for (const auto& p : read) {
        EXPECT_DOUBLE_EQ(p.width, 3508);
        EXPECT_DOUBLE_EQ(p.height, 3508);
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return documents().size() == 1; }));
    const DBFileInfo doc = documents().first();
    EXPECT_EQ(doc.extendField(), DBFileInfo::kExtendFromScanner);
    EXPECT_FALSE(doc.isIndex());
    EXPECT_EQ(doc.path(), outcome.relativePath);
    EXPECT_TRUE(QFile::exists(libraryPath + doc.thumbPath()));
    ASSERT_TRUE(doc.node());
    EXPECT_EQ(doc.node().nodeID(), node.nodeID());
    EXPECT_TRUE(tmpScanner().isEmpty());
}

TEST_F(KPScannerSaveWorkerTest, TurnedPagesAreDrawnTurnedTheWayTheEditorShowsThem)
{
    // Red above, blue below: a quarter turn counter-clockwise (the editor's turn) brings the red
    // half to the left, three quarters bring it to the right.
    QImage upright(80, 40, QImage::Format_RGB32);
    upright.fill(Qt::blue);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 80; ++x)
            upright.setPixel(x, y, qRgb(255, 0, 0));
    auto left = KPCGImageStoreObj::create(upright);
    left->setAngle(90);
    auto right = KPCGImageStoreObj::create(upright);
    right->setAngle(270);
    const auto outcome = worker().run({left, right}, QStringLiteral("Turned"), 0, cancel);
    ASSERT_EQ(outcome.returnCode, 1) << outcome.error.toStdString();

    QPdfDocument pdf;
    ASSERT_EQ(pdf.load(libraryPath + outcome.relativePath), QPdfDocument::Error::None);
    ASSERT_EQ(pdf.pageCount(), 2);
    auto isRed = [](QRgb c) { return qRed(c) > 200 && qBlue(c) < 60; };
    auto isBlue = [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 60; };
    for (int index = 0; index < 2; ++index) {
        EXPECT_EQ(pdf.pagePointSize(index), QSizeF(40, 80));
        const QImage shown = pdf.render(index, QSize(80, 160));
        ASSERT_FALSE(shown.isNull());
        // Sampled away from the edges and the middle line, where the renderer blends.
        const QRgb west = shown.pixel(20, 80), east = shown.pixel(60, 80);
        const QRgb northWest = shown.pixel(20, 10), southEast = shown.pixel(60, 150);
        const bool redWest = index == 0;
        EXPECT_TRUE(redWest ? isRed(west) : isBlue(west)) << "page " << index << " west " << std::hex << west;
        EXPECT_TRUE(redWest ? isBlue(east) : isRed(east)) << "page " << index << " east " << std::hex << east;
        EXPECT_EQ(isRed(northWest), redWest) << "page " << index;
        EXPECT_EQ(isRed(southEast), !redWest) << "page " << index;
    }
}

TEST_F(KPScannerSaveWorkerTest, NoNodeCollisionsAndNamesThatAreNotFileNames)
{
    const QList<KPCGImageStoreObj::Ptr> pages{KPCGImageStoreObj::create(page(100, 50))};
    const auto first = worker().run(pages, QStringLiteral("a/../b"), 0, cancel);
    ASSERT_EQ(first.returnCode, 1) << first.error.toStdString();
    EXPECT_TRUE(first.relativePath.endsWith(QStringLiteral("/a_.._b.pdf")));
    const auto second = worker().run(pages, QStringLiteral("a/../b"), 0, cancel);
    ASSERT_EQ(second.returnCode, 1);
    EXPECT_TRUE(second.relativePath.endsWith(QStringLiteral("/a_.._b_1.pdf")));
    // A node ID nothing has ("UnCollection" is 0) files the document nowhere.
    const auto third = worker().run(pages, QStringLiteral("x/.."), 424242, cancel);
    ASSERT_EQ(third.returnCode, 1);
    EXPECT_TRUE(third.relativePath.endsWith(QStringLiteral("/x_...pdf")));
    ASSERT_TRUE(testsupport::spinUntil([&] { return documents().size() == 3; }));
    for (const DBFileInfo& doc : documents())
        EXPECT_FALSE(doc.node());

    const QString longName(300, QChar(u'é'));
    EXPECT_LE(KPScannerSaveWorker::sanitizedFileName(longName).toUtf8().size() + 4 + 6, 255);
    EXPECT_EQ(KPScannerSaveWorker::sanitizedFileName(QStringLiteral(" x\ty\x01/z ")), QStringLiteral("x_y__z"));
    EXPECT_TRUE(KPScannerSaveWorker::sanitizedFileName(QStringLiteral("   ")).isEmpty());
    const auto unnamed = worker().run(pages, QStringLiteral("  "), 0, cancel);
    EXPECT_EQ(unnamed.returnCode, 0);
    EXPECT_FALSE(unnamed.error.isEmpty());

    // A leading dot would make a hidden file, which the library's folder walks pass over.
    for (const QString& hidden : {QStringLiteral(".secret"), QStringLiteral(" .secret"), QStringLiteral(".."),
                                  QStringLiteral(".")}) {
        const auto refused = worker().run(pages, hidden, 0, cancel);
        EXPECT_EQ(refused.returnCode, 0) << hidden.toStdString();
        EXPECT_TRUE(refused.error.contains(QStringLiteral("cannot be used as a file name"))) << refused.error.toStdString();
    }
    EXPECT_EQ(documents().size(), 3);
    EXPECT_TRUE(QDir(files->dayFolder()).entryList(QDir::Hidden | QDir::Files).filter(QStringLiteral("secret")).isEmpty());
    EXPECT_TRUE(tmpScanner().isEmpty());
}

TEST_F(KPScannerSaveWorkerTest, FailuresAndCancelsLeaveNothingBehind)
{
    const QList<KPCGImageStoreObj::Ptr> pages{KPCGImageStoreObj::create(page(100, 50)),
                                              KPCGImageStoreObj::create(page(50, 100))};
    auto nothingLeft = [&] {
        EXPECT_TRUE(documents().isEmpty());
        EXPECT_TRUE(leftovers(files->dayFolder()).isEmpty());
        EXPECT_TRUE(leftovers(files->thumbFolder()).isEmpty());
        EXPECT_TRUE(tmpScanner().isEmpty());
    };

    // Only empty pages: no PDF of nothing.
    auto outcome = worker().run({KPCGImageStoreObj::create()}, QStringLiteral("x"), 0, cancel);
    EXPECT_EQ(outcome.returnCode, 0);
    EXPECT_FALSE(outcome.error.isEmpty());
    nothingLeft();

    // The store refuses: the moved file and its thumbnail go back out.
    failInsert = true;
    outcome = worker().run(pages, QStringLiteral("x"), 0, cancel);
    EXPECT_EQ(outcome.returnCode, 0);
    EXPECT_TRUE(outcome.error.contains(QStringLiteral("disk is full")));
    nothingLeft();
    failInsert = false;

    // Cancelled before drawing: nothing made, no error to show.
    cancel = true;
    outcome = worker().run(pages, QStringLiteral("x"), 0, cancel);
    EXPECT_EQ(outcome.returnCode, 0);
    EXPECT_TRUE(outcome.error.isEmpty());
    nothingLeft();

    // Cancelled once the record is being stored: the document is kept and reported as saved,
    // so the window closes instead of inviting a duplicate.
    cancel = false;
    onInsert = [&] { cancel = true; };
    outcome = worker().run(pages, QStringLiteral("x"), 0, cancel);
    EXPECT_EQ(outcome.returnCode, 1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return documents().size() == 1; }));

    // A temporary folder that cannot be made.
    cancel = false;
    onInsert = {};
    testsupport::writeFile(temp + QStringLiteral("/blocker"), "x");
    KPScannerSaveWorker::Environment env;
    env.files = files.get();
    env.temporaryFolder = temp + QStringLiteral("/blocker");
    env.preview = [](const QString&) { return page(8, 8); };
    env.insert = [](const ImportRecord&, quint64) -> platform::Result<void> { return {}; };
    outcome = KPScannerSaveWorker(env).run(pages, QStringLiteral("y"), 0, cancel);
    EXPECT_EQ(outcome.returnCode, 0);
    EXPECT_FALSE(outcome.error.isEmpty());
}

TEST_F(KPScannerSaveWorkerTest, APdfCutShortByAFullDiskIsNoSavedDocument)
{
    // Noise does not compress, so the PDF is far larger than the limit below.
    QImage noise(700, 700, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
    const QList<KPCGImageStoreObj::Ptr> pages{KPCGImageStoreObj::create(noise), KPCGImageStoreObj::create(noise)};

    // The file-size limit makes writes fail the way a full disk does, part-way into the PDF. It
    // is lifted as soon as the save looks at what it wrote, so that only the PDF meets it.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    auto lift = [&] { ::setrlimit(RLIMIT_FSIZE, &saved); };
    KPScannerSaveWorker::Environment env;
    env.files = files.get();
    env.temporaryFolder = temp;
    env.preview = [&](const QString&) {
        lift();
        return page(64, 64, QImage::Format_RGB32);
    };
    env.insert = [this](const ImportRecord& record, quint64 nodeID) {
        return KPScannerSaveWorker::insertIntoLibrary(record, nodeID, engine.get());
    };
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto outcome = KPScannerSaveWorker(env).run(pages, QStringLiteral("Full"), 0, cancel);
    lift();
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(outcome.returnCode, 0);
    EXPECT_FALSE(outcome.error.isEmpty());
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_TRUE(leftovers(files->dayFolder()).isEmpty());
    EXPECT_TRUE(leftovers(files->thumbFolder()).isEmpty());
    EXPECT_TRUE(tmpScanner().isEmpty());

    // With room again the same pages save, and the file opens with both pages.
    const auto again = worker().run(pages, QStringLiteral("Full"), 0, cancel);
    ASSERT_EQ(again.returnCode, 1) << again.error.toStdString();
    EXPECT_EQ(readPdf(libraryPath + again.relativePath).size(), 2);
}

// Imports whose previews are made ahead of the import thread: each preview still reaches the
// status and the thumbnail of its own file, a paused import does not render far ahead, and an
// import that ended leaves nothing running that could write into the library.
#include "Import/KPFileFolderImport.h"
#include "Import/KPFileImport.h"
#include "Import/KPPreviewPrefetcher.h"
#include "ImportTestKit.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/ImageQuickLook.h"

#include <QHash>
#include <QPainter>
#include <QPdfWriter>

using namespace importtest;
using KPImportKeys::Paths;

namespace {

// A one-pixel picture whose colour names its file.
QImage pictureOf(const QString& path)
{
    QImage image(1, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, 0xff000000u | (qHash(QFileInfo(path).fileName()) & 0xffffffu));
    return image;
}

// Every preview of the import is pictureOf its file, after work that differs per file so
// the workers finish out of order; every thumbnail written is remembered by copy name.
class PictureSeams {
public:
    PictureSeams()
    {
        KPImportFileWorker::setPreviewFunctionForTesting([this](const QString& path) {
            ++calls;
            QImage scratch(64 + int(qHash(path) % 7) * 128, 64, QImage::Format_RGB32);
            scratch.fill(Qt::white);
            (void)scratch.scaled(13, 13, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            return pictureOf(path);
        });
        KPImportFileWorker::setThumbFunctionForTesting(
            [this](const KPLibraryFileManager& lib, const QString& copy, const QImage& image) {
                {
                    std::lock_guard lock(mutex);
                    thumbs.insert(QFileInfo(copy).fileName(), image);
                }
                return lib.addThumbByFile(copy, image, KPLibraryFileManager::ThumbFlush::ByCaller);
            });
    }
    ~PictureSeams()
    {
        KPImportFileWorker::setPreviewFunctionForTesting(nullptr);
        KPImportFileWorker::setThumbFunctionForTesting(nullptr);
    }
    std::atomic<int> calls{0};
    std::mutex mutex;
    QHash<QString, QImage> thumbs;
};

class ImportPreviewAheadTest : public ImportFixture {
protected:
    QStringList writeFiles(const QString& folder, int count)
    {
        // Names unique over the whole corpus, so a copy keeps its source's name.
        const QString prefix = QString(folder).replace(QLatin1Char('/'), QLatin1Char('_'));
        QStringList out;
        for (int i = 0; i < count; ++i)
            out << write(QStringLiteral("%1/%2-%3.txt").arg(folder, prefix).arg(i, 3, 10, QLatin1Char('0')),
                         QByteArray::number(i));
        return out;
    }
    // Each "Progress" shows its own file's picture, each thumbnail its copy's.
    void expectPicturesOnTheirFiles(int files)
    {
        const QList<QVariantMap> progress = log.progress();
        ASSERT_EQ(progress.size(), files);
        for (const QVariantMap& p : progress) {
            const QString name = p.value(KPImportKeys::Name).toString();
            EXPECT_EQ(p.value(KPImportKeys::Image).value<QImage>(), pictureOf(name)) << name.toStdString();
        }
        std::lock_guard lock(seams.mutex);
        ASSERT_EQ(seams.thumbs.size(), files);
        for (auto it = seams.thumbs.cbegin(); it != seams.thumbs.cend(); ++it)
            EXPECT_EQ(it.value(), pictureOf(it.key())) << it.key().toStdString();
    }
    int window() const { return KPPreviewPrefetcher::defaultWorkerCount() * KPPreviewPrefetcher::kWindowPerWorker; }

    PictureSeams seams;
};

} // namespace

TEST_F(ImportPreviewAheadTest, FlatAndHierarchicalImportsPutEveryPreviewOnItsOwnFile)
{
    writeFiles(QStringLiteral("flat"), 40);
    {
        KPFileImportQueue queue;
        ASSERT_TRUE(run(queue, make<KPFileImport>({{Paths, QStringList{src(QStringLiteral("flat"))}}})));
    }
    expectPicturesOnTheirFiles(40);
    EXPECT_EQ(log.last().value(KPImportKeys::SuccessCount).toInt(), 40);

    // A tree: files of the top folder, then of the folder below it, in the walk's order.
    log.statuses.clear();
    log.order.clear();
    {
        std::lock_guard lock(seams.mutex);
        seams.thumbs.clear();
    }
    writeFiles(QStringLiteral("tree"), 15);
    writeFiles(QStringLiteral("tree/sub"), 15);
    KPFileImportQueue queue;
    ASSERT_TRUE(run(queue, make<KPFileFolderImport>({{Paths, QStringList{src(QStringLiteral("tree"))}}})));
    expectPicturesOnTheirFiles(30);
    EXPECT_EQ(log.last().value(KPImportKeys::SuccessCount).toInt(), 30);
}

TEST_F(ImportPreviewAheadTest, APausedImportRendersOneWindowAheadAndAThrownAwayOneLeavesNothingRunning)
{
    writeFiles(QStringLiteral("many"), 60);
    KPFileImportQueue queue;
    CopyGate gate(3);
    queue.addOperation(make<KPFileImport>({{Paths, QStringList{src(QStringLiteral("many"))}}}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.arrived(); }));
    ASSERT_FALSE(queue.pauseImport());
    gate.release();
    // Paused before file 4: previews of files 1-3 and at most one window beyond file 3.
    EXPECT_FALSE(testsupport::spinUntil([&] { return seams.calls > 3 + window(); }, 200));

    queue.deleteImported();
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    EXPECT_EQ(log.count(KPImportKeys::DeleteImported), 1);
    EXPECT_EQ(log.progress().size(), 3);
    const int made = seams.calls.load();
    EXPECT_LE(made, 3 + window());
    EXPECT_TRUE(dayFolderNames().isEmpty());
    EXPECT_EQ(thumbnailCount(), 0);
    // Nothing of the import runs on: no preview, no file, no thumbnail appears later.
    EXPECT_FALSE(testsupport::spinUntil([&] {
        return seams.calls != made || !dayFolderNames().isEmpty() || thumbnailCount() != 0;
    }, 200));
}

TEST_F(ImportPreviewAheadTest, ACancelledHierarchicalImportKeepsWhatItCopiedAndStopsLookingAhead)
{
    writeFiles(QStringLiteral("top"), 20);
    writeFiles(QStringLiteral("top/below"), 20);
    auto queue = std::make_unique<KPFileImportQueue>();
    CopyGate gate(5);
    queue->addOperation(make<KPFileFolderImport>({{Paths, QStringList{src(QStringLiteral("top"))}}}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.arrived(); }));
    ASSERT_FALSE(queue->pauseImport());
    gate.release();
    // Quit while paused: the import stores the five files it copied.
    ASSERT_TRUE(queue->finishImportsForQuit());
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished(); }));
    queue.reset();
    EXPECT_EQ(log.last().value(KPImportKeys::SuccessCount).toInt(), 5);
    EXPECT_EQ(dayFolderNames().size(), 5);
    const int made = seams.calls.load();
    EXPECT_LE(made, 5 + window());
    EXPECT_FALSE(testsupport::spinUntil([&] {
        return seams.calls != made || dayFolderNames().size() != 5 || thumbnailCount() != 5;
    }, 200));
}

// The program's own previews of PDFs, each page a colour and words of its own, between text
// files that are quick to preview so that workers and the import thread overtake each other.
class ImportRealPreviewTest : public ImportFixture {
protected:
    void writeDocuments(int count)
    {
        for (int i = 0; i < count; ++i) {
            const QString name = src(QStringLiteral("docs/doc%1").arg(i, 2, 10, QLatin1Char('0')));
            QDir().mkpath(QFileInfo(name).path());
            {
                QPdfWriter writer(name + QStringLiteral(".pdf"));
                QPainter painter(&writer);
                painter.fillRect(QRect(0, 0, writer.width(), writer.height() / 3), QColor::fromHsv(i * 23 % 360, 200, 220));
                painter.drawText(QRect(0, writer.height() / 2, writer.width(), writer.height() / 2), Qt::TextWordWrap,
                                 QStringLiteral("Document %1 ").arg(i).repeated(40));
            }
            write(QStringLiteral("docs/doc%1.txt").arg(i, 2, 10, QLatin1Char('0')), "notes " + QByteArray::number(i));
        }
    }
    // The preview shown for each file, by file name.
    QHash<QString, QImage> importWith(int previewWorkers)
    {
        log.statuses.clear();
        log.order.clear();
        auto op = make<KPFileImport>({{Paths, QStringList{src(QStringLiteral("docs"))}}});
        KPImportOperation::Environment environment{library.get(), store, &formats};
        environment.previewWorkers = previewWorkers;
        op->setEnvironment(environment);
        KPFileImportQueue queue;
        EXPECT_TRUE(run(queue, op));
        QHash<QString, QImage> previews;
        for (const QVariantMap& p : log.progress())
            previews.insert(QFileInfo(p.value(KPImportKeys::Name).toString()).fileName(), p.value(KPImportKeys::Image).value<QImage>());
        return previews;
    }
};

TEST_F(ImportRealPreviewTest, FourPreviewThreadsShowWhatOneShows)
{
    writeDocuments(12);
    const QHash<QString, QImage> one = importWith(1);
    const QHash<QString, QImage> four = importWith(4);
    ASSERT_EQ(one.size(), 24);
    EXPECT_EQ(store->flatRecords.size(), 24);
    for (auto it = one.cbegin(); it != one.cend(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        if (it.key().endsWith(QLatin1String(".pdf"))) {
            EXPECT_FALSE(isTemplateImage(it.value())) << "a page, not the icon of the kind";
        }
        EXPECT_EQ(four.value(it.key()), it.value());
    }
}

// The thumbnail and the metadata are made on the preview threads and used later by the import
// thread: each file's thumbnail must still be its own preview, as the library encodes it, and
// each record its own file's tags and rating.
TEST_F(ImportRealPreviewTest, EachThumbnailAndRecordHoldTheirOwnFilesPreparedData)
{
    writeDocuments(12);
    const QString docs = src(QStringLiteral("docs"));
    const QStringList names = QDir(docs).entryList(QDir::Files, QDir::Name);
    for (int i = 0; i < names.size(); ++i) {
        const QString path = docs + QLatin1Char('/') + names[i];
        ASSERT_TRUE(TagMeta::setUserTags(QStringList{names[i]}, path).has_value());
        ASSERT_TRUE(TagMeta::setRating(i % 5 + 1, path).has_value());
    }
    const QHash<QString, QImage> shown = importWith(4);
    ASSERT_EQ(store->flatRecords.size(), 24);
    for (const QVariant& entry : store->flatRecords) {
        const QVariantMap record = entry.toMap();
        const QString name = QFileInfo(record.value(KPImportKeys::Original).toString()).fileName();
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(record.value(KPImportKeys::Tags).toStringList(), QStringList{name});
        EXPECT_EQ(record.value(KPImportKeys::Rate).toInt(), names.indexOf(name) % 5 + 1);
        QFile thumb(library->CombinFileAbsolutePath(record.value(KPImportKeys::Thumb).toString()));
        ASSERT_TRUE(thumb.open(QIODevice::ReadOnly));
        const auto expected = KPLibraryFileManager::encodeThumbnail(shown.value(name));
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(thumb.readAll(), *expected);
    }
}

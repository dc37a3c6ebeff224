#include "../Search/LibraryFixture.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBRecent.h"
#include "Tools/MergePDFWindowController.h"
#include "Tools/PDFMerge.h"
#include "Utilities/SystemHelpers.h"
#include "Utilities/WrittenPdf.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QWidget>

#include <csignal>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

using platform::kit::VirtualScheduler;

namespace {

const QString kFailureText = QStringLiteral("Sorry the merge is failed, please try it again.");

// Inputs made here: plain PDFs by Qt, encrypted ones by qpdf, and files that are no PDF.
class MergeInputs {
public:
    QString folder = testsupport::makeTempDir(QStringLiteral("inputs"));

    QString pdf(const QString& name, int pages, QPageSize::PageSizeId size = QPageSize::A4)
    {
        const QString path = folder + QLatin1Char('/') + name;
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(size));
        QPainter painter(&writer);
        for (int i = 0; i < pages; ++i) {
            if (i > 0)
                writer.newPage();
            painter.drawText(200, 200, QStringLiteral("%1, page %2").arg(name).arg(i + 1));
        }
        painter.end();
        return path;
    }
    // userPassword empty: only an owner password protects it, and it opens without asking.
    QString encrypted(const QString& name, int pages, const char* userPassword)
    {
        const QString plain = pdf(QStringLiteral("plain-") + name, pages);
        const QString path = folder + QLatin1Char('/') + name;
        QPDF source;
        source.processFile(QFile::encodeName(plain).constData());
        // The writer keeps the name's pointer until it writes: the bytes must outlive it.
        const QByteArray target = QFile::encodeName(path);
        QPDFWriter writer(source, target.constData());
        writer.setR6EncryptionParameters(userPassword, "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
        writer.write();
        return path;
    }
    QString bytes(const QString& name, const QByteArray& content)
    {
        const QString path = folder + QLatin1Char('/') + name;
        testsupport::writeFile(path, content);
        return path;
    }
};

int pageCount(const QString& path) { return int(WrittenPdf::pageCount(path)); }

// What the merges left in the temporary folder.
QStringList temporaryLeftovers()
{
    return QDir(temporaryFolder()).entryList(QDir::Files | QDir::Hidden);
}

void clearTemporaryFolder()
{
    for (const QString& name : temporaryLeftovers())
        QFile::remove(temporaryFolder() + QLatin1Char('/') + name);
}

bool waitForMerges()
{
    return testsupport::spinUntil([] { return PDFMerge::mergesInFlight() == 0; });
}

class PDFMergeTest : public ::testing::Test {
protected:
    void SetUp() override { clearTemporaryFolder(); }
    MergeInputs inputs;
};

class MergePDFWindowControllerTest : public libraryfixture::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        clearTemporaryFolder();
        mainWindow.resize(800, 600);
        mainWindow.show();
    }

    // Begins the sheet and starts the merge as the main window does.
    MergePDFWindowController* start(const QStringList& paths, const DBNode& node = {}, const QList<DBTag>& tags = {})
    {
        auto* controller = new MergePDFWindowController(paths, node, tags);
        controller->setDataBaseEngine(engine.get());
        controller->beginSheet(&mainWindow);
        controller->mergePDFWithCompletedBlock([this] { ++completions; });
        return controller;
    }
    // Lets the merge finish and its pause pass.
    void finishMerge()
    {
        ASSERT_TRUE(waitForMerges());
        clock.advance(PDFMerge::kCompletionPauseMs);
    }
    QList<DBFileInfo> documents()
    {
        return DBRecord::recordsOf<DBFileInfo>(engine->queryRecordByName(DBFileInfo::entityName()).value_or(QList<platform::ManagedObjectPtr>()));
    }
    bool sheetShown() { return platform::kit::Sheet::shownSheet(&mainWindow) != nullptr; }
    static bool deleted(const QPointer<MergePDFWindowController>& controller)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return controller.isNull();
    }

    VirtualScheduler clock;
    QWidget mainWindow;
    MergeInputs inputs;
    int completions = 0;
};

} // namespace

TEST_F(PDFMergeTest, PagesOfTheReadableUnencryptedInputsInOrderUnderTheFirstName)
{
    const QStringList paths{inputs.pdf(QStringLiteral("Invoice.2024.pdf"), 2),
                            inputs.encrypted(QStringLiteral("locked.pdf"), 4, "secret"),
                            inputs.encrypted(QStringLiteral("owner-only.pdf"), 1, ""),
                            inputs.bytes(QStringLiteral("damaged.pdf"), "%PDF-1.7\n1 0 obj << /Type /Pages /Kids [2 0 R"),
                            inputs.bytes(QStringLiteral("text.pdf"), QByteArray(5000, 'x')),
                            inputs.folder + QStringLiteral("/missing.pdf"),
                            inputs.pdf(QStringLiteral("last.pdf"), 3, QPageSize::Letter)};
    PDFMerge merge(paths);
    const QString merged = merge.mergeWaitUntilDone(true);
    EXPECT_EQ(merged, temporaryFolder() + QStringLiteral("/Invoice.2024(merge).pdf"));
    EXPECT_EQ(pageCount(merged), 5);
    EXPECT_EQ(temporaryLeftovers(), QStringList{QStringLiteral("Invoice.2024(merge).pdf")});

    // The pages keep their order: the first input's two (A4), then the last input's three (Letter).
    QPDF result;
    result.processFile(QFile::encodeName(merged).constData());
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(result).getAllPages();
    ASSERT_EQ(pages.size(), 5u);
    QList<int> widths;
    for (QPDFPageObjectHelper& page : pages)
        widths << qRound(page.getMediaBox().getArrayItem(2).getNumericValue());
    EXPECT_EQ(widths, (QList<int>{595, 595, 612, 612, 612}));
}

TEST_F(PDFMergeTest, TheResultHasTheUsualModeOfNewFiles)
{
    const mode_t mask = ::umask(022);
    const QString merged = PDFMerge({inputs.pdf(QStringLiteral("a.pdf"), 1)}).mergeDocuments();
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(merged).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// A disk that fills up during the write (a file-size cap stands in for it, in a child process
// so that the cap binds nothing else): the merge answers no result and leaves no file.
TEST_F(PDFMergeTest, AWriteCutShortIsNoResult)
{
    testsupport::ChildProcess child({QStringLiteral("--gtest_also_run_disabled_tests"),
                                     QStringLiteral("--gtest_filter=PDFMergeChild.DISABLED_MergesUnderAFileSizeCap")});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitForFinished());
    const QByteArray output = child.standardOutput() + child.standardError();
    EXPECT_TRUE(child.exitedNormally() && child.exitCode() == 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}

TEST(PDFMergeChild, DISABLED_MergesUnderAFileSizeCap)
{
    // Past the cap the kernel would otherwise end the process instead of failing the write.
    std::signal(SIGXFSZ, SIG_IGN);
    MergeInputs inputs;
    const QStringList paths{inputs.pdf(QStringLiteral("first.pdf"), 3), inputs.pdf(QStringLiteral("second.pdf"), 2)};
    const QString whole = PDFMerge(paths).mergeDocuments();
    ASSERT_EQ(pageCount(whole), 5);
    const qint64 size = QFileInfo(whole).size();
    QFile::remove(whole);
    rlimit original {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
    for (const qint64 shortBy : {16, 500, 3000}) {
        ASSERT_GT(size, shortBy);
        rlimit capped = original;
        capped.rlim_cur = rlim_t(size - shortBy);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &capped), 0);
        const QString merged = PDFMerge(paths).mergeDocuments();
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &original), 0);
        EXPECT_TRUE(merged.isNull()) << "short by " << shortBy << ": " << qPrintable(merged) << " " << size << " " << QFileInfo(merged).size();
        EXPECT_TRUE(temporaryLeftovers().isEmpty()) << "short by " << shortBy;
        clearTemporaryFolder();
    }
}

TEST_F(PDFMergeTest, OnlyBadInputsGiveNoFileAtAll)
{
    const QStringList bad{inputs.encrypted(QStringLiteral("locked.pdf"), 2, "secret"),
                          inputs.bytes(QStringLiteral("empty.pdf"), QByteArray()),
                          inputs.bytes(QStringLiteral("header.pdf"), "%PDF-1.4\n%%EOF\n")};
    EXPECT_TRUE(PDFMerge(bad).mergeDocuments().isNull());
    EXPECT_TRUE(PDFMerge({}).mergeDocuments().isNull());
    PDFMerge cancelled({inputs.pdf(QStringLiteral("a.pdf"), 1)});
    cancelled.setIsCancel(true);
    cancelled.setIsCancel(false); // never cleared
    EXPECT_TRUE(cancelled.mergeDocuments().isNull());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
}

TEST_F(PDFMergeTest, TheResultComesASecondAfterTheMergeAndACancelDeletesIt)
{
    VirtualScheduler clock;
    QStringList delivered;
    {
        PDFMerge merge({inputs.pdf(QStringLiteral("a.pdf"), 1), inputs.pdf(QStringLiteral("b.pdf"), 1)});
        merge.setCompletedBlock([&](const QString& path) { delivered << path; });
        EXPECT_TRUE(merge.mergeWaitUntilDone(false).isNull());
        ASSERT_TRUE(waitForMerges());
        clock.advance(PDFMerge::kCompletionPauseMs - 1);
        EXPECT_TRUE(delivered.isEmpty());
        clock.advance(1);
        ASSERT_EQ(delivered.size(), 1);
        EXPECT_EQ(pageCount(delivered.first()), 2);
    }
    clearTemporaryFolder();

    // Cancelled while the written file waits for the pause: nil, and the file is gone.
    PDFMerge cancelled({inputs.pdf(QStringLiteral("c.pdf"), 1)});
    cancelled.setCompletedBlock([&](const QString& path) { delivered << path; });
    cancelled.mergeWaitUntilDone(false);
    ASSERT_TRUE(waitForMerges());
    EXPECT_EQ(temporaryLeftovers(), QStringList{QStringLiteral("c(merge).pdf")});
    cancelled.setIsCancel(true);
    clock.advance(PDFMerge::kCompletionPauseMs);
    ASSERT_EQ(delivered.size(), 2);
    EXPECT_TRUE(delivered.last().isNull());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());

    // Destroyed during the pause: no call, no file.
    {
        PDFMerge dropped({inputs.pdf(QStringLiteral("d.pdf"), 1)});
        dropped.setCompletedBlock([&](const QString& path) { delivered << path; });
        dropped.mergeWaitUntilDone(false);
        ASSERT_TRUE(waitForMerges());
    }
    clock.advance(PDFMerge::kCompletionPauseMs);
    EXPECT_EQ(delivered.size(), 2);
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
}

TEST_F(MergePDFWindowControllerTest, TheMergedDocumentJoinsTheLibraryInItsFolderWithEachTagOnce)
{
    DBNode folder = engine->createDBNode();
    DBTag red = engine->createTagByContext(QStringLiteral("Red"));
    DBTag blue = engine->createTagByContext(QStringLiteral("Blue"));
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    const QStringList paths{inputs.pdf(QStringLiteral("Invoice.pdf"), 2),
                            inputs.encrypted(QStringLiteral("locked.pdf"), 3, "pw"),
                            inputs.pdf(QStringLiteral("Receipt.pdf"), 3)};
    QPointer<MergePDFWindowController> controller = start(paths, folder, {red, blue, red, DBTag()});
    EXPECT_TRUE(sheetShown());
    ASSERT_TRUE(waitForMerges());
    clock.advance(PDFMerge::kCompletionPauseMs - 1);
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_FALSE(controller->outlets().hintView->isVisible());
    clock.advance(1);

    EXPECT_TRUE(controller->outlets().hintView->isVisible());
    EXPECT_FALSE(controller->outlets().workView->isVisible());
    EXPECT_NE(controller->outlets().txtHint->text(), kFailureText);
    EXPECT_EQ(completions, 0); // only the finish button runs the block
    const QList<DBFileInfo> docs = documents();
    ASSERT_EQ(docs.size(), 1);
    const DBFileInfo doc = docs.first();
    EXPECT_EQ(doc.title(), QStringLiteral("Invoice(merge)"));
    EXPECT_EQ(doc.pathExtension(), QStringLiteral("pdf"));
    EXPECT_FALSE(doc.isIndex());
    EXPECT_TRUE(doc.path().startsWith(QStringLiteral("/Documents/")));
    EXPECT_EQ(pageCount(DBHelper::CombinFileAbsolutePath(doc)), 5);
    EXPECT_TRUE(QFileInfo::exists(DBHelper::CombinThumbAbsolutePath(doc)));
    EXPECT_EQ(doc.node(), folder);
    EXPECT_EQ(doc.tags().size(), 2);
    EXPECT_EQ(red.fileInfos().size(), 1);
    EXPECT_EQ(doc.recent().type(), 0);
    EXPECT_TRUE(doc.recent().date().isValid());
    EXPECT_EQ(doc.metadata().comment(), QStringLiteral(""));
    EXPECT_TRUE(doc.metadata().from().isEmpty());
    EXPECT_TRUE(doc.metadata().dateImported().isValid());
    EXPECT_GT(doc.metadata().fileSize(), 0);
    EXPECT_FALSE(engine->context()->hasChanges());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());

    controller->outlets().btnFinished->click();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(sheetShown());
    EXPECT_TRUE(deleted(controller));
}

TEST_F(MergePDFWindowControllerTest, WithoutAFolderOrTagsTheDocumentHasNeither)
{
    QPointer<MergePDFWindowController> controller = start({inputs.pdf(QStringLiteral("one.pdf"), 1)});
    finishMerge();
    ASSERT_EQ(documents().size(), 1);
    EXPECT_FALSE(documents().first().node());
    EXPECT_TRUE(documents().first().tags().isEmpty());
    controller->outlets().btnFinished->click();
    EXPECT_EQ(completions, 1);
}

TEST_F(MergePDFWindowControllerTest, FailuresShowTheHintAndMakeNoRecord)
{
    // Nothing to merge.
    QPointer<MergePDFWindowController> controller =
        start({inputs.bytes(QStringLiteral("bad.pdf"), "not a pdf"), inputs.encrypted(QStringLiteral("e.pdf"), 1, "pw")});
    finishMerge();
    EXPECT_TRUE(controller->outlets().hintView->isVisible());
    EXPECT_EQ(controller->outlets().txtHint->text(), kFailureText);
    controller->outlets().btnFinished->click();
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(deleted(controller));

    // A library whose day folder cannot be made: the move fails, the merged file goes.
    const QString broken = testsupport::makeTempDir(QStringLiteral("broken"));
    testsupport::writeFile(broken + QStringLiteral("/Documents"), "a file where the folder should be");
    KPLibraryFileManager brokenFiles(broken);
    controller = start({inputs.pdf(QStringLiteral("two.pdf"), 2)});
    controller->setLibraryFileManager(&brokenFiles);
    finishMerge();
    EXPECT_EQ(controller->outlets().txtHint->text(), kFailureText);
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
    EXPECT_TRUE(QDir(broken + QStringLiteral("/Thumbnail")).isEmpty());
}

TEST_F(MergePDFWindowControllerTest, ASaveTheStoreRefusesTakesTheDocumentBackOut)
{
    // The next document record the store is asked to write fails, as on a full disk.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(library + QStringLiteral("/library.db")).constData(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON t_DBFileInfo BEGIN SELECT RAISE(ABORT, 'disk is full'); END;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    QPointer<MergePDFWindowController> controller = start({inputs.pdf(QStringLiteral("two.pdf"), 2)});
    controller->setPreviewProvider([](const QString&, const QSize&) {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        return image;
    });
    finishMerge();
    EXPECT_EQ(controller->outlets().txtHint->text(), kFailureText);
    EXPECT_TRUE(documents().isEmpty());
    // Nothing of it waits in the context for a later save either.
    EXPECT_TRUE(engine->writeToDiskAndWait());
    EXPECT_TRUE(QDir(library + QStringLiteral("/Thumbnail")).isEmpty());
    QStringList stored;
    QDirIterator it(library + QStringLiteral("/Documents"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        stored << it.next();
    EXPECT_TRUE(stored.isEmpty()) << qPrintable(stored.join(QLatin1Char(',')));
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
}

TEST_F(MergePDFWindowControllerTest, ACancelDuringOrAfterTheWriteLeavesNothing)
{
    // At once: the sheet goes, the merge still running is dropped with its file.
    QPointer<MergePDFWindowController> controller = start({inputs.pdf(QStringLiteral("a.pdf"), 3)});
    controller->outlets().btnCancel->click();
    EXPECT_FALSE(sheetShown());
    EXPECT_TRUE(deleted(controller));
    finishMerge();
    clock.advance(PDFMerge::kCompletionPauseMs);
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());

    // After the write, while the result waits.
    controller = start({inputs.pdf(QStringLiteral("b.pdf"), 1)});
    ASSERT_TRUE(waitForMerges());
    EXPECT_EQ(temporaryLeftovers(), QStringList{QStringLiteral("b(merge).pdf")});
    controller->outlets().btnCancel->click();
    EXPECT_TRUE(deleted(controller));
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
    clock.advance(PDFMerge::kCompletionPauseMs);
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_EQ(completions, 0);

    // The main window going away counts as a cancel.
    auto* window = new QWidget;
    window->show();
    auto* orphan = new MergePDFWindowController({inputs.pdf(QStringLiteral("c.pdf"), 1)}, {}, {});
    controller = orphan;
    orphan->setDataBaseEngine(engine.get());
    orphan->beginSheet(window);
    orphan->mergePDFWithCompletedBlock([this] { ++completions; });
    delete window;
    EXPECT_TRUE(deleted(controller));
    finishMerge();
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
    EXPECT_EQ(completions, 0);
}

TEST_F(MergePDFWindowControllerTest, AResultArrivingAfterTheWindowWentTouchesNothingOfIt)
{
    // The window takes the sheet's widgets with it; the controller lingers until its deferred
    // deletion, and the merge's result may be posted before that.
    auto* window = new QWidget;
    window->show();
    QPointer<MergePDFWindowController> controller = new MergePDFWindowController({inputs.pdf(QStringLiteral("c.pdf"), 2)}, {}, {});
    controller->setDataBaseEngine(engine.get());
    controller->beginSheet(window);
    controller->mergePDFWithCompletedBlock([this] { ++completions; });
    delete window;
    finishMerge();
    EXPECT_TRUE(deleted(controller));
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
    EXPECT_EQ(completions, 0);
}

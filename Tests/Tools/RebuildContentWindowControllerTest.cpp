#include "../Search/LibraryFixture.h"
#include "Store/DBHelper.h"
#include "Tools/RebuildContentWindowController.h"
#include "Search/KPIndexLibraryStore.h"
#include "Search/KPIndexManager.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QStackedWidget>
#include <unistd.h>

namespace {

const QByteArray kOldThumb = "old thumbnail";

class RebuildContentWindowControllerTest : public libraryfixture::LibraryTest {
protected:
    QByteArray thumb(const DBFileInfo& file) const { return testsupport::readFile(DBHelper::CombinThumbAbsolutePath(file)); }
    QImage picture(const DBFileInfo& file) const { return QImage::fromData(thumb(file)); }
    QStringList thumbnailFolder() const { return QDir(files->thumbFolder()).entryList(QDir::Files | QDir::Hidden); }

    // Runs the selection sheet over docs to its completion; answers how often it completed.
    int runSheet(const QList<DBFileInfo>& docs, KPThumbnailRebuilder::PreviewProvider provider = {})
    {
        QWidget mainWindow;
        mainWindow.show();
        QList<platform::ObjectID> ids;
        for (const DBFileInfo& doc : docs)
            ids.append(doc.objectID());
        int completions = 0;
        auto* controller = new RebuildContentWindowController(ids, [&] { ++completions; }, &mainWindow);
        if (provider)
            controller->setPreviewProvider(provider);
        QPointer<QDialog> window = controller->window();
        controller->beginSheet();
        EXPECT_EQ(window->window(), &mainWindow) << "the form hangs in the window as a sheet";
        EXPECT_TRUE(testsupport::spinUntil([&] { return completions > 0; }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        EXPECT_TRUE(window.isNull()); // the sheet closed and took its controller with it
        return completions;
    }
};

TEST_F(RebuildContentWindowControllerTest, RebuildNeedsAtLeastOneBoxAndTaggedButtonsClose)
{
    RebuildContentWindowController controller;
    const RebuildContentOutlets& ui = controller.outlets();
    ui.btnPreviewChecker->setChecked(false);
    EXPECT_TRUE(ui.btnRebuild->isEnabled());
    ui.btnIndexChecker->setChecked(false);
    EXPECT_FALSE(ui.btnRebuild->isEnabled());
    ui.btnIndexChecker->click();
    EXPECT_TRUE(ui.btnRebuild->isEnabled());

    controller.window()->show();
    controller.btnCancel(3);
    EXPECT_TRUE(controller.window()->isVisible());
    ui.btnClose->click();
    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_FALSE(controller.isCancel());
}

TEST_F(RebuildContentWindowControllerTest, SelectedDocumentsGetNewThumbnailsUnderTheSameNames)
{
    QList<DBFileInfo> docs;
    for (const char* name : {"one.txt", "two.txt", "three.txt"})
        docs.append(addDocument(name, "some text to draw on the page"));
    const DBFileInfo other = addDocument("other.txt", "not selected");
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    const QStringList before = thumbnailFolder();

    EXPECT_EQ(runSheet(docs), 1);
    for (const DBFileInfo& doc : docs) {
        EXPECT_FALSE(picture(doc).isNull()) << qPrintable(doc.thumbPath());
        EXPECT_LE(std::max(picture(doc).width(), picture(doc).height()), 512);
    }
    EXPECT_EQ(thumb(other), kOldThumb);
    EXPECT_EQ(thumbnailFolder(), before); // same names, no temporary files left
}

TEST_F(RebuildContentWindowControllerTest, AMissingFileGetsTheFallbackPicture)
{
    const DBFileInfo doc = addDocument("lost.pdf", "%PDF-1.4");
    const QString path = DBHelper::CombinFileAbsolutePath(doc);
    ASSERT_TRUE(QFile::remove(path));
    const QImage fallback = KPThumbnailRebuilder::defaultPreviewProvider()(path, QSize(512, 512));
    ASSERT_FALSE(fallback.isNull());

    EXPECT_EQ(runSheet({doc}), 1);
    // An icon has transparency, so it went through PNG unchanged.
    EXPECT_EQ(picture(doc).convertToFormat(QImage::Format_ARGB32), fallback.convertToFormat(QImage::Format_ARGB32));
}

TEST_F(RebuildContentWindowControllerTest, AThumbnailThatCannotBeRenewedStaysWhole)
{
    const DBFileInfo doc = addDocument("a.txt", "text");
    EXPECT_EQ(runSheet({doc}, [](const QString&, const QSize&) { return QImage(); }), 1);
    EXPECT_EQ(thumb(doc), kOldThumb);

    // A write that fails (here: a read-only folder) leaves the old file as it was.
    if (::geteuid() == 0)
        return;
    QFile::setPermissions(files->thumbFolder(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const auto replaced = KPThumbnailRebuilder::replaceThumbnail(DBHelper::CombinThumbAbsolutePath(doc), QImage(4, 4, QImage::Format_RGB32));
    QFile::setPermissions(files->thumbFolder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(replaced.has_value());
    EXPECT_EQ(thumb(doc), kOldThumb);
}

TEST_F(RebuildContentWindowControllerTest, CancellingTheLibraryRebuildLeavesTheRemainingThumbnails)
{
    QList<DBFileInfo> docs;
    for (int i = 0; i < 5; ++i)
        docs.append(addDocument(QStringLiteral("d%1.txt").arg(i), "text"));
    ASSERT_TRUE(KPContextHelper::save(engine->context()));

    RebuildContentWindowController controller;
    bool completed = false;
    controller.setCompletedBlock([&] { completed = true; });
    std::atomic<int> made{0};
    controller.setPreviewProvider([&](const QString&, const QSize& size) {
        if (++made == 2)
            platform::DispatchQueue::main().sync([&] { controller.outlets().btnStop->click(); });
        QImage red(size, QImage::Format_RGB32);
        red.fill(Qt::red);
        return red;
    });
    controller.outlets().btnIndexChecker->setChecked(false);
    controller.window()->show();
    controller.outlets().btnRebuild->click();
    EXPECT_EQ(controller.outlets().pages->currentWidget(), controller.outlets().viewBuilding);
    ASSERT_TRUE(testsupport::spinUntil([&] { return completed; }));

    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_EQ(made.load(), 2);
    EXPECT_EQ(std::count_if(docs.begin(), docs.end(), [&](const DBFileInfo& d) { return thumb(d) == kOldThumb; }), 3);
}

TEST_F(RebuildContentWindowControllerTest, TheLibraryRebuildRenewsIndexAndPreviewsButNotTheTrash)
{
    const DBFileInfo doc = addDocument("a.txt", "wombat");
    const DBFileInfo binned = addDocument("b.txt", "binned", true);
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    KPIndexManager manager(files->contentIndexFile(), std::make_shared<KPIndexLibraryStore>());
    manager.buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(doc) >= 1; }));
    const qint64 oldID = state(doc);

    RebuildContentWindowController controller;
    controller.setIndexManager(&manager);
    bool completed = false;
    controller.setCompletedBlock([&] { completed = true; });
    controller.window()->show();
    controller.btnRebuild();
    ASSERT_TRUE(testsupport::spinUntil([&] { return completed; }));

    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_FALSE(picture(doc).isNull());
    EXPECT_EQ(thumb(binned), kOldThumb);
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(doc) > oldID; }));
}

TEST_F(RebuildContentWindowControllerTest, OpenedWindowIsApplicationModalAndTakesItsControllerWhenItCloses)
{
    QWidget mainWindow;
    mainWindow.show();
    QPointer<RebuildContentWindowController> controller = RebuildContentWindowController::openLibraryWindow(&mainWindow);
    ASSERT_TRUE(controller);
    QPointer<QDialog> window = controller->window();
    // No nested loop: the call has come back with the window still up.
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(QApplication::activeModalWidget(), window.data());
    controller->open();   // a second open changes nothing
    controller->outlets().btnClose->click();
    EXPECT_TRUE(testsupport::spinUntil([&] { return controller.isNull() && window.isNull(); }));
}

TEST_F(RebuildContentWindowControllerTest, ClosingTheOpenedWindowMidRebuildStillCompletesOnce)
{
    for (int i = 0; i < 4; ++i)
        addDocument(QStringLiteral("d%1.txt").arg(i), "text");
    ASSERT_TRUE(KPContextHelper::save(engine->context()));

    QPointer<RebuildContentWindowController> controller = RebuildContentWindowController::openLibraryWindow(nullptr);
    int completions = 0;
    controller->setCompletedBlock([&] { ++completions; });
    std::atomic<int> made{0};
    controller->setPreviewProvider([&](const QString&, const QSize& size) {
        // The user stops it half-way: the window closes and takes the controller along.
        if (++made == 2)
            platform::DispatchQueue::main().sync([&] { controller->outlets().btnStop->click(); });
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        return picture;
    });
    controller->outlets().btnIndexChecker->setChecked(false);
    controller->outlets().btnRebuild->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return completions == 1 && controller.isNull(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(made.load(), 2);
}

} // namespace

#include "../Content/ContentFixtures.h"

#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Preview/PreviewPanel.h"
#include "Support/TestSupport.h"

#include <QPdfDocument>
#include <QPdfView>
#include <QApplication>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace platform;
using namespace contentfixtures;
using testsupport::spinUntil;
using testsupport::writeFile;

namespace {

// The window's partner: a list of items, a rectangle to zoom from, and the keys it was offered.
class FakeSource : public PreviewPanelDataSource, public PreviewPanelDelegate {
public:
    qint64 numberOfPreviewItemsInPreviewPanel(PreviewPanel*) override { return items.size(); }
    std::optional<PreviewItem> previewPanelPreviewItemAtIndex(PreviewPanel*, qint64 index) override
    {
        if (index < 0 || index >= items.size() || items[index].path.isEmpty())
            return std::nullopt;
        return items[index];
    }
    QRect previewPanelSourceFrameOnScreenForPreviewItem(PreviewPanel*, qint64) override { return sourceFrame; }
    bool previewPanelHandleEvent(PreviewPanel*, QKeyEvent* event) override
    {
        keys.append(event->key());
        return event->key() == Qt::Key_Down || event->key() == Qt::Key_Right;
    }

    QList<PreviewItem> items;
    QRect sourceFrame;
    QList<int> keys;
};

class PreviewPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        writePdf(path("three.pdf"), {"one", "two", "three"});
        writeFile(path("notes.txt"), "first line\nsecond line\n");
        writeFile(path("broken.pdf"), "%PDF-1.4 nothing else");
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        writeFile(path("picture.png"), pngBytes(picture));
        panel.setDataSource(&source);
        panel.setDelegate(&source);
    }

    QString path(const QString& name) const { return dir + QLatin1Char('/') + name; }
    PreviewItem item(const QString& name, const QString& title) { return PreviewItem{path(name), title, {}, {}}; }
    bool settled() { return !panel.isLoading() && panel.shownKind().has_value(); }

    QString dir = testsupport::makeTempDir(QStringLiteral("panel"));
    FakeSource source;
    kit::AnimationPolicy instant{kit::AnimationPolicy::Mode::Instant};
    kit::AnimationPolicy::Scope instantScope{instant};
    PreviewPanel panel;
};

} // namespace

TEST_F(PreviewPanelTest, ShowsEachItemAndFollowsTheSource)
{
    source.items = {item("three.pdf", "Three pages"), item("notes.txt", "Notes"), item("broken.pdf", "Broken")};
    panel.open();
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("Three pages"));
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    ASSERT_EQ(panel.shownKind(), PreviewKind::Pdf);
    ASSERT_TRUE(panel.pdfView()->document());
    EXPECT_EQ(panel.pdfView()->document()->pageCount(), 3);

    panel.setCurrentPreviewItemIndex(1);
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("Notes"));
    EXPECT_EQ(panel.pdfView()->document(), nullptr) << "the last document is let go at once";
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(panel.shownKind(), PreviewKind::Text);
    EXPECT_TRUE(panel.textView()->toPlainText().startsWith("first line"));

    // A reader that fails shows the info page with the reason.
    panel.setCurrentPreviewItemIndex(2);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(panel.shownKind(), PreviewKind::Info);
    EXPECT_TRUE(panel.infoLines().contains(QStringLiteral("Broken")));
    EXPECT_TRUE(panel.infoLines().contains(QStringLiteral("broken.pdf")));

    // The source shrinks under the window: the index follows, and the same item is not reread.
    source.items = {item("notes.txt", "Notes again")};
    panel.reloadData();
    EXPECT_EQ(panel.currentPreviewItemIndex(), 0);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(panel.shownKind(), PreviewKind::Text);
    source.items[0].title = QStringLiteral("Renamed");
    panel.reloadData();
    EXPECT_FALSE(panel.isLoading());
    EXPECT_EQ(panel.shownKind(), PreviewKind::Text);
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("Renamed"));

    // An item the source can no longer give, then none at all: nothing is read.
    source.items = {PreviewItem{}};
    panel.reloadData();
    EXPECT_FALSE(panel.isLoading());
    EXPECT_TRUE(panel.windowTitle().isEmpty());
    source.items.clear();
    panel.reloadData();
    EXPECT_EQ(panel.currentPreviewItemIndex(), -1);
    EXPECT_FALSE(panel.shownKind().has_value());
    panel.setCurrentPreviewItemIndex(3);
    EXPECT_EQ(panel.currentPreviewItemIndex(), -1);
}

TEST_F(PreviewPanelTest, OnlyTheLastOfQuickMovesIsShown)
{
    source.items = {item("three.pdf", "A"), item("picture.png", "B"), item("notes.txt", "C"), item("broken.pdf", "D")};
    panel.open();
    for (int round = 0; round < 5; ++round)
        for (qint64 i : {1, 2, 3, 0, 2})
            panel.setCurrentPreviewItemIndex(i);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    // Reads still under way for the items passed over must not replace this one.
    bool otherShown = false;
    spinUntil([&] {
        otherShown = otherShown || panel.shownKind() != PreviewKind::Text;
        return false;
    }, 300);
    EXPECT_FALSE(otherShown);
    EXPECT_EQ(panel.shownKind(), PreviewKind::Text);
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("C"));
}

TEST_F(PreviewPanelTest, SpaceAndEscCloseAndOtherKeysGoToTheDelegateFirst)
{
    source.items = {item("notes.txt", "Notes")};
    panel.open();
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    QSignalSpy closed(&panel, &PreviewPanel::closed);

    // Keys reach the window also while its text has the focus.
    QTest::keyClick(panel.textView(), Qt::Key_Down);
    QTest::keyClick(panel.textView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(source.keys, (QList<int>{Qt::Key_Down, Qt::Key_C}));
    EXPECT_TRUE(panel.isOpen());

    QTest::keyClick(panel.textView(), Qt::Key_Space);
    EXPECT_FALSE(panel.isOpen());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(panel.shownKind().has_value()) << "a closed window holds no document";

    panel.open();
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(panel.shownKind(), PreviewKind::Text) << "reopening reads the item again";
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isOpen());
    EXPECT_EQ(closed.count(), 2);
}

// Without a window manager the window's own button is the only way out by pointer, and nobody
// else gives the keyboard back to the main window.
TEST_F(PreviewPanelTest, ItsOwnButtonClosesItAndTheKeyboardGoesBackToTheOwner)
{
    source.items = {item("notes.txt", "Notes")};
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    owner.activateWindow();
    ASSERT_TRUE(spinUntil([&] { return QApplication::activeWindow() == &owner; }));
    auto* owned = new PreviewPanel(&owner);
    owned->setDataSource(&source);
    owned->open();
    ASSERT_TRUE(spinUntil([&] { return QApplication::activeWindow() == owned; }));

    ASSERT_TRUE(owned->closeButton()->isVisible());
    EXPECT_EQ(owned->closeButton()->focusPolicy(), Qt::NoFocus) << "Space would press it instead of closing";
    QTest::mouseClick(owned->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(owned->isOpen());
    EXPECT_TRUE(spinUntil([&] { return QApplication::activeWindow() == &owner; }))
        << "active: " << (QApplication::activeWindow() ? qPrintable(QApplication::activeWindow()->objectName()) : "none");

    // Closed while the user works in another window, it leaves that window the keyboard.
    owned->open();
    ASSERT_TRUE(spinUntil([&] { return QApplication::activeWindow() == owned; }));
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(spinUntil([&] { return QApplication::activeWindow() == &elsewhere; }));
    owned->closePanel();
    spinUntil([] { return false; }, 100);
    EXPECT_EQ(QApplication::activeWindow(), &elsewhere);
}

TEST_F(PreviewPanelTest, ZoomsOutOfTheThumbnailOnlyWhenGivenARectangle)
{
    kit::VirtualScheduler clock;
    kit::Scheduler* previous = kit::Scheduler::install(&clock);
    kit::AnimationPolicy animated{kit::AnimationPolicy::Mode::Animated};
    kit::AnimationPolicy::Scope animatedScope{animated};
    source.items = {item("notes.txt", "Notes")};

    // The null rectangle: the window simply appears where it rests.
    panel.open();
    const QRect resting = panel.geometry();
    EXPECT_GT(resting.width(), 200);
    panel.closePanel();

    source.sourceFrame = QRect(30, 40, 64, 48);
    panel.open();
    EXPECT_EQ(panel.geometry(), source.sourceFrame);
    clock.advance(PreviewPanel::kZoomMs / 2);
    EXPECT_NE(panel.geometry(), source.sourceFrame);
    clock.advance(PreviewPanel::kZoomMs);
    EXPECT_EQ(panel.geometry(), resting);

    // Closed in the middle of a zoom, it reopens where the zoom was headed.
    panel.closePanel();
    source.sourceFrame = {};
    panel.open();
    EXPECT_EQ(panel.geometry(), resting);
    kit::Scheduler::install(previous);
}

TEST_F(PreviewPanelTest, AWindowGoneWhileAReadRunsIsNotCalled)
{
    writeFile(path("big.txt"), QByteArray(3 * 1024 * 1024, 'x'));
    for (int i = 0; i < 4; ++i) {
        auto doomed = std::make_unique<PreviewPanel>();
        doomed->setDataSource(&source);
        source.items = {item("big.txt", "Big"), item("three.pdf", "Pdf")};
        doomed->open();
        doomed->setCurrentPreviewItemIndex(1);
    }
    // A window made afterwards still gets its read: the readers were not blocked or broken.
    source.items = {item("notes.txt", "Notes")};
    panel.open();
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(panel.shownKind(), PreviewKind::Text);
}

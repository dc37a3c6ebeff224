#include "MainWindowTestSupport.h"

#include "Browser/ItemViews/KPSectionItemView.h"
#include "Inspector/TagEditorViewController.h"
#include "MainWindow/MainWindowParts.h"

#include <QPushButton>
#include <QTest>

namespace {

using namespace mainwindowtest;

class TagEditorWiringTest : public MainWindowFixture {};

// The three tag popovers of the window (a grid item's, the selection's and the drop import's)
// get the tag editor where the window is composed.
TEST_F(TagEditorWiringTest, EveryTagPopoverOfTheWindowShowsTheTagEditor)
{
    MainWindowController& c = open();
    MainWindowParts& parts = c.parts();

    std::unique_ptr<QWidget> item(KPSectionItemView::services().tagEditor({QStringLiteral("a")}, {}));
    auto* itemEditor = dynamic_cast<TagEditorViewController*>(item.get());
    ASSERT_NE(itemEditor, nullptr);
    EXPECT_EQ(itemEditor->tagObjects(), QStringList{QStringLiteral("a")});
    EXPECT_FALSE(itemEditor->isImportTagModel());

    ASSERT_TRUE(parts.sharing.tagEditor);
    std::unique_ptr<QWidget> selection(parts.sharing.tagEditor({QStringLiteral("b")}, {}));
    ASSERT_NE(dynamic_cast<TagEditorViewController*>(selection.get()), nullptr);

    QList<int> codes;
    ASSERT_TRUE(parts.drops.askImportTags);
    QWidget* anchor = c.context().centerView.data();
    ASSERT_NE(anchor, nullptr);
    parts.drops.askImportTags(anchor, [&](int code, const QStringList&) { codes << code; });
    QPushButton* import = nullptr;
    for (auto* button : anchor->window()->findChildren<QPushButton*>())
        if (button->isVisible() && button->text() == QStringLiteral("Import"))
            import = button;
    ASSERT_NE(import, nullptr);
    ASSERT_NE(dynamic_cast<TagEditorViewController*>(import->parentWidget()), nullptr);
    QTest::mouseClick(import, Qt::LeftButton);
    EXPECT_EQ(codes, QList<int>{1});
}

} // namespace

#include "Browser/CollectionView/KPCollectionView.h"
#include "Controls/KPCoustomStyleLabel.h"
#include "Controls/KPRatingView.h"
#include "Inspector/PropertyViewController.h"
#include "MainWindow/Parts/InspectorPane.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBAuthor.h"
#include "Store/DBTag.h"
#include "Controls/KPTokenEditorView.h"
#include <QApplication>

#include <QLineEdit>

namespace {

using namespace mainwindowtest;

class InspectorPaneTest : public MainWindowFixture {};

// The inspector in the wired window: the grid's selection fills it, and its edits reach the
// window's InspectorEdits and the store.
TEST_F(InspectorPaneTest, TheSelectionFillsThePaneAndItsEditsReachTheStore)
{
    DBFileInfo alpha = addDocument({.title = QStringLiteral("Alpha"), .tags = {QStringLiteral("x")}, .size = 1536});
    addDocument({.title = QStringLiteral("Beta")});
    ASSERT_TRUE(save());
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    InspectorPane& pane = c.parts().inspectorPane;
    ASSERT_EQ(ctx.inspector, &pane);
    ASSERT_TRUE(pane.view());
    EXPECT_EQ(pane.view()->parentWidget(), ctx.inspectorView.data());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));

    c.parts().chrome.setBRightPropertyViewExpand(true);
    PropertyViewController& inspector = pane.controller();
    // The grid lists by title: Alpha first.
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    ASSERT_EQ(inspector.cacheDatas().size(), 1);
    ASSERT_EQ(inspector.labFileName()->title(), QStringLiteral("Alpha"));
    EXPECT_EQ(inspector.labSizeValue()->title(), QStringLiteral("1.50 KB"));

    QTest::mouseClick(inspector.ratingViewValue(), Qt::LeftButton, {}, QPoint(40, 10));
    EXPECT_EQ(alpha.metadata().rate(), 3);
    inspector.onFlagClick(5);
    EXPECT_EQ(alpha.metadata().label(), 5);

    KPCoustomStyleLabel* title = inspector.labFileName();
    QTest::mouseClick(title, Qt::LeftButton, {}, QPoint(20, 10));
    ASSERT_TRUE(title->isEditing());
    title->editField()->setText(QStringLiteral("Alpha renamed"));
    QTest::keyClick(title->editField(), Qt::Key_Return);
    EXPECT_EQ(alpha.title(), QStringLiteral("Alpha renamed"));
    EXPECT_EQ(title->title(), QStringLiteral("Alpha renamed"));
}

// A title being typed belongs to the document shown when the typing began: moving the selection
// to another document ends the edit and renames the first one; the second keeps its title, also
// when the field loses the keyboard afterwards.
TEST_F(InspectorPaneTest, ATitleEditEndsWithTheSelectionAndRenamesTheDocumentItWasTypedFor)
{
    DBFileInfo alpha = addDocument({.title = QStringLiteral("Alpha")});
    DBFileInfo beta = addDocument({.title = QStringLiteral("Beta")});
    ASSERT_TRUE(save());
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));
    c.parts().chrome.setBRightPropertyViewExpand(true);
    PropertyViewController& inspector = c.parts().inspectorPane.controller();
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    KPCoustomStyleLabel* title = inspector.labFileName();
    ASSERT_EQ(title->title(), QStringLiteral("Alpha"));

    QTest::mouseClick(title, Qt::LeftButton, {}, QPoint(20, 10));
    ASSERT_TRUE(title->isEditing());
    title->editField()->setText(QStringLiteral("Alpha renamed"));
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 1));
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    title->editField()->clearFocus();
    QCoreApplication::processEvents();

    EXPECT_FALSE(title->isEditing());
    EXPECT_EQ(alpha.title(), QStringLiteral("Alpha renamed"));
    EXPECT_EQ(beta.title(), QStringLiteral("Beta"));
}

// A comma commits the typed tag or author and stores it; the library then lists its documents again
// with the same selection. Typing goes on in the field: the keys after the comma are the next name's.
TEST_F(InspectorPaneTest, TypingGoesOnInATokenFieldAfterACommaStoresAName)
{
    DBFileInfo alpha = addDocument({.title = QStringLiteral("Alpha")});
    ASSERT_TRUE(save());
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));
    c.parts().chrome.setBRightPropertyViewExpand(true);
    PropertyViewController& inspector = c.parts().inspectorPane.controller();
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    QWidget* window = ctx.collectionView->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    // Each key goes where the keyboard is, as a user's keys do.
    const auto type = [](const QString& text) {
        for (const QChar c : text)
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
    };
    const auto stored = [&](bool tags) {
        QStringList names;
        if (tags) {
            for (const DBTag& tag : alpha.tags())
                names << tag.name();
        } else {
            for (const DBAuthor& author : alpha.authors())
                names << author.name();
        }
        names.sort();
        return names;
    };

    for (const bool tags : {true, false}) {
        SCOPED_TRACE(tags ? "tags" : "authors");
        KPTokenEditorView* field = tags ? inspector.tagViewValue() : inspector.authorViewValue();
        QWidget* text = field->textView();
        text->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(text->hasFocus());
        int left = 0;
        const QMetaObject::Connection watch = QObject::connect(qApp, &QApplication::focusChanged, text,
                                                               [&](QWidget*, QWidget* now) { left += now != text; });
        // "be" is typed before the stored name has listed the documents again.
        type(QStringLiteral("alpha,be"));
        ASSERT_TRUE(testsupport::spinUntil([&] { return stored(tags).contains(QStringLiteral("alpha")); }));
        // The listing comes on the next turns of the event loop.
        for (int turn = 0; turn < 20; ++turn)
            QCoreApplication::processEvents();
        EXPECT_TRUE(text->hasFocus()) << "the keyboard left the field " << left << " times";
        QObject::disconnect(watch);
        type(QStringLiteral("ta"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_TRUE(testsupport::spinUntil([&] { return stored(tags).contains(QStringLiteral("beta")); }))
            << stored(tags).join(u',').toStdString();
        EXPECT_EQ(field->tokenValues(), (QStringList{QStringLiteral("alpha"), QStringLiteral("beta")}));
    }
}

} // namespace

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

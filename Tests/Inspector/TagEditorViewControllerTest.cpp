#include "Controls/KPTokenEditorView.h"
#include "Inspector/AutoCompletedViewController.h"
#include "Inspector/AutoCompletedWindow.h"
#include "Inspector/TagEditorViewController.h"
#include "InspectorTestSupport.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/PasteboardCodec.h"
#include "Platform/Kit/Popover.h"
#include "Support/GrabContrast.h"

#include <QClipboard>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

namespace pb = platform::kit::pasteboard;

// A shown, active window with an anchor in its lower right; the tag editor opens above it.
class TagEditorTest : public inspectortest::InspectorLibraryTest {
protected:
    void SetUp() override
    {
        InspectorLibraryTest::SetUp();
        window.setGeometry(40, 40, 600, 400);
        anchor = new QWidget(&window);
        anchor->setGeometry(300, 300, 40, 40);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void askImportTags()
    {
        // The last editor goes first, so the new one is the only one in the window.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_FALSE(editor);
        editor = TagEditorViewController::askImportTags(anchor, [this](int code, const QStringList& tags) {
            answers << qMakePair(code, tags);
        }, engine.get());
        ASSERT_NE(editor, nullptr);
        ASSERT_TRUE(testsupport::spinUntil([&] { return editor->isVisible(); }, 5000));
    }

    // A document editor in an in-window popover, as the grid item's and the selection's are.
    platform::kit::Popover* showDocumentEditor(const QStringList& tags)
    {
        auto* popover = new platform::kit::Popover(platform::kit::Popover::Form::Overlay, &window);
        popover->setAnimates(false);
        editor = TagEditorViewController::documentTagEditor(
            tags, [this](const QStringList& names) { changes << names; }, [this] { ++done; });
        editor->setDataBaseEngine(engine.get());
        popover->setContentWidget(editor);
        popover->setContentSize(TagEditorViewController::kContentSize);
        popover->show(anchor, QRect(), platform::kit::PopoverEdge::MinY);
        return popover;
    }

    QWidget* text() const { return editor->tagEditView()->textView(); }
    void press(QWidget* at, QPoint point)
    {
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at->mapTo(&window, point));
    }

    QWidget window;
    QWidget* anchor = nullptr;
    QPointer<TagEditorViewController> editor;
    QList<QPair<int, QStringList>> answers;
    QList<QStringList> changes;
    int done = 0;
};

TEST_F(TagEditorTest, ImportTagModeAnswersOnceWithTheCodeOfHowItEnded)
{
    askImportTags();
    EXPECT_TRUE(editor->btnImport()->isVisible());
    // The "Tags" title over the field reads well on its band.
    const QImage grab = editor->grab().toImage();
    const qreal scale = grab.devicePixelRatio();
    const auto title = testsupport::inkContrast(grab, QRect(QPointF(60, 6).toPoint() * scale, QSize(100, 22) * scale));
    EXPECT_GE(title.ratio, themecontrast::kMinimum) << "the title's ink " << QColor(title.ink).name().toStdString();
    QTest::keyClicks(text(), QStringLiteral("alpha"));
    QTest::keyClick(text(), Qt::Key_Return);   // makes the token
    EXPECT_TRUE(answers.isEmpty());
    QTest::keyClick(text(), Qt::Key_Return);   // ends
    ASSERT_EQ(answers.size(), 1);
    EXPECT_EQ(answers[0], qMakePair(1, QStringList{QStringLiteral("alpha")}));

    // Escape belongs to the field: the popover stays; a later Return then imports nothing.
    askImportTags();
    QTest::keyClick(text(), Qt::Key_Escape);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(answers.size(), 1);
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->isVisible());
    QTest::keyClick(text(), Qt::Key_Return);
    ASSERT_EQ(answers.size(), 2);
    EXPECT_EQ(answers[1].first, 0);

    askImportTags();
    QTest::mouseClick(editor->btnImport(), Qt::LeftButton);
    askImportTags();
    QTest::mouseClick(editor->btnCancel(), Qt::LeftButton);
    ASSERT_EQ(answers.size(), 4);
    EXPECT_EQ(answers[2].first, 1);
    EXPECT_EQ(answers[3].first, 0);

    // A press elsewhere in the window closes it as a Cancel.
    askImportTags();
    press(&window, QPoint(10, 10));
    ASSERT_TRUE(testsupport::spinUntil([&] { return answers.size() == 5; }));
    EXPECT_EQ(answers[4].first, 0);
}

TEST_F(TagEditorTest, OnlyReturnEndsADocumentEditAndReportsDone)
{
    platform::kit::Popover* popover = showDocumentEditor({QStringLiteral("b"), QStringLiteral("a")});
    EXPECT_FALSE(editor->btnImport()->isVisible());
    EXPECT_FALSE(editor->btnCancel()->isVisible());
    EXPECT_EQ(editor->tagObjects(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(editor->parentPopover(), popover);

    QTest::keyClicks(text(), QStringLiteral("c"));
    QTest::keyClick(text(), Qt::Key_Return);
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_EQ(done, 0);
    QTest::keyClick(text(), Qt::Key_Escape);
    EXPECT_EQ(done, 0);
    EXPECT_TRUE(popover->isShown());
    QTest::keyClick(text(), Qt::Key_Return);
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(popover->isShown());
    delete popover;
}

TEST_F(TagEditorTest, OnlyTagTokensCanBePastedIn)
{
    auto* popover = showDocumentEditor({});
    const auto paste = [&](const QString& type, const QString& data) {
        auto* mime = new QMimeData;
        ASSERT_TRUE(pb::writeValue(*mime, pb::kTokenEditor,
                                   QVariantList{QVariantMap{{QStringLiteral("Type"), type},
                                                            {QStringLiteral("Data"), data}}})
                        .has_value());
        QApplication::clipboard()->setMimeData(mime);
        editor->tagEditView()->textView()->paste();
    };
    paste(QStringLiteral("KPTokenAuthorAttachmentCell"), QStringLiteral("Zola"));
    EXPECT_TRUE(editor->tagObjects().isEmpty());
    EXPECT_TRUE(editor->tagEditView()->textView()->toPlainText().isEmpty());
    paste(QStringLiteral("KPTokenTagAttachmentCell"), QStringLiteral("work"));
    EXPECT_EQ(editor->tagObjects(), QStringList{QStringLiteral("work")});
    delete popover;
}

TEST_F(TagEditorTest, TheCompletionListLivesInThePopoverAndKeepsTheFocusInTheField)
{
    tag(QStringLiteral("Resume"));
    tag(QStringLiteral("Retro"));
    tag(QStringLiteral("Report"), true);
    platform::kit::Popover* popover = showDocumentEditor({});
    ASSERT_TRUE(testsupport::spinUntil([&] { return text()->hasFocus(); }));

    QTest::keyClicks(text(), QStringLiteral("re"));
    AutoCompletedWindow* list = editor->autoCompletedWindow();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->parentWidget(), &window);
    EXPECT_EQ(list->size(), QSize(144, 2 * 19 + 4));
    EXPECT_EQ(editor->autoCompletedVC()->names(), (QStringList{QStringLiteral("Resume"), QStringLiteral("Retro")}));
    EXPECT_TRUE(text()->hasFocus());

    // A press on the list picks the name and keeps the popover open.
    press(list, QPoint(20, 2 + 19 + 9));
    ASSERT_TRUE(testsupport::spinUntil([&] { return editor->tagObjects() == QStringList{QStringLiteral("Retro")}; }));
    EXPECT_TRUE(popover->isShown());

    // Typing what nothing begins with closes the list.
    QTest::keyClicks(text(), QStringLiteral("res"));
    ASSERT_NE(editor->autoCompletedWindow(), nullptr);
    QTest::keyClicks(text(), QStringLiteral("x"));
    EXPECT_EQ(editor->autoCompletedWindow(), nullptr);

    // A press elsewhere in the window closes the popover and the list with it.
    QTest::keyClick(text(), Qt::Key_Backspace);
    list = editor->autoCompletedWindow();
    ASSERT_NE(list, nullptr);
    press(&window, QPoint(10, 10));
    ASSERT_TRUE(testsupport::spinUntil([&] { return !popover->isShown(); }));
    EXPECT_FALSE(list->isVisible());
    delete popover;
}

} // namespace

#include "Controls/KPDBFolderEditor.h"
#include "Controls/KPTextEditorView.h"
#include "Controls/KPWrapStyleLabel.h"
#include "ControlsTestSupport.h"
#include "Platform/Kit/FontResolver.h"

#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString kLongPath = QStringLiteral("/home/user/Documents/Projects/Annual reports/2013/Quarterly summaries "
                                         "and appendices/final version with corrections.pdf");

platform::kit::TextAttributes style()
{
    platform::kit::TextAttributes attrs;
    attrs.font = platform::kit::FontResolver::systemFont(12);
    attrs.color = QColor(20, 20, 20);
    attrs.hasParagraphStyle = true;
    attrs.lineBreakMode = 4;
    return attrs;
}

TEST(KPWrapStyleLabel, TheLastLineThatFitsCarriesTheRestOfTheText)
{
    KPWrapStyleLabel label(QRect(0, 0, 120, 10));
    label.setTextStyle(style());
    label.setTitle(kLongPath);
    const qreal lineHeight = QFontMetricsF(style().font).height();
    label.resize(120, int(lineHeight * 3 + lineHeight / 2));
    const auto lines = label.layoutLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(kLongPath.startsWith(lines[0].text));
    EXPECT_TRUE(kLongPath.endsWith(lines[2].text));
    EXPECT_GT(lines[2].text.size(), lines[1].text.size());
    EXPECT_LT(lines[0].rect.top(), lines[2].rect.top());

    // A null title is the empty text: nothing to lay out or draw.
    label.setTitle(QString());
    EXPECT_TRUE(label.title().isEmpty());
    EXPECT_TRUE(label.layoutLines().isEmpty());
}

TEST(KPWrapStyleLabel, APartialRepaintDrawsTheSameLinesAsAFullOne)
{
    KPWrapStyleLabel label(QRect(0, 0, 150, 60));
    label.setTextStyle(style());
    label.setTitle(kLongPath);
    const QImage full = controlstest::render(label);
    QImage part(label.size(), QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::transparent);
    const QRect lower(0, 30, 150, 30);
    label.render(&part, lower.topLeft(), QRegion(lower), QWidget::RenderFlags());
    bool inked = false;
    for (int y = lower.top(); y <= lower.bottom(); ++y)
        for (int x = 0; x < lower.width(); ++x) {
            ASSERT_EQ(part.pixel(x, y), full.pixel(x, y)) << x << "," << y;
            inked = inked || qAlpha(full.pixel(x, y)) > 0;
        }
    EXPECT_TRUE(inked);
}

TEST(KPWrapStyleLabel, OnlyALinkAnswersThePointer)
{
    KPWrapStyleLabel label(QRect(0, 0, 150, 40));
    label.setTitle(QStringLiteral("/tmp/a.pdf"));
    int clicks = 0;
    label.setupLinkAction([&](KPWrapStyleLabel*) { ++clicks; });
    controlstest::enter(label, QPoint(5, 5));
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(label.isMouseIn());
    EXPECT_EQ(clicks, 0);
    label.setIsLink(true);
    controlstest::enter(label, QPoint(5, 5));
    EXPECT_TRUE(label.isMouseIn());
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(label.isMouseIn());
}

TEST(KPTextEditorView, ReturnInsertsALineAndReportsWhileEscapeChangesNothing)
{
    QWidget window;
    window.resize(240, 120);
    auto* editor = new KPTextEditorView(QRect(10, 10, 200, 80), &window);
    int changes = 0;
    int done = 0;
    editor->setDelegate({[&](QPlainTextEdit*) { ++changes; }, [&](QPlainTextEdit*) { ++done; }});
    int windowKeys = 0;
    struct KeySpy : QObject {
        int* keys;
        explicit KeySpy(int* k) : keys(k) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::KeyPress)
                ++*keys;
            return false;
        }
    } spy(&windowKeys);
    window.installEventFilter(&spy);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    editor->setStringValue(QStringLiteral("one"));
    EXPECT_EQ(changes, 0);
    editor->textView()->setFocus();
    editor->textView()->moveCursor(QTextCursor::End);
    QTest::keyClick(editor->textView(), Qt::Key_Return);
    EXPECT_EQ(editor->stringValue(), QStringLiteral("one\n"));
    EXPECT_GE(changes, 1);
    const int before = changes;
    QTest::keyClick(editor->textView(), Qt::Key_Escape);
    EXPECT_EQ(editor->stringValue(), QStringLiteral("one\n"));
    EXPECT_EQ(changes, before);
    EXPECT_EQ(windowKeys, 0);
    editor->textView()->clearFocus();
    EXPECT_EQ(done, 1);
}

TEST(KPTextEditorView, AnEmptiedEditorShowsThePlaceholderAtItsOffsetAndCentred)
{
    KPTextEditorView editor(QRect(0, 0, 200, 80));
    editor.setPlaceHolderString(QStringLiteral("Add a description"));
    editor.setPlaceHolderTextAttrible(style(), QPointF(4, 2));
    editor.setStringValue(QStringLiteral("one\ntwo\nthree"));
    EXPECT_TRUE(editor.placeHolderRect().isEmpty());
    const QSizeF three = editor.textSize();
    editor.setStringValue(QStringLiteral("one"));
    const QSizeF one = editor.textSize();
    EXPECT_EQ(three.width(), 200);
    EXPECT_DOUBLE_EQ(three.height(), 3 * one.height());

    QTextCursor cursor = editor.textView()->textCursor();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    EXPECT_EQ(editor.textSize(), QSizeF(200, 80));
    const QRectF at = editor.placeHolderRect();
    ASSERT_FALSE(at.isEmpty());
    EXPECT_EQ(at.x(), 4);
    const qreal viewport = editor.textView()->viewport()->height();
    // Centred, then raised by the offset's 2 points (y-up).
    EXPECT_NEAR(at.center().y(), viewport / 2 - 2, 1.0);
}

TEST(KPDBFolderEditor, AMenuOpensOnlyWhenTheOwnerGivesOneJustUnderTheField)
{
    QWidget window;
    window.resize(240, 80);
    auto* editor = new KPDBFolderEditor(QRect(10, 10, 200, 23), &window);
    editor->setTitle(QStringLiteral("Inbox"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(editor->shownMenu(), nullptr);

    editor->setDelegate({[](KPDBFolderEditor*) -> QMenu* { return nullptr; }});
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(editor->shownMenu(), nullptr);

    editor->setEditorEnabled(false);
    editor->setDelegate({[](KPDBFolderEditor*) {
        auto* menu = new QMenu;
        menu->addAction(QStringLiteral("Archive"));
        return menu;
    }});
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(20, 10));
    QMenu* menu = editor->shownMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->geometry().topLeft(), editor->mapToGlobal(QPoint(0, 26)));
    menu->hide();
}

TEST(KPDBFolderEditor, WithoutATitleOnlyTheIconIsDrawn)
{
    KPDBFolderEditor editor(QRect(0, 0, 200, 23));
    QImage icon(16, 16, QImage::Format_ARGB32_Premultiplied);
    icon.fill(QColor(0, 0, 255));
    editor.setIcon(icon);
    editor.setTitle(QString());
    EXPECT_TRUE(editor.titleRect().isEmpty());
    const QImage drawn = controlstest::render(editor);
    int inkOutsideIcon = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 22; x < drawn.width(); ++x)
            inkOutsideIcon += qAlpha(drawn.pixel(x, y)) > 0;
    EXPECT_EQ(inkOutsideIcon, 0);
    EXPECT_EQ(drawn.pixelColor(10, 11), QColor(0, 0, 255));
}

} // namespace

#include "Controls/KPTokenAttachmentCell.h"
#include "Controls/KPTokenEditorView.h"
#include "ControlsTestSupport.h"
#include "TokenTestSupport.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QTest>
#include <QTextBoundaryFinder>
#include <gtest/gtest.h>

using namespace tokentest;

namespace {

// Whether pos is a grapheme boundary of text (never inside a pair or before a combining mark).
bool isGraphemeBoundary(const QString& text, qsizetype pos)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(pos);
    return finder.isAtBoundary();
}

bool sameImage(const QImage& a, const QImage& b)
{
    return a.size() == b.size() && a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

int inkPixels(const QImage& image, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return n;
}

} // namespace

TEST(TokenCell, ElidingNeverSplitsACharacter)
{
    const QString texts[] = {
        QString(500, u'a'),
        QStringLiteral("😀🎉👍🏽").repeated(30),                        // pairs and a modifier
        QStringLiteral("e\u0301a\u0308o\u0302").repeated(40),          // combining marks
        QStringLiteral("日本語のタグ").repeated(20),
    };
    for (const QString& text : texts) {
        const KPTokenContentAttachmentCell cell(text);
        for (qreal width : {20.0, 55.5, 100.0, 135.0}) {
            QString shown = cell.fittedText(width);
            if (shown.endsWith(QChar(0x2026)))
                shown.chop(1);
            ASSERT_TRUE(text.startsWith(shown)) << text.left(8).toStdString();
            EXPECT_TRUE(isGraphemeBoundary(text, shown.size())) << text.left(8).toStdString() << " at " << width;
        }
    }
}

TEST(TokenCell, DownWinsOverOverAndEmptyThenFilledDrawsAsMadeWithText)
{
    KPTokenTagAttachmentCell cell(QStringLiteral("tag"));
    EXPECT_EQ(cell.stateName(), QStringLiteral("Normal"));
    cell.setIsHighlight(true);
    EXPECT_EQ(cell.stateName(), QStringLiteral("Over"));
    cell.setIsButtonDeleteDown(true);
    EXPECT_EQ(cell.stateName(), QStringLiteral("Down"));

    for (qreal scale : {1.0, 2.0}) {
        KPTokenTagAttachmentCell pasted;
        pasted.setStringValue(QStringLiteral("pasted tag"));
        KPTokenAuthorAttachmentCell author;
        author.setStringValue(QStringLiteral("Ann"));
        EXPECT_TRUE(sameImage(pasted.thumbImage(scale), KPTokenTagAttachmentCell(QStringLiteral("pasted tag")).thumbImage(scale)));
        EXPECT_TRUE(sameImage(author.thumbImage(scale), KPTokenAuthorAttachmentCell(QStringLiteral("Ann")).thumbImage(scale)));
    }
    // The looks differ, so the comparison above compares something.
    KPTokenTagAttachmentCell down(QStringLiteral("pasted tag"));
    down.setIsButtonDeleteDown(true);
    EXPECT_FALSE(sameImage(down.thumbImage(), KPTokenTagAttachmentCell(QStringLiteral("pasted tag")).thumbImage()));
}

TEST(TokenCell, DeleteButtonTracksPressMovesAndRelease)
{
    Owner owner;
    auto editor = makeEditor(owner);
    editor->setTokenString(QStringLiteral("a,b"));
    QWidget* viewport = editor->textView()->viewport();
    const KPTokenCellPtr b = editor->cells().back();
    const QPoint button = deleteButtonCentre(*editor, 1);
    const QPoint outside = tokenCentre(*editor, 1) - QPoint(12, 0);

    QTest::mousePress(viewport, Qt::LeftButton, {}, button);
    EXPECT_TRUE(b->isButtonDeleteDown());
    controlstest::move(*viewport, outside, true);
    EXPECT_FALSE(b->isButtonDeleteDown());
    controlstest::move(*viewport, button, true);
    EXPECT_TRUE(b->isButtonDeleteDown());
    controlstest::move(*viewport, outside, true);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, outside);   // released outside: kept
    EXPECT_EQ(tokens(*editor), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_FALSE(b->isButtonDeleteDown());
    EXPECT_EQ(owner.changes, 0);

    QTest::mousePress(viewport, Qt::LeftButton, {}, button);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, button);
    EXPECT_EQ(tokens(*editor), QStringList{QStringLiteral("a")});
    EXPECT_EQ(owner.changes, 1);

    // A double click on a button means the token: it turns into text, nothing is removed.
    const QPoint aButton = deleteButtonCentre(*editor, 0);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, aButton, viewport->mapToGlobal(aButton), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(viewport, &dbl);
    EXPECT_EQ(content(*editor), QStringLiteral("a"));
    EXPECT_EQ(owner.changes, 1);
}

TEST(TokenCell, HoverHighlightsOnlyTheTokenUnderThePointer)
{
    Owner owner;
    auto editor = makeEditor(owner);
    editor->setTokenString(QStringLiteral("a,b"));
    QWidget* viewport = editor->textView()->viewport();
    controlstest::move(*viewport, tokenCentre(*editor, 1), false);
    EXPECT_FALSE(editor->cells().front()->isHighlight());
    EXPECT_TRUE(editor->cells().back()->isHighlight());
    controlstest::leave(*editor->textView());
    EXPECT_FALSE(editor->cells().back()->isHighlight());
}

TEST(TokenCell, SlicesOfATokenOnTheSecondLineAreDrawnOnThatLine)
{
    Owner owner;
    auto editor = makeEditor(owner, QSize(200, 60));
    editor->setTokenValues({QStringLiteral("first token here"), QStringLiteral("the second token"), QStringLiteral("third")});
    QApplication::processEvents();
    const QRectF first = editor->textView()->tokenFrame(0);
    const QRectF second = editor->textView()->tokenFrame(1);
    ASSERT_GE(second.top(), first.bottom());   // wrapped onto the next line

    QImage image(editor->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    editor->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QPoint offset = editor->textView()->viewport()->mapTo(editor.get(), QPoint(0, 0));
    // The left slice lies inside the token's frame on its own line.
    const QRect secondSlice = second.toRect().translated(offset).adjusted(3, 2, -(int(second.width()) - 8), -2);
    EXPECT_GT(inkPixels(image, secondSlice), secondSlice.width() * secondSlice.height() / 2);
}

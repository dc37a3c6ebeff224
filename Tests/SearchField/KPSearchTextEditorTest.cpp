#include "SearchField/KPSearchTextEditor.h"
#include "SearchField/KPSTAttachmentCell.h"

#include "../Controls/TokenTestSupport.h"
#include "Controls/KPTokenEditorView.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/PasteboardCodec.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QTest>
#include <QTextCursor>
#include <cmath>
#include <gtest/gtest.h>

namespace {

namespace pb = platform::kit::pasteboard;

class SearchFieldTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(400, 60);
        field = new KPSearchTextEditor(QRect(10, 10, 300, 24), &window);
        KPSearchTextEditorDelegate d;
        d.onSearchTextEditorDidChange = [this](KPSearchTextEditor* f) { changes.append(f->searchValues()); };
        d.onSearchTextEditorExit = [this] { ++exits; };
        d.onSearchTextEditorDone = [this] { ++dones; };
        d.onSearchTextEditorWillStart = [this] { ++starts; };
        d.onSearchTextEditorConfirmDataType = [this] { return confirm; };
        field->setDelegate(std::move(d));
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field->textView()->setFocus();
        QApplication::processEvents();
    }

    void type(const QString& text) { QTest::keyClicks(field->textView(), text); }
    void key(Qt::Key k) { QTest::keyClick(field->textView(), k); }
    QString content() const { return tokentest::content(*field->tokenEditor()); }
    static QVariantMap token(int type, const QString& v) { return SearchTokenValue::make(SearchTokenType(type), v); }

    QWidget window;
    KPSearchTextEditor* field = nullptr;
    QList<QVariantList> changes;
    int exits = 0, dones = 0, starts = 0;
    QString confirm;
};

TEST_F(SearchFieldTest, ReturnCommitsOneRunByItsPrefix)
{
    EXPECT_EQ(starts, 1);
    type("#");
    key(Qt::Key_Return);
    EXPECT_TRUE(field->isEmpty());
    EXPECT_TRUE(changes.isEmpty());

    type(" #work ");
    key(Qt::Key_Return);
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes.last(), QVariantList({token(SearchTokenTag, "work")}));

    type("@Ann");
    key(Qt::Key_Enter);
    type(".pdf");
    key(Qt::Key_Return);
    type("annual report");
    key(Qt::Key_Return);
    EXPECT_EQ(field->searchValues(), QVariantList({token(SearchTokenTag, "work"), token(SearchTokenAuthor, "Ann"),
                                                   token(SearchTokenFileType, "pdf"),
                                                   token(SearchTokenText, "annual report")}));
    EXPECT_EQ(changes.size(), 4);

    // Without a prefix the owner decides the kind.
    confirm = "#";
    type("home");
    key(Qt::Key_Return);
    EXPECT_EQ(field->searchValues().last(), token(SearchTokenTag, "home"));

    // Return with only tokens: the owner hears it is done; Tab keeps the keyboard here.
    dones = 0;
    key(Qt::Key_Return);
    EXPECT_EQ(dones, 1);
    key(Qt::Key_Tab);
    EXPECT_TRUE(field->textView()->hasFocus());
}

// A comma is typed text in the search: names and phrases hold commas, and "#work," is still the
// tag being typed. Only Return (or a chosen suggestion) commits, the whole run at once, as the
// kind its prefix or, without one, the owner names.
TEST_F(SearchFieldTest, ACommaIsTypedTextAndReturnCommitsTheWholeRun)
{
    QStringList runs;
    KPSearchTextEditorDelegate d;
    d.onSearchTextEditorDidChange = [this](KPSearchTextEditor* f) { changes.append(f->searchValues()); };
    d.onSearchTextEditorPartValueChange = [&runs](const QString& run) -> std::optional<QString> {
        runs.append(run);
        return std::nullopt;
    };
    d.onSearchTextEditorConfirmDataType = [this] { return confirm; };
    field->setDelegate(std::move(d));

    type("#work,");
    EXPECT_EQ(content(), "#work,");
    EXPECT_TRUE(field->searchValues().isEmpty());
    for (const QVariantList& reported : std::as_const(changes))
        EXPECT_TRUE(reported.isEmpty()) << "a comma committed a token";
    EXPECT_EQ(runs.last(), "#work,");   // the suggestions still see the run being typed
    key(Qt::Key_Backspace);
    key(Qt::Key_Return);
    EXPECT_EQ(field->searchValues(), QVariantList({token(SearchTokenTag, "work")}));
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last(), field->searchValues());

    type("Smith, John");
    EXPECT_EQ(content(), "[work]Smith, John");
    key(Qt::Key_Return);
    EXPECT_EQ(field->searchValues(),
              QVariantList({token(SearchTokenTag, "work"), token(SearchTokenText, "Smith, John")}));
    EXPECT_EQ(changes.last(), field->searchValues());

    // Without a prefix the owner's kind holds for the whole run, comma and all.
    confirm = "@";
    type("Smith, John");
    key(Qt::Key_Return);
    EXPECT_EQ(field->searchValues().last(), token(SearchTokenAuthor, "Smith, John"));
    type(".txt,");
    EXPECT_EQ(field->searchValues().size(), 3);
    EXPECT_EQ(content(), "[work][Smith, John][Smith, John].txt,");
}

// The arrows belong to the suggestions: the owner is asked, its answer takes the typed run's
// place, and without one the caret stays where it is. Leaving the field ends the search's use of
// it, a context menu of the field does not.
TEST_F(SearchFieldTest, TheTextViewHandsArrowsAndTheKeyboardsComingsAndGoingsToTheField)
{
    QList<int> keys;
    std::optional<QString> answer;
    int ends = 0;
    // The window's closing at the end takes the keyboard away too: by then these are gone.
    const auto unhook = qScopeGuard([this] { field->setDelegate({}); });
    KPSearchTextEditorDelegate d;
    d.onSearchTextEditorKeyUpAndDown = [&](int k) {
        keys.append(k);
        return answer;
    };
    d.onSearchTextEditorWillStart = [this] { ++starts; };
    d.onSearchTextEditorWillEnd = [&ends] { ++ends; };
    field->setDelegate(std::move(d));

    type("wo");
    key(Qt::Key_Left);
    key(Qt::Key_Up);
    key(Qt::Key_Down);
    EXPECT_EQ(keys, (QList<int>{0xF700, 0xF701}));
    EXPECT_EQ(field->textView()->textCursor().position(), 1) << "an arrow moved the caret";
    answer = "#work";
    key(Qt::Key_Down);
    EXPECT_EQ(content(), "#work");

    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(field->textView(), &popup);
    EXPECT_EQ(ends, 0);
    starts = 0;
    QLineEdit other(&window);
    other.show();
    other.setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(ends, 1);
    field->textView()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(starts, 1);
}

// Dragging a token over the field shows where it would land: the caret stands before the
// character under the pointer, or after it from that character's middle on.
TEST_F(SearchFieldTest, ADraggedTokenPutsTheCaretBesideTheCharacterUnderThePointer)
{
    for (const char* text : {"alpha", "beta", "gamma"}) {
        type(text);
        key(Qt::Key_Return);
    }
    type("xy");
    ASSERT_EQ(content(), "[alpha][beta][gamma]xy");
    QWidget* viewport = field->textView()->viewport();
    const auto moveHeld = [viewport](QPoint at) {
        QMouseEvent event(QEvent::MouseMove, QPointF(at), viewport->mapToGlobal(QPointF(at)), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    const QPoint grab = tokentest::tokenCentre(*field->tokenEditor(), 0);
    QTest::mousePress(viewport, Qt::LeftButton, {}, grab);
    moveHeld(grab + QPoint(8, 0));   // the drag begins
    const int y = grab.y();
    const auto caretAt = [&](qreal x) {
        moveHeld(QPoint(int(std::ceil(x)), y));
        return field->textView()->textCursor().position();
    };
    // The left and right ends of each character, from the tokens' frames and the typed text's
    // advances.
    const QRectF beta = field->textView()->tokenFrame(1);
    const QRectF gamma = field->textView()->tokenFrame(2);
    ASSERT_GT(beta.width(), 40);
    ASSERT_EQ(beta.right(), gamma.left());
    const qreal x0 = gamma.right();
    const qreal x1 = x0 + QFontMetricsF(field->tokenEditor()->textFont()).horizontalAdvance(u'x');
    struct Glyph {
        int index;
        qreal left, right;
    };
    bool exactMiddle = false;
    for (const Glyph& glyph : {Glyph{1, beta.left(), beta.right()}, Glyph{2, gamma.left(), gamma.right()},
                               Glyph{3, x0, x1}}) {
        SCOPED_TRACE(glyph.index);
        const qreal middle = (glyph.left + glyph.right) / 2;
        exactMiddle = exactMiddle || middle == std::ceil(middle);
        EXPECT_EQ(caretAt(glyph.left + 1), glyph.index);
        EXPECT_EQ(caretAt(std::ceil(middle) - 1), glyph.index) << "just left of the middle";
        EXPECT_EQ(caretAt(middle), glyph.index + 1) << "at the middle";
        EXPECT_EQ(caretAt(glyph.right - 1), glyph.index + 1);
    }
    EXPECT_TRUE(exactMiddle) << "no token's middle fell on a whole point";
    // Past the last character the caret stands at the end.
    EXPECT_EQ(caretAt(x1 + 30), 5);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(int(std::ceil((beta.left() + beta.right()) / 2)), y));
    EXPECT_EQ(content(), "[beta][alpha][gamma]xy");
}

TEST_F(SearchFieldTest, EscapeDropsTypedTextThenTokensThenLeaves)
{
    type("a");
    key(Qt::Key_Return);
    type("b");
    key(Qt::Key_Return);
    type("xy");
    changes.clear();

    key(Qt::Key_Escape);
    EXPECT_EQ(content(), "[a][b]");
    EXPECT_TRUE(changes.isEmpty());

    key(Qt::Key_Escape);
    EXPECT_TRUE(field->isEmpty());
    ASSERT_EQ(changes.size(), 1);
    EXPECT_TRUE(changes[0].isEmpty());
    EXPECT_EQ(exits, 0);

    key(Qt::Key_Escape);
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(field->textView()->hasFocus());
}

TEST_F(SearchFieldTest, TokensDeletedByTheirButtonOrPastedFromTheEditor)
{
    type("a");
    key(Qt::Key_Return);
    type("b");
    key(Qt::Key_Return);
    changes.clear();
    QTest::mouseClick(field->textView()->viewport(), Qt::LeftButton, {},
                      tokentest::deleteButtonCentre(*field->tokenEditor(), 0));
    EXPECT_EQ(content(), "[b]");
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0], QVariantList({token(SearchTokenText, "b")}));

    // Copied tag and author tokens arrive in order as tokens and run one search.
    auto* mime = new QMimeData;
    const QVariantList items{QVariantMap{{"Type", "KPTokenTagAttachmentCell"}, {"Data", "red"}},
                             QVariantMap{{"Type", "KPTokenAuthorAttachmentCell"}, {"Data", "Ann"}}};
    ASSERT_TRUE(pb::writeValue(*mime, pb::kTokenEditor, items).has_value());
    QApplication::clipboard()->setMimeData(mime);
    changes.clear();
    field->textView()->moveCursor(QTextCursor::End);
    field->textView()->paste();
    EXPECT_EQ(content(), "[b][red][Ann]");
    EXPECT_EQ(field->searchValues(), QVariantList({token(SearchTokenText, "b"), token(SearchTokenTag, "red"),
                                                   token(SearchTokenAuthor, "Ann")}));
    EXPECT_EQ(changes.size(), 1);
}

// The columns where a token's text left ink: the cell drawn with its text against the same
// cell drawn without one, in the same frame.
std::pair<int, int> inkColumns(const KPSTAttachmentCell& cell, int type, const QRectF& frame)
{
    const auto render = [&](const KPSTAttachmentCell& c) {
        QImage image(frame.size().toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        c.draw(painter, frame);
        return image;
    };
    const QImage with = render(cell);
    const QImage without = render(KPSTAttachmentCell(QString(), type));
    int first = -1, last = -1;
    for (int x = 0; x < with.width(); ++x)
        for (int y = 0; y < with.height(); ++y)
            if (with.pixel(x, y) != without.pixel(x, y)) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

// What a user would see go wrong with a token: a short name cut, a long one running under the
// delete button or stretching the token across the field.
TEST(SearchTokenCell, TheTextShowsWholeOrElidedAndNeverUnderTheDeleteButton)
{
    const QString longText(400, QLatin1Char('w'));
    for (int type : {SearchTokenText, SearchTokenTag, SearchTokenFileType, SearchTokenAuthor}) {
        for (const QString& text : {QStringLiteral("a"), QStringLiteral("Annual report"), longText}) {
            SCOPED_TRACE(QStringLiteral("%1 %2").arg(type).arg(text.left(20)).toStdString());
            const KPSTAttachmentCell cell(text, type);
            const QRectF frame(QPointF(0, 0), cell.cellSize());
            EXPECT_LE(frame.width(), 210) << "a token as wide as the field leaves no room to type";
            const auto [first, last] = inkColumns(cell, type, frame);
            ASSERT_GE(first, 0) << "no text drawn";
            const QRectF button = cell.buttonRectByCellFrame(frame);
            ASSERT_FALSE(button.isEmpty());
            EXPECT_LT(last, button.left()) << "the text runs under the delete button";
            const qreal advance = QFontMetricsF(cell.textAttributes().font).horizontalAdvance(text);
            if (advance < 150)
                EXPECT_GE(last - first + 1, advance * 0.8) << "a short text was cut";
        }
    }
}

} // namespace

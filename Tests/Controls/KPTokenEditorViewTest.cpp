#include "Controls/KPTokenEditorView.h"
#include "ControlsTestSupport.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/PasteboardCodec.h"
#include "TokenTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>
#include <QTimer>
#include <QMimeData>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace tokentest;
namespace pb = platform::kit::pasteboard;

namespace {

struct TokenEditorTest : ::testing::Test {
    void SetUp() override { editor = makeEditor(owner); }
    QWidget* text() { return editor->textView(); }
    QWidget* viewport() { return editor->textView()->viewport(); }
    void type(const QString& s) { QTest::keyClicks(text(), s); }
    void key(Qt::Key k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(text(), k, mods); }
    void caretAt(int pos)
    {
        QTextCursor c = editor->textView()->textCursor();
        c.setPosition(pos);
        editor->textView()->setTextCursor(c);
    }
    void select(int from, int to)
    {
        QTextCursor c = editor->textView()->textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        editor->textView()->setTextCursor(c);
    }
    QString selected() const { return editor->textView()->textCursor().selectedText(); }
    void imeCommit(const QString& s)
    {
        QInputMethodEvent e;
        e.setCommitString(s);
        QApplication::sendEvent(text(), &e);
    }
    void imePreedit(const QString& s)
    {
        QInputMethodEvent e(s, {});
        QApplication::sendEvent(text(), &e);
    }
    void drag(int pos, QPoint to)
    {
        const QPoint from = tokenCentre(*editor, pos);
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        controlstest::move(*viewport(), (from + to) / 2, true);
        controlstest::move(*viewport(), to, true);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, to);
    }
    void pasteMime(QMimeData* mime)
    {
        QApplication::clipboard()->setMimeData(mime);
        editor->textView()->paste();
    }

    Owner owner;
    std::unique_ptr<KPTokenEditorView> editor;
};

QMimeData* tokenMime(const QVariantList& items, const QString& plain)
{
    auto* mime = new QMimeData;
    EXPECT_TRUE(pb::writeValue(*mime, pb::kTokenEditor, items).has_value());
    mime->setText(plain);
    return mime;
}

QVariantMap item(const QString& type, const QString& data)
{
    return {{QStringLiteral("Type"), type}, {QStringLiteral("Data"), data}};
}

} // namespace

TEST_F(TokenEditorTest, ReturnCommitsTypedRunsAndOnlyThen)
{
    key(Qt::Key_Return);   // empty
    EXPECT_EQ(owner.enterDone, 1);
    editor->setTokenString(QStringLiteral("a"));
    key(Qt::Key_Return);   // tokens only
    EXPECT_EQ(owner.enterDone, 2);
    EXPECT_EQ(owner.changes, 0);

    caretAt(1);
    type(QStringLiteral("tag one"));
    key(Qt::Key_Return);
    EXPECT_EQ(content(*editor), QStringLiteral("[a][tag one]"));   // blanks do not split
    EXPECT_EQ(owner.autoDone, 1);
    EXPECT_EQ(owner.changes, 1);

    type(QStringLiteral("  "));
    key(Qt::Key_Return);   // blanks stay, yet the owner hears of the run
    EXPECT_EQ(content(*editor), QStringLiteral("[a][tag one]  "));
    EXPECT_EQ(owner.autoDone, 2);
    EXPECT_EQ(owner.changes, 2);
    EXPECT_EQ(owner.enterDone, 2);
    EXPECT_FALSE(editor->textView()->toPlainText().contains(u'\n'));
}

TEST_F(TokenEditorTest, EscDropsTypedTextThenEndsEditing)
{
    editor->setTokenString(QStringLiteral("a"));
    caretAt(1);
    type(QStringLiteral("half"));
    key(Qt::Key_Escape);
    EXPECT_EQ(content(*editor), QStringLiteral("[a]"));
    EXPECT_TRUE(editor->bESCDown());
    EXPECT_EQ(owner.enterDone, 0);
    key(Qt::Key_Escape);
    EXPECT_EQ(owner.enterDone, 1);
    EXPECT_EQ(owner.changes, 0);
    type(QStringLiteral("x"));
    EXPECT_TRUE(editor->bESCDown());   // cleared only by its owner
}

TEST_F(TokenEditorTest, CommaRules)
{
    type(QStringLiteral("red,"));
    EXPECT_EQ(content(*editor), QStringLiteral("[red]"));
    EXPECT_EQ(owner.changes, 1);

    type(QStringLiteral("blue,"));
    caretAt(1);
    type(QStringLiteral(","));   // a lone comma between tokens goes
    EXPECT_EQ(content(*editor), QStringLiteral("[red][blue]"));
    EXPECT_EQ(owner.changes, 2);

    // Only the last character counts: one insertion of "a,b," is the one token "a,b".
    caretAt(2);
    imeCommit(QStringLiteral("a,b,"));
    EXPECT_EQ(tokens(*editor), (QStringList{QStringLiteral("red"), QStringLiteral("blue"), QStringLiteral("a,b")}));
    EXPECT_EQ(owner.changes, 3);
}

TEST_F(TokenEditorTest, TokenStringsAreSplitUntrimmedAndReadBackSortedAndUnique)
{
    editor->setTokenString(QStringLiteral("x"));
    editor->setTokenString(QString());
    EXPECT_EQ(tokens(*editor), QStringList{QStringLiteral("x")});
    editor->setTokenString(QStringLiteral("a, b"));
    EXPECT_EQ(tokens(*editor), (QStringList{QStringLiteral("a"), QStringLiteral(" b")}));
    editor->setTokenValues({QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(editor->tokenValues(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(editor->tokenString(), QStringLiteral("a,b"));
    editor->setTokenValues({QStringLiteral("a"), QStringLiteral("B")});
    EXPECT_EQ(editor->tokenString(), QStringLiteral("B,a"));
    editor->setTokenValues({});
    EXPECT_EQ(editor->tokenString(), QString());
    EXPECT_EQ(owner.changes, 0);   // filling reports nothing
}

TEST_F(TokenEditorTest, EveryWayOfRemovingATokenReportsOnce)
{
    auto fresh = [&] {
        editor->setTokenString(QStringLiteral("a,b,c"));
        owner.changes = 0;
    };
    fresh();
    caretAt(2);
    key(Qt::Key_Backspace);
    EXPECT_EQ(content(*editor), QStringLiteral("[a][c]"));
    EXPECT_EQ(owner.changes, 1);

    fresh();
    caretAt(1);
    key(Qt::Key_Delete);
    EXPECT_EQ(content(*editor), QStringLiteral("[a][c]"));
    EXPECT_EQ(owner.changes, 1);

    fresh();
    select(0, 2);
    key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(content(*editor), QStringLiteral("[c]"));
    EXPECT_EQ(owner.changes, 1);
    const auto cut = pb::readRecords(*QApplication::clipboard()->mimeData(), pb::kTokenEditor);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->size(), 2);

    fresh();
    const QPoint button = deleteButtonCentre(*editor, 1);
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, button);
    EXPECT_EQ(content(*editor), QStringLiteral("[a][c]"));
    EXPECT_EQ(owner.changes, 1);

    // Typed text removed with forward Delete leaves the tokens alone and reports nothing.
    caretAt(2);
    type(QStringLiteral("zz"));
    caretAt(2);
    key(Qt::Key_Delete);
    EXPECT_EQ(content(*editor), QStringLiteral("[a][c]z"));
    EXPECT_EQ(owner.changes, 1);
}

// Cut from the field's context menu is Ctrl+X: the selected tokens leave the field for the
// clipboard, as tokens and as text, the rest stays, and the owner hears of it once (or it would
// never write the removal back).
TEST_F(TokenEditorTest, TheContextMenusCutTakesTheSelectedTokensToTheClipboard)
{
    editor->setTokenString(QStringLiteral("a,b,c"));
    owner.changes = 0;
    select(1, 3);
    QApplication::clipboard()->clear();

    // The menu may run in a loop of its own: Cut is chosen from it as soon as it is up.
    bool chosen = false;
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions()) {
            if (action->objectName() == QLatin1String("edit-cut") && action->isEnabled()) {
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
                chosen = true;
                chooser.stop();
                return;
            }
        }
    });
    chooser.start(10);
    const QPoint at = tokenCentre(*editor, 1);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport()->mapToGlobal(at));
    QApplication::sendEvent(viewport(), &event);
    ASSERT_TRUE(QTest::qWaitFor([&] { return chosen; })) << "no menu with an enabled Cut came up";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() == nullptr; }));

    EXPECT_EQ(content(*editor), QStringLiteral("[a]"));
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    ASSERT_NE(clip, nullptr);
    const auto cut = pb::readRecords(*clip, pb::kTokenEditor);
    ASSERT_TRUE(cut.has_value()) << "the clipboard holds no tokens";
    EXPECT_EQ(*cut, (QVariantList{item(QStringLiteral("KPTokenTagAttachmentCell"), QStringLiteral("b")),
                                  item(QStringLiteral("KPTokenTagAttachmentCell"), QStringLiteral("c"))}));
    EXPECT_EQ(clip->text(), QStringLiteral("b c"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return owner.changes > 0; })) << "the owner never heard of the cut";
    QCoreApplication::processEvents();
    EXPECT_EQ(owner.changes, 1);

    // The field going while its menu is still open takes the menu with it, quietly.
    QApplication::sendEvent(viewport(), &event);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() != nullptr; }));
    editor.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(owner.changes, 1);
}

// Where the owner asks for it, typed text is committed as on Return when the keyboard leaves the
// field for another control: by Tab or a click. A context menu or another window taking the
// keyboard for a while leaves it typed; so does every field whose owner does not ask.
TEST_F(TokenEditorTest, LeavingTheFieldCommitsTypedTextWhereTheOwnerAsks)
{
    QWidget window;
    window.resize(400, 200);
    editor->setParent(&window);
    const auto release = qScopeGuard([&] { editor->setParent(nullptr); });
    auto* other = new QLineEdit(&window);
    other->setGeometry(0, 100, 200, 24);
    editor->show();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto enter = [&] {
        text()->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(text()->hasFocus());
        editor->textView()->moveCursor(QTextCursor::End);
    };

    enter();
    type(QStringLiteral("red"));
    QTest::mouseClick(other, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(content(*editor), QStringLiteral("red"));   // not asked: the text stays typed
    EXPECT_EQ(owner.changes, 0);
    editor->setTokenValues({});

    editor->setCommitsWhenLeft(true);
    enter();
    type(QStringLiteral("red"));
    QTest::keyClick(text(), Qt::Key_Tab);
    EXPECT_TRUE(other->hasFocus()) << "Tab stayed in the field";
    EXPECT_EQ(content(*editor), QStringLiteral("[red]"));
    EXPECT_EQ(owner.changes, 1);
    EXPECT_EQ(owner.autoDone, 1);   // the completion list goes too

    enter();
    type(QStringLiteral("blue"));
    QTest::mouseClick(other, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(other->hasFocus());
    EXPECT_EQ(content(*editor), QStringLiteral("[red][blue]"));
    EXPECT_EQ(owner.changes, 2);

    // Back for a moment: nothing typed, nothing reported, no "done".
    enter();
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(owner.changes, 2);
    EXPECT_EQ(owner.enterDone, 0);

    enter();
    type(QStringLiteral("gre"));
    for (Qt::FocusReason reason : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(text(), &out);
    }
    EXPECT_EQ(content(*editor), QStringLiteral("[red][blue]gre"));
    EXPECT_EQ(owner.changes, 2);
}

TEST_F(TokenEditorTest, PartsAndArrowsReachTheOwner)
{
    owner.completion = QStringLiteral("apple");
    type(QStringLiteral("ap"));
    EXPECT_EQ(owner.parts, (QList<std::optional<QString>>{QStringLiteral("a"), QStringLiteral("ap")}));
    EXPECT_EQ(content(*editor), QStringLiteral("apple"));   // the user's own letters kept
    EXPECT_EQ(selected(), QStringLiteral("ple"));
    owner.completion.reset();
    key(Qt::Key_Backspace);   // a deletion is never completed
    EXPECT_EQ(content(*editor), QStringLiteral("ap"));

    owner.keyAnswer = QStringLiteral("apricot");
    key(Qt::Key_Down);
    key(Qt::Key_Up);
    EXPECT_EQ(owner.keys, (QList<int>{0xF701, 0xF700}));
    EXPECT_EQ(content(*editor), QStringLiteral("apricot"));
    EXPECT_EQ(selected(), QStringLiteral("ricot"));

    owner.parts.clear();
    key(Qt::Key_Return);
    EXPECT_FALSE(owner.parts.value(0).has_value());   // no part left after the commit
    EXPECT_EQ(tokens(*editor), QStringList{QStringLiteral("apricot")});
}

TEST_F(TokenEditorTest, AChosenCompletionReplacesThePartAndIsCommitted)
{
    editor->updateCurrentPartValue(QString());
    EXPECT_TRUE(editor->isEmpty());
    editor->setTokenString(QStringLiteral("a"));
    caretAt(1);
    type(QStringLiteral("ap"));
    editor->updateCurrentPartValue(QStringLiteral("apple pie"));
    EXPECT_EQ(content(*editor), QStringLiteral("[a][apple pie]"));
    EXPECT_EQ(owner.autoDone, 1);
    EXPECT_EQ(owner.changes, 1);
}

TEST_F(TokenEditorTest, InputMethodOwnsReturnCommaAndEscWhileComposing)
{
    imePreedit(QStringLiteral("ta"));
    key(Qt::Key_Return);
    key(Qt::Key_Escape);
    key(Qt::Key_Comma);
    EXPECT_EQ(owner.enterDone, 0);
    EXPECT_FALSE(editor->bESCDown());
    imeCommit(QStringLiteral("tag"));
    EXPECT_EQ(content(*editor), QStringLiteral("tag"));
    key(Qt::Key_Return);
    EXPECT_EQ(tokens(*editor), QStringList{QStringLiteral("tag")});
    EXPECT_EQ(owner.changes, 1);
}

TEST_F(TokenEditorTest, DoubleClickTurnsATokenBackIntoTextForReCommit)
{
    editor->setTokenString(QStringLiteral("a,bee"));
    QTest::mouseDClick(viewport(), Qt::LeftButton, {}, tokenCentre(*editor, 1));
    EXPECT_EQ(content(*editor), QStringLiteral("[a]bee"));
    EXPECT_EQ(selected(), QStringLiteral("bee"));
    key(Qt::Key_End);
    type(QStringLiteral("s"));
    key(Qt::Key_Return);
    EXPECT_EQ(content(*editor), QStringLiteral("[a][bees]"));
    EXPECT_TRUE(dynamic_cast<KPTokenTagAttachmentCell*>(editor->cells().back().get()));
}

TEST_F(TokenEditorTest, EscAfterADoubleClickReportsTheTokenItDropped)
{
    editor->setTokenString(QStringLiteral("a,bee"));
    QTest::mouseDClick(viewport(), Qt::LeftButton, {}, tokenCentre(*editor, 1));
    const int before = owner.changes;
    key(Qt::Key_Escape);
    EXPECT_EQ(content(*editor), QStringLiteral("[a]"));
    EXPECT_EQ(owner.changes, before + 1);
    // Plain typed text dropped afterwards changes no token and reports nothing.
    type(QStringLiteral("half"));
    key(Qt::Key_Escape);
    EXPECT_EQ(owner.changes, before + 1);
}

TEST_F(TokenEditorTest, DraggingReordersWithoutReporting)
{
    editor->setTokenString(QStringLiteral("a,b,c"));
    const auto cellA = editor->cells().front();

    drag(0, tokenCentre(*editor, 0) + QPoint(6, 0));   // over its own place
    EXPECT_EQ(tokens(*editor), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));

    const QRectF last = editor->textView()->tokenFrame(2);
    drag(0, QPoint(int(last.right()) + 20, int(last.center().y())));
    EXPECT_EQ(tokens(*editor), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")}));
    EXPECT_EQ(editor->cells().back(), cellA);   // the same token moved, not a copy
    EXPECT_EQ(owner.changes, 0);
    EXPECT_EQ(editor->textView()->dragImage(), nullptr);

    // A press released where it began is a click: no drag image, no move.
    const QPoint at = tokenCentre(*editor, 1);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, at);
    controlstest::move(*viewport(), at + QPoint(2, 1), true);
    EXPECT_EQ(editor->textView()->dragImage(), nullptr);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at + QPoint(2, 1));
    EXPECT_EQ(tokens(*editor), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")}));
}

TEST_F(TokenEditorTest, WrappingOffKeepsOneLine)
{
    QStringList many;
    for (int i = 0; i < 8; ++i)
        many << QStringLiteral("token %1").arg(i);
    editor->setTokenValues(many);
    QApplication::processEvents();
    EXPECT_GT(editor->textSize().height(), 20);
    editor->setWraps(false);
    QApplication::processEvents();
    EXPECT_EQ(editor->textSize().height(), 20);
    EXPECT_GT(editor->textView()->document()->idealWidth(), editor->width());
}

TEST_F(TokenEditorTest, AGoneOwnerIsNeverCalled)
{
    auto lifetime = std::make_unique<QObject>();
    int calls = 0;
    KPTokenEditorViewDelegate d;
    d.enterDone = [&] { ++calls; };
    d.textDidChange = [&](KPTokenEditorView*) { ++calls; };
    editor->setDelegate(std::move(d), lifetime.get());
    key(Qt::Key_Return);
    EXPECT_EQ(calls, 1);
    lifetime.reset();
    key(Qt::Key_Return);
    type(QStringLiteral("a,"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(tokens(*editor), QStringList{QStringLiteral("a")});   // plain cell without an owner
}

// Copy and paste ---------------------------------------------------------------------------

TEST_F(TokenEditorTest, CopyWritesTokensAndTrimmedTypedRuns)
{
    editor->setTokenString(QStringLiteral("a"));
    caretAt(1);
    type(QStringLiteral(" b "));
    editor->textView()->selectAll();
    editor->textView()->copy();
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    const auto items = pb::readRecords(*mime, pb::kTokenEditor);
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ(*items, (QVariantList{item(QStringLiteral("KPTokenTagAttachmentCell"), QStringLiteral("a")),
                                    item(QStringLiteral("String"), QStringLiteral("b"))}));
    EXPECT_EQ(mime->text(), QStringLiteral("a b"));

    editor->setTokenValues({});
    type(QStringLiteral("   "));
    editor->textView()->selectAll();
    editor->textView()->copy();
    EXPECT_EQ(pb::readRecords(*QApplication::clipboard()->mimeData(), pb::kTokenEditor).value(), QVariantList());
    EXPECT_EQ(QApplication::clipboard()->text(), QString());
}

TEST_F(TokenEditorTest, PasteMakesTokensOrTextAndReportsOnce)
{
    const QVariantList items{item(QStringLiteral("KPTokenTagAttachmentCell"), QStringLiteral("a")),
                             item(QStringLiteral("String"), QStringLiteral("b"))};
    pasteMime(tokenMime(items, QStringLiteral("a b")));
    EXPECT_EQ(content(*editor), QStringLiteral("[a]b"));
    EXPECT_EQ(owner.changes, 1);

    editor->setTokenValues({});
    owner.pasteCells = false;   // the owner makes no cell: both are typed text
    pasteMime(tokenMime(items, QStringLiteral("a b")));
    EXPECT_EQ(content(*editor), QStringLiteral("ab"));
    EXPECT_EQ(owner.changes, 2);

    pasteMime(tokenMime({}, QString()));   // an empty list still reports
    EXPECT_EQ(owner.changes, 3);

    // Items without string "Type" and "Data" are skipped; a comma item still commits once.
    editor->setTokenValues({});
    owner.pasteCells = true;
    pasteMime(tokenMime({QVariantMap{{QStringLiteral("Type"), 7}, {QStringLiteral("Data"), QStringLiteral("x")}},
                         QVariantMap{{QStringLiteral("Type"), QStringLiteral("String")}},
                         item(QStringLiteral("String"), QStringLiteral("c,d,"))},
                        QString()));
    EXPECT_EQ(content(*editor), QStringLiteral("[c,d]"));
    EXPECT_EQ(owner.changes, 4);
}

TEST_F(TokenEditorTest, PasteReplacesExactlyTheSelection)
{
    editor->setTokenString(QStringLiteral("a,b,c"));
    select(1, 2);
    pasteMime(tokenMime({item(QStringLiteral("KPTokenTagAttachmentCell"), QStringLiteral("x"))}, QStringLiteral("x")));
    EXPECT_EQ(content(*editor), QStringLiteral("[a][x][c]"));
}

TEST_F(TokenEditorTest, PlainTextPastesKeepTheFirstLineOnly)
{
    auto plain = [](const QString& s) {
        auto* mime = new QMimeData;
        mime->setText(s);
        return mime;
    };
    pasteMime(plain(QStringLiteral("  \n \t ")));
    EXPECT_TRUE(editor->isEmpty());
    EXPECT_EQ(owner.changes, 0);

    pasteMime(plain(QStringLiteral("first\u2028line\nsecond")));
    EXPECT_EQ(content(*editor), QStringLiteral("first"));
    EXPECT_EQ(owner.changes, 1);

    // A 10 MB single line is cut to its first 64 KiB, never inside a surrogate pair.
    editor->setTokenValues({});
    QString huge = QString(65535, u'x') + QStringLiteral("😀") + QString(10'000'000, u'y');
    pasteMime(plain(huge));
    const QString got = editor->textView()->toPlainText();
    EXPECT_EQ(got.size(), 65535);
    EXPECT_FALSE(got.back().isHighSurrogate());

    // Object-replacement characters in text cannot pose as tokens.
    editor->setTokenValues({});
    pasteMime(plain(QStringLiteral("a\uFFFCb")));
    EXPECT_EQ(content(*editor), QStringLiteral("ab"));
    EXPECT_TRUE(editor->cells().empty());
}

TEST_F(TokenEditorTest, RefusedTokenPayloadsFallBackToTheirPlainText)
{
    auto withBytes = [](const QByteArray& bytes) {
        auto* mime = new QMimeData;
        mime->setData(pb::kTokenEditor, bytes);
        mime->setText(QStringLiteral("plain"));
        return mime;
    };
    const QByteArray notAList = platform::PropertyList::write(QVariantMap{{QStringLiteral("Type"), QStringLiteral("String")}},
                                                              platform::PlistFormat::Xml).value();
    QByteArray tooBig = platform::PropertyList::write(QVariantList{item(QStringLiteral("KPTokenTagAttachmentCell"),
                                                                        QString(pb::kMaxPayloadBytes, u'z'))},
                                                      platform::PlistFormat::Xml).value();
    int expectedChanges = 0;
    for (const QByteArray& bytes : {QByteArrayLiteral("<plist><array><dict>"), notAList, tooBig}) {
        editor->setTokenValues({});
        pasteMime(withBytes(bytes));
        EXPECT_EQ(content(*editor), QStringLiteral("plain"));
        EXPECT_EQ(owner.changes, ++expectedChanges);
    }
}

TEST_F(TokenEditorTest, PlaceholderOnlyWhileEmptyCentredAndShiftedByTextOff)
{
    auto inkBox = [&] {
        const QImage image = controlstest::render(*editor);   // the editor's own drawing only
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 0)
                    box |= QRect(x, y, 1, 1);
        return box;
    };
    auto attrs = platform::kit::TextAttributes::plain(platform::kit::FontResolver::systemFont(12));
    attrs.color = QColor(Qt::gray);
    editor->setPlaceHolderString(QStringLiteral("Add tags"));
    editor->setPlaceHolderTextAttrible(attrs);
    const QRect plain = inkBox();
    ASSERT_FALSE(plain.isEmpty());
    EXPECT_NEAR(plain.center().y(), editor->height() / 2, 4);

    editor->setPlaceHolderTextAttrible(attrs, QPointF(10, 5));   // y-up: 5 points higher
    const QRect shifted = inkBox();
    EXPECT_EQ(shifted.left(), plain.left() + 10);
    EXPECT_EQ(shifted.top(), plain.top() - 5);

    type(QStringLiteral("x"));
    EXPECT_TRUE(inkBox().isEmpty());
}

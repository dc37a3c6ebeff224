// The token editor: tags, authors and search terms stand as tokens among typed text. Typed
// text becomes a token on Return or when a comma is typed after it (an owner may turn the comma
// rule off, or have typed text committed when the field is left); a double click turns a
// token back into text; its delete button removes it; dragging moves it; tokens are copied and
// pasted as tokens (the "KPTokenEditorPboardType" payload, MIME pasteboard::kTokenEditor, next
// to a plain-text form).
//
// A token is the object-replacement character U+FFFC whose character format carries its cell
// (KPTokenAttachmentCell); a QTextObjectInterface handler sizes and draws it, so every line is
// the 20 points the block format fixes. A *typed run* is a maximal stretch of characters that
// are not tokens.
//
// Every edit that changes the set of tokens reports textDidChange to the owner once (Return,
// comma, Backspace, forward Delete, Cut, the delete button, a paste); a reorder does not.
// Undo is off: programmatic token edits and typing would interleave in one stack. While an
// input method composes, Return, comma and Esc belong to it.
//
// Main thread only.
#pragma once

#include "Controls/KPTokenAttachmentCell.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QTextCharFormat>
#include <QTextEdit>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KPTokenEditorView;


// The owner's side. Every member is optional; an empty one is skipped.
struct KPTokenEditorViewDelegate {
    // The cell of a new token made from text (nil: a plain cell).
    std::function<KPTokenCellPtr(KPTokenEditorView*, const QString&)> cellForString;
    // An empty cell for a pasted item of that "Type" (nil: the item is pasted as typed text).
    std::function<KPTokenCellPtr(KPTokenEditorView*, const QString&)> attachmentType;
    std::function<void(KPTokenEditorView*, QPainter&)> drawBackground;
    std::function<void(KPTokenEditorView*)> textDidChange;
    // Return or Esc while there is no typed text.
    std::function<void()> enterDone;
    // After every text change: the typed run under the caret, or none; answers a completion.
    std::function<std::optional<QString>(KPTokenEditorView*, const std::optional<QString>&)> partValueChange;
    // The up (0xF700) or down (0xF701) arrow: answers the text to put in place of the part.
    std::function<std::optional<QString>(KPTokenEditorView*, int)> partKeyDown;
    std::function<void(KPTokenEditorView*)> autoCompletedDone;
};

class KPTokenTextView : public QTextEdit {
public:
    // The object type of token characters in the document.
    static constexpr int kTokenObjectType = QTextFormat::UserObject + 1;
    static constexpr int kCellProperty = QTextFormat::UserProperty + 1;

    explicit KPTokenTextView(KPTokenEditorView* editor);

    KPTokenEditorView* editor() const { return m_editor; }
    // The cell of the token at pos, or null when pos holds no token.
    KPTokenCellPtr cellAt(int pos) const;
    // The token's place on its line, in document coordinates.
    QRectF tokenFrame(int pos) const;
    // The token under a viewport point, or -1.
    int tokenAt(const QPoint& viewportPoint) const;
    // Where a dragged token would land for a viewport point: before the character under the
    // point, or after it when the point is at or right of its middle; the line's ends beyond
    // its first and last character (-1: nowhere).
    int dropIndexAt(const QPoint& viewportPoint) const;
    bool isComposing() const { return m_composing; }
    // Called as the editor goes: the text view, about to go with it, no longer acts for it.
    void editorGoing() { m_editorGoing = true; }
    // The drag image while a token is dragged (null otherwise).
    QLabel* dragImage() const { return m_dragImage.get(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    QPointF toDocument(const QPoint& viewportPoint) const;
    void updateHover(const QPoint& viewportPoint);
    void endDrag(const QPoint& viewportPoint);

    KPTokenEditorView* m_editor;
    bool m_editorGoing = false;
    bool m_composing = false;
    // A press on a token: the token and where it began; a press on its delete button.
    int m_pressToken = -1;
    QPoint m_pressPoint;
    bool m_pressOnButton = false;
    bool m_dragging = false;
    std::unique_ptr<QLabel> m_dragImage;
};

class KPTokenEditorView : public QWidget {
public:
    // Makes the text view of an editor (a subclass of the owner's); called once, in the
    // constructor.
    using TextViewFactory = std::function<KPTokenTextView*(KPTokenEditorView*)>;

    explicit KPTokenEditorView(const QRect& frame, QWidget* parent = nullptr, const TextViewFactory& makeTextView = {});
    ~KPTokenEditorView() override;

    // lifetime: when given, the delegate is never called after it is destroyed.
    void setDelegate(KPTokenEditorViewDelegate delegate, QObject* lifetime = nullptr);
    KPTokenTextView* textView() const { return m_text; }

    void setWraps(bool wraps);
    bool wraps() const { return m_wraps; }
    void setTextFont(const QFont& font);
    QFont textFont() const { return m_textFont; }
    void setTextColor(const QColor& color);
    QColor textColor() const { return m_textColor; }

    // Replaces the content by tokens; nothing is reported.
    void setTokenValues(const QStringList& values);
    // Token texts without duplicates, sorted by code unit ("B" before "a").
    QStringList tokenValues() const;
    // Pieces between commas, untrimmed, empty ones kept; "" leaves the content as it is.
    void setTokenString(const QString& string);
    QString tokenString() const;

    // The room the content needs: the bounds when empty, else (width, lines × 20).
    QSizeF textSize() const;
    // The bottom-left of the line of the typed run under the caret, in editor coordinates;
    // (0, 0) when there is none.
    QPointF selectRangeLocation() const;
    // A chosen completion replaces the typed part and is committed.
    void updateCurrentPartValue(const QString& value);

    void setPlaceHolderString(const QString& text);
    QString placeHolderString() const { return m_placeHolder; }
    // "TextOff" (a QPointF) shifts the placeholder; the rest are its text attributes.
    void setPlaceHolderTextAttrible(const platform::kit::TextAttributes& attrs, QPointF textOff = {});

    // A field standing alone (a popover's only control) draws its own white, outlined box with
    // the text inset in it, and its placeholder on the first line; an owner's background
    // drawing, when given, comes first.
    void setDrawsFieldFrame(bool draws);
    bool drawsFieldFrame() const { return m_drawsFieldFrame; }
    static constexpr int kFieldInset = 4;

    // Whether a pasted token of a type the owner makes no cell for comes in as typed text
    // (default) or is left out.
    void setPastesUnknownTokensAsText(bool asText) { m_pastesUnknownAsText = asText; }
    bool pastesUnknownTokensAsText() const { return m_pastesUnknownAsText; }

    // Whether a comma typed after a word commits it (default). Where a comma is part of what
    // is typed (a name "Smith, John"), the owner turns it off and commits on Return only.
    void setCommitsOnComma(bool commits) { m_commitsOnComma = commits; }
    bool commitsOnComma() const { return m_commitsOnComma; }
    // Whether typed text is committed as on Return when the keyboard leaves the field for
    // another control (Tab, which then leaves it, or a click elsewhere); off by default. A
    // context menu or another window taking the keyboard for a while leaves the text as it is.
    void setCommitsWhenLeft(bool commits);
    bool commitsWhenLeft() const { return m_commitsWhenLeft; }
    // Commits the typed text as Return does when there is any; nothing when there is none.
    void commitTypedText();

    bool bESCDown() const { return m_escDown; }
    void setBESCDown(bool down) { m_escDown = down; }

    // The commands and events of the text view.
    void commit();          // Return
    void cancel();          // Esc
    bool keyDown(int key);  // up and down arrows
    void willDelete();      // Backspace
    void textDidChange(const QString& lastInput);
    // Runs the change handling when the text view's text changed since the last call.
    void flushChange();
    void doubleClickedOnToken(int pos);
    void removeAttachmentCell(const KPTokenAttachmentCell* cell);
    void moveToken(int from, int dropIndex);
    KPTokenCellPtr createAttachmentCellFromType(const QString& type);
    void pasteboardChanged();

    // The cells of the tokens in text order.
    std::vector<KPTokenCellPtr> cells() const;
    // Runs an edit of the text view; when it changed the set of tokens and nothing was
    // reported meanwhile, reports once.
    void runEdit(const std::function<void()>& edit);
    // The same for an edit that runs later than it begins (a menu's item); every begin is
    // ended once.
    void beginEdit();
    void endEdit();
    // An edit that ends when menu has gone (after its chosen item, if any, has run).
    void beginEditUntilGone(QObject* menu);

    struct Run {
        int start = 0;
        int length = 0;
        KPTokenCellPtr cell;    // null for typed runs
        QString text;
        bool contains(int pos) const { return pos >= start && pos <= start + length; }
    };
    std::vector<Run> runs() const;
    bool isEmpty() const;
    QTextCharFormat typingFormat() const;
    QTextCharFormat tokenFormat(const KPTokenCellPtr& cell) const;

protected:
    friend class KPTokenTextView;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const KPTokenEditorViewDelegate* delegate() const;
    void reportChange();
    void reportNow();
    KPTokenCellPtr cellForString(const QString& text);
    void replaceRun(const Run& run, const QString& text, bool selectTail, int keep);
    void applyLayout();
    std::vector<const KPTokenAttachmentCell*> tokenSet() const;

    KPTokenTextView* m_text = nullptr;
    KPTokenEditorViewDelegate m_delegate;
    bool m_hasLifetime = false;
    QPointer<QObject> m_lifetime;
    QFont m_textFont;
    QColor m_textColor;
    QString m_placeHolder;
    platform::kit::TextAttributes m_placeHolderAttrs;
    QPointF m_placeHolderOffset;
    bool m_drawsFieldFrame = false;
    bool m_escDown = false;
    // A token turned back into text and not yet reported: dropping that text with Esc removes
    // the token, which the owner must hear of or it never writes the removal back.
    bool m_tokenTurnedToText = false;
    bool m_wraps = true;
    bool m_pastesUnknownAsText = true;
    bool m_commitsOnComma = true;
    bool m_commitsWhenLeft = false;
    QString m_typingStr;
    std::optional<QString> m_beforeDeleteString;
    int m_silent = 0;         // programmatic edits in progress: no change handling
    bool m_pending = false;   // the text changed since the change handling last ran
    QString m_lastInput;      // what that change inserted ("" for a deletion)
    int m_editDepth = 0;
    std::vector<const KPTokenAttachmentCell*> m_editBefore;   // the tokens when the outer edit began
    std::vector<QMetaObject::Connection> m_editEnds;
    bool m_deferredReport = false;
};

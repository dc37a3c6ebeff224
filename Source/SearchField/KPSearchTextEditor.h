// The token search field of the title bar. The user types free text, or a tag, author or file
// type after its prefix ("#", "@", "."), and commits each run as a token with Return; tokens
// carry a delete button, and copied tag and author tokens paste as tokens. Every change of the
// tokens is reported to the owner, which runs the search; Escape first drops typed text, then
// the tokens (a change), then leaves the search.
//
// Its text view (KPSearchTextView) runs on the token editor's inline-token engine
// (KPTokenEditorView), one line without wrapping, and hands the search's keys to this class; a
// comma is typed text here, never a commit. This class adds the magnifier, the clear button and
// the search's rules for committing and leaving.
//
// Main thread only.
#pragma once

#include "SearchField/KPSTAttachmentCell.h"
#include "SearchField/KPSearchTextView.h"

#include <QPointer>
#include <QVariantList>
#include <QWidget>
#include <functional>
#include <optional>

class KPTokenEditorView;
class KPThemeImageButton;

class KPSearchTextEditor;

// The owner's side; every member is optional.
struct KPSearchTextEditorDelegate {
    std::function<void(KPSearchTextEditor*)> onSearchTextEditorSearchClick;
    // The typed run under the caret after a change; answers the completion to fill in.
    std::function<std::optional<QString>(const QString& run)> onSearchTextEditorPartValueChange;
    // The up (0xF700) or down (0xF701) arrow; answers the text to put in place of the typed run.
    std::function<std::optional<QString>(int key)> onSearchTextEditorKeyUpAndDown;
    // The kind of a committed run without a prefix: "#", "@" or "."; anything else is free text.
    std::function<QString()> onSearchTextEditorConfirmDataType;
    std::function<void(KPSearchTextEditor*)> onSearchTextEditorDidChange;
    std::function<void()> onSearchTextEditorDone;
    std::function<void()> onSearchTextEditorWillStart;
    std::function<void()> onSearchTextEditorWillEnd;
    std::function<void()> onSearchTextEditorExit;
};

class KPSearchTextEditor : public QWidget {
public:
    // The magnifier's press area, at the left end.
    static constexpr QRect kSearchButtonRect{0, 0, 36, 25};

    explicit KPSearchTextEditor(const QRect& frame, QWidget* parent = nullptr);
    ~KPSearchTextEditor() override;

    void setDelegate(KPSearchTextEditorDelegate delegate) { m_delegate = std::move(delegate); }

    // SearchTokenValue records of the tokens, in text order (typed text is not included).
    QVariantList searchValues() const;
    // Empties the field and hides the clear button; nothing is reported.
    void clear();
    bool isEmpty() const;
    // Fills value into the typed run under the caret (or an empty field) and commits it.
    void setCurrentPartValue(const QString& value);

    KPSearchTextView* textView() const { return m_textView; }
    KPTokenEditorView* tokenEditor() const { return m_editor; }

    // Return: commits the first typed run as a token, of the kind its prefix or, without one,
    // the owner names. Escape: the three steps above.
    void commit();
    void cancel();

    // From the text view: the up (0xF700) or down (0xF701) arrow, answered by the owner with
    // the text to put in place of the typed run.
    void textViewKeyUpAndDown(int key);
    // From the text view: it took or gave up the keyboard; the owner hears
    // onSearchTextEditorWillStart or onSearchTextEditorWillEnd.
    enum class FirstResponder { Become, Resign };
    void textViewFirstResponderChange(FirstResponder change);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void layoutChildren();
    void updateClearButton();
    void didChange();

    KPTokenEditorView* m_editor = nullptr;
    KPSearchTextView* m_textView = nullptr;
    KPThemeImageButton* m_btnClean = nullptr;
    KPSearchTextEditorDelegate m_delegate;
    bool m_boolMouseDownBtnSearch = false;
};

// The text view inside the search field. It holds the field's tokens and typed text on the token
// editor's inline-token engine, and hands the keys that mean something to the search to the
// field: Return commits a run, Escape drops typed text, then the tokens, then leaves; the up and
// down arrows move through the suggestions and never move the caret; Tab keeps the keyboard in
// the field. It tells the field when it takes and gives up the keyboard, which widens and narrows
// the field. A comma is an ordinary character here: "Smith, John" is one name.
//
// While an input method composes, every key belongs to it.
//
// Main thread only.
#pragma once

#include "Controls/KPTokenEditorView.h"

class KPSearchTextEditor;

class KPSearchTextView final : public KPTokenTextView {
public:
    // engine: the inline-token engine that owns this view; field: the search field it reports to.
    KPSearchTextView(KPTokenEditorView* engine, KPSearchTextEditor* field);

    // The field, or null once the field has begun to go.
    KPSearchTextEditor* searchField() const { return m_field; }
    void forgetField() { m_field = nullptr; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    KPSearchTextEditor* m_field;
};

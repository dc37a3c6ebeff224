#include "SearchField/KPSearchTextView.h"

#include "Platform/Kit/Input.h"
#include "SearchField/KPSearchTextEditor.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace keychar = platform::kit::keychar;

KPSearchTextView::KPSearchTextView(KPTokenEditorView* engine, KPSearchTextEditor* field)
    : KPTokenTextView(engine), m_field(field)
{
}

void KPSearchTextView::keyPressEvent(QKeyEvent* event)
{
    if (isComposing() || !m_field) {
        KPTokenTextView::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_field->commit();
        return;
    case Qt::Key_Escape:
        m_field->cancel();
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return;
    case Qt::Key_Up:
        m_field->textViewKeyUpAndDown(keychar::UpArrow);
        return;
    case Qt::Key_Down:
        m_field->textViewKeyUpAndDown(keychar::DownArrow);
        return;
    default:
        KPTokenTextView::keyPressEvent(event);
    }
}

void KPSearchTextView::focusInEvent(QFocusEvent* event)
{
    KPTokenTextView::focusInEvent(event);
    if (m_field)
        m_field->textViewFirstResponderChange(KPSearchTextEditor::FirstResponder::Become);
}

void KPSearchTextView::focusOutEvent(QFocusEvent* event)
{
    KPTokenTextView::focusOutEvent(event);
    // A context menu of the field keeps the search in use.
    if (m_field && event->reason() != Qt::PopupFocusReason)
        m_field->textViewFirstResponderChange(KPSearchTextEditor::FirstResponder::Resign);
}

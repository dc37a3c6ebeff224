// The token editor's keyboard: typed text, the completion of the part under the caret, and the
// commits that turn typed text into tokens (Return, a comma, leaving the field), Esc and Delete.
#include "Controls/KPTokenEditorView.h"

#include "Controls/TokenEditorSupport.h"
#include "Platform/Kit/Input.h"

#include <QFocusEvent>
#include <QTextDocument>
#include <algorithm>

namespace kit = platform::kit;
namespace keychar = platform::kit::keychar;
using namespace tokeneditor;

void KPTokenTextView::keyPressEvent(QKeyEvent* event)
{
    const char16_t key = kit::Input::keyCharacter(event);
    if (m_composing && (key == keychar::Return || key == keychar::Escape || key == u','))
        return;
    m_editor->runEdit([&] {
        if ((key == keychar::UpArrow || key == keychar::DownArrow) && m_editor->keyDown(key))
            return;
        if (key == keychar::Return) {
            m_editor->commit();
            return;
        }
        if (key == keychar::Escape) {
            m_editor->cancel();
            return;
        }
        if (key == keychar::Delete)
            m_editor->willDelete();
        const bool typesText = !event->text().isEmpty() && event->text().at(0).isPrint()
            && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
        if (typesText && textCursor().hasSelection()) {
            QTextCursor cursor = textCursor();
            cursor.removeSelectedText();
            setTextCursor(cursor);
            setCurrentCharFormat(m_editor->typingFormat());
        }
        QTextEdit::keyPressEvent(event);
        m_editor->flushChange();
    });
}

void KPTokenTextView::inputMethodEvent(QInputMethodEvent* event)
{
    m_composing = !event->preeditString().isEmpty();
    m_editor->runEdit([&] {
        QTextEdit::inputMethodEvent(event);
        m_editor->flushChange();
    });
}

void KPTokenTextView::focusOutEvent(QFocusEvent* event)
{
    QTextEdit::focusOutEvent(event);
    // A context menu or another window holds the keyboard only for a while: the text stays as
    // it is, to be finished when the keyboard comes back.
    const Qt::FocusReason reason = event->reason();
    if (!m_editorGoing && m_editor->commitsWhenLeft() && !m_composing && reason != Qt::PopupFocusReason
        && reason != Qt::ActiveWindowFocusReason)
        m_editor->commitTypedText();
}

void KPTokenEditorView::commit()
{
    runEdit([this] {
        bool typed = false;
        int shift = 0;
        const auto* d = delegate();
        for (const Run& run : runs()) {
            if (run.cell)
                continue;
            typed = true;
            const QString text = run.text.trimmed();
            if (!text.isEmpty()) {
                const KPTokenCellPtr cell = cellForString(text);
                QTextCursor cursor(m_text->document());
                cursor.setPosition(run.start + shift);
                cursor.setPosition(run.start + shift + run.length, QTextCursor::KeepAnchor);
                cursor.insertText(QString(kTokenChar), tokenFormat(cell));
                m_text->setTextCursor(cursor);
                shift += 1 - run.length;
            }
            if ((d = delegate()) && d->autoCompletedDone)
                d->autoCompletedDone(this);
            reportChange();
        }
        if (!typed && (d = delegate()) && d->enterDone)
            d->enterDone();
        m_text->setCurrentCharFormat(typingFormat());
        flushChange();
    });
}

void KPTokenEditorView::setCommitsWhenLeft(bool commits)
{
    m_commitsWhenLeft = commits;
    // Tab then leaves the field, as it does every other field; a tab in a name is never meant.
    m_text->setTabChangesFocus(commits);
}

void KPTokenEditorView::commitTypedText()
{
    const auto all = runs();
    const bool typed = std::any_of(all.begin(), all.end(), [](const Run& run) {
        return !run.cell && !run.text.trimmed().isEmpty();
    });
    if (typed)
        commit();
}

void KPTokenEditorView::cancel()
{
    bool typed = false;
    {
        Silence quiet(m_silent);
        const auto all = runs();
        for (auto run = all.rbegin(); run != all.rend(); ++run) {
            if (run->cell)
                continue;
            typed = true;
            QTextCursor cursor(m_text->document());
            cursor.setPosition(run->start);
            cursor.setPosition(run->start + run->length, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
    }
    m_escDown = true;
    if (typed && m_tokenTurnedToText)
        reportChange();
    const auto* d = delegate();
    if (!typed && d && d->enterDone)
        d->enterDone();
}

bool KPTokenEditorView::keyDown(int key)
{
    const auto* d = delegate();
    if (!d || !d->partKeyDown)
        return false;
    const std::optional<QString> value = d->partKeyDown(this, key);
    if (!value || value->isEmpty())
        return false;
    const int selStart = m_text->textCursor().selectionStart();
    if (!isEmpty()) {
        bool typed = false;
        for (const Run& run : runs()) {
            if (run.cell)
                continue;
            typed = true;
            if (run.contains(selStart)) {
                replaceRun(run, *value, true, int(m_typingStr.size()));
                if (m_typingStr.isEmpty() || value->size() <= m_typingStr.size()) {
                    QTextCursor caret = m_text->textCursor();
                    caret.clearSelection();
                    m_text->setTextCursor(caret);
                }
                break;
            }
        }
        if (typed)
            return true;
    }
    const int at = isEmpty() ? 0 : m_text->textCursor().selectionEnd();
    replaceRun(Run{at, 0, nullptr, {}}, *value, true, 0);
    return true;
}

void KPTokenEditorView::willDelete()
{
    m_beforeDeleteString = tokenString();
}

void KPTokenEditorView::flushChange()
{
    if (!m_pending)
        return;
    m_pending = false;
    textDidChange(m_lastInput);
}

void KPTokenEditorView::textDidChange(const QString& lastInput)
{
    const auto* d = delegate();
    if (!isEmpty()) {
        bool noPart = true;
        int shift = 0;
        for (Run run : runs()) {
            if (run.cell)
                continue;
            run.start += shift;
            const QString text = run.text.trimmed();
            if (text.isEmpty())
                continue;
            if (m_commitsOnComma && text.endsWith(u',')) {
                if (text.size() == 1) {
                    replaceRun(run, QString(), false, 0);
                    shift -= run.length;
                    continue;
                }
                const KPTokenCellPtr cell = cellForString(text.chopped(1));
                {
                    Silence quiet(m_silent);
                    QTextCursor cursor(m_text->document());
                    cursor.setPosition(run.start);
                    cursor.setPosition(run.start + run.length, QTextCursor::KeepAnchor);
                    cursor.insertText(QString(kTokenChar), tokenFormat(cell));
                    m_text->setTextCursor(cursor);
                    m_text->setCurrentCharFormat(typingFormat());
                }
                reportChange();
                // The insertion runs the change handling again over what is left.
                textDidChange(QString(kTokenChar));
                return;
            }
            if (!run.contains(m_text->textCursor().selectionStart()))
                continue;
            noPart = false;
            if ((d = delegate()) && d->partValueChange) {
                const bool allowed = !lastInput.isEmpty();
                m_typingStr = run.text;
                const std::optional<QString> answer = d->partValueChange(this, run.text);
                if (answer && !answer->isEmpty() && allowed) {
                    const QString completed = run.text + answer->mid(run.text.size());
                    replaceRun(run, completed, true, int(run.text.size()));
                }
            }
            break;
        }
        if (noPart && (d = delegate()) && d->partValueChange)
            d->partValueChange(this, std::nullopt);
    } else if (d && d->partValueChange) {
        d->partValueChange(this, std::nullopt);
    }
    if (m_beforeDeleteString) {
        m_beforeDeleteString.reset();
        reportChange();
    }
}

void KPTokenEditorView::updateCurrentPartValue(const QString& value)
{
    if (value.isEmpty())
        return;
    runEdit([&] {
        const int selStart = m_text->textCursor().selectionStart();
        bool typed = false;
        if (!isEmpty()) {
            for (const Run& run : runs()) {
                if (run.cell)
                    continue;
                typed = true;
                if (run.contains(selStart)) {
                    replaceRun(run, value, false, 0);
                    break;
                }
            }
        }
        if (!typed)
            replaceRun(Run{isEmpty() ? 0 : m_text->textCursor().selectionEnd(), 0, nullptr, {}}, value, false, 0);
        commit();
    });
}

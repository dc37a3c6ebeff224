// The token editor under the pointer: which token or gap a point is over, the hover, a click
// beside a token, its delete button, a double click that turns it back into text, and dragging
// a token to another place.
#include "Controls/KPTokenEditorView.h"

#include "Controls/TokenEditorSupport.h"

#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>

using namespace tokeneditor;

namespace {

constexpr int kDragThreshold = 4;

} // namespace

int KPTokenTextView::tokenAt(const QPoint& viewportPoint) const
{
    const QPointF at = toDocument(viewportPoint);
    const int hit = document()->documentLayout()->hitTest(at, Qt::FuzzyHit);
    for (int pos : {hit, hit - 1}) {
        if (pos >= 0 && tokenFrame(pos).contains(at))
            return pos;
    }
    return -1;
}

int KPTokenTextView::dropIndexAt(const QPoint& viewportPoint) const
{
    const QPointF at = toDocument(viewportPoint);
    const int hit = document()->documentLayout()->hitTest(at, Qt::FuzzyHit);
    if (hit < 0)
        return -1;
    const QTextBlock block = document()->findBlock(hit);
    const QTextLayout* layout = block.layout();
    const QTextLine line = layout ? layout->lineForTextPosition(hit - block.position()) : QTextLine();
    if (!line.isValid())
        return hit;
    // The character under the point: a token is as wide as its label, so the middle is the
    // label's middle, wherever the press grabbed the dragged token.
    const qreal x = at.x() - layout->position().x();
    const int end = line.textStart() + line.textLength();
    for (int rel = line.textStart(); rel < end; ++rel) {
        const qreal right = line.cursorToX(rel + 1);
        if (x < right) {
            const qreal middle = (line.cursorToX(rel) + right) / 2;
            return block.position() + rel + (x >= middle ? 1 : 0);
        }
    }
    return block.position() + end;
}

void KPTokenTextView::mousePressEvent(QMouseEvent* event)
{
    const int pos = event->button() == Qt::LeftButton ? tokenAt(event->position().toPoint()) : -1;
    if (pos < 0) {
        QTextEdit::mousePressEvent(event);
        return;
    }
    m_pressToken = pos;
    m_pressPoint = event->position().toPoint();
    m_dragging = false;
    const KPTokenCellPtr cell = cellAt(pos);
    m_pressOnButton = cell->buttonRectByCellFrame(tokenFrame(pos)).contains(toDocument(m_pressPoint));
    if (m_pressOnButton) {
        cell->setIsButtonDeleteDown(true);
        viewport()->update();
    }
}

void KPTokenTextView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (m_pressToken < 0) {
        if (event->buttons() == Qt::NoButton)
            updateHover(at);
        QTextEdit::mouseMoveEvent(event);
        return;
    }
    const KPTokenCellPtr cell = cellAt(m_pressToken);
    if (!cell)
        return;
    if (m_pressOnButton) {
        const bool inside = cell->buttonRectByCellFrame(tokenFrame(m_pressToken)).contains(toDocument(at));
        if (inside != cell->isButtonDeleteDown()) {
            cell->setIsButtonDeleteDown(inside);
            viewport()->update();
        }
        return;
    }
    if (!m_dragging && (at - m_pressPoint).manhattanLength() >= kDragThreshold) {
        m_dragging = true;
        m_dragImage = std::make_unique<QLabel>(viewport());
        const QImage thumb = cell->thumbImage(devicePixelRatioF());
        m_dragImage->setPixmap(QPixmap::fromImage(thumb));
        m_dragImage->resize(cell->cellSize().toSize());
        m_dragImage->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_dragImage->show();
    }
    if (!m_dragging)
        return;
    // The image keeps the pointer where the press grabbed the token.
    const QPointF grab = toDocument(m_pressPoint) - tokenFrame(m_pressToken).topLeft();
    m_dragImage->move(at - grab.toPoint());
    const int drop = dropIndexAt(at);
    if (drop >= 0) {
        QTextCursor caret(document());
        caret.setPosition(drop);
        setTextCursor(caret);
    }
}

void KPTokenTextView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pressToken < 0) {
        QTextEdit::mouseReleaseEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const int pos = m_pressToken;
    m_pressToken = -1;
    const KPTokenCellPtr cell = cellAt(pos);
    if (m_pressOnButton) {
        m_pressOnButton = false;
        if (!cell)
            return;
        const bool inside = cell->buttonRectByCellFrame(tokenFrame(pos)).contains(toDocument(at));
        cell->setIsButtonDeleteDown(false);
        viewport()->update();
        if (inside)
            m_editor->removeAttachmentCell(cell.get());
        return;
    }
    if (m_dragging) {
        m_dragging = false;
        m_dragImage.reset();
        m_editor->moveToken(pos, dropIndexAt(at));
        return;
    }
    // A plain click on a token puts the caret beside it.
    QTextCursor caret(document());
    caret.setPosition(std::max(0, dropIndexAt(at)));
    setTextCursor(caret);
}

void KPTokenTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int pos = event->button() == Qt::LeftButton ? tokenAt(event->position().toPoint()) : -1;
    if (pos < 0) {
        QTextEdit::mouseDoubleClickEvent(event);
        return;
    }
    // Also on the delete button: a double click means the token, never a removal.
    if (const KPTokenCellPtr cell = cellAt(pos))
        cell->setIsButtonDeleteDown(false);
    m_pressToken = -1;
    m_pressOnButton = false;
    m_editor->doubleClickedOnToken(pos);
}

void KPTokenTextView::updateHover(const QPoint& viewportPoint)
{
    if (m_editor->isEmpty())
        return;
    const int hovered = tokenAt(viewportPoint);
    bool changed = false;
    for (const auto& run : m_editor->runs()) {
        if (run.cell && run.cell->isHighlight() != (run.start == hovered)) {
            run.cell->setIsHighlight(run.start == hovered);
            changed = true;
        }
    }
    if (changed)
        viewport()->update();
}

void KPTokenTextView::leaveEvent(QEvent* event)
{
    for (const KPTokenCellPtr& cell : m_editor->cells())
        cell->setIsHighlight(false);
    viewport()->update();
    QTextEdit::leaveEvent(event);
}

void KPTokenEditorView::doubleClickedOnToken(int pos)
{
    const KPTokenCellPtr cell = m_text->cellAt(pos);
    if (!cell)
        return;
    replaceRun(Run{pos, 1, nullptr, {}}, cell->stringValue(), true, 0);
    m_tokenTurnedToText = true;
}

void KPTokenEditorView::removeAttachmentCell(const KPTokenAttachmentCell* cell)
{
    runEdit([&] {
        for (const Run& run : runs()) {
            if (run.cell.get() != cell)
                continue;
            replaceRun(run, QString(), false, 0);
            break;
        }
        reportChange();
    });
}

void KPTokenEditorView::moveToken(int from, int dropIndex)
{
    const KPTokenCellPtr cell = m_text->cellAt(from);
    if (!cell || dropIndex < 0 || dropIndex == from)
        return;
    Silence quiet(m_silent);
    QTextCursor cursor(m_text->document());
    cursor.setPosition(from);
    cursor.setPosition(from + 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.setPosition(dropIndex > from ? dropIndex - 1 : dropIndex);
    cursor.insertText(QString(kTokenChar), tokenFormat(cell));
    m_text->setTextCursor(cursor);
    m_text->setCurrentCharFormat(typingFormat());
}

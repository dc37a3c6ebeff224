#include "Controls/KPTextEditorView.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/FontResolver.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <cmath>

KPTextEditorTextView::KPTextEditorTextView(KPTextEditorView* editor)
    : QPlainTextEdit(editor), m_editor(editor)
{
}

void KPTextEditorTextView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_editor->m_delegate.onTextEditorViewTextDidChange)
            m_editor->m_delegate.onTextEditorViewTextDidChange(this);
        break;
    default:
        break;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void KPTextEditorTextView::focusOutEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusOutEvent(event);
    // A context menu of the editor itself takes the focus for a moment without ending the edit.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    if (m_editor->m_delegate.onTextEditorViewTextDidDone)
        m_editor->m_delegate.onTextEditorViewTextDidDone(this);
}

void KPTextEditorTextView::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(viewport());
        m_editor->drawPlaceHolder(painter);
    }
    QPlainTextEdit::paintEvent(event);
}

KPTextEditorView::KPTextEditorView(const QRect& frame, QWidget* parent)
    : QWidget(parent),
      m_textFont(platform::kit::FontResolver::systemFont(12)),
      m_textColor(palette().color(QPalette::Text))
{
    if (frame.isValid())
        setGeometry(frame);
    m_textView = new KPTextEditorTextView(this);
    m_textView->setFrameShape(QFrame::NoFrame);
    m_textView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_textView->setUndoRedoEnabled(true);
    // No background of its own: the inspector's panel shows through.
    m_textView->viewport()->setAutoFillBackground(false);
    m_textView->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    m_textView->document()->setDocumentMargin(0);
    m_textView->setGeometry(rect());
    m_textView->setFont(m_textFont);
    setTextColor(m_textColor);
    applyTypingStyle();
    QObject::connect(m_textView, &QPlainTextEdit::textChanged, this, [this] { textDidChange(); });
}

KPTextEditorView::~KPTextEditorView()
{
    m_delegate = {};
}

void KPTextEditorView::resizeEvent(QResizeEvent*)
{
    m_textView->setGeometry(rect());
}

void KPTextEditorView::setTextFont(const QFont& font)
{
    m_textFont = font;
    m_textView->setFont(font);
}

void KPTextEditorView::setTextColor(const QColor& color)
{
    if (!color.isValid())
        return;
    m_textColor = color;
    QPalette palette = m_textView->palette();
    palette.setColor(QPalette::Text, color);
    m_textView->setPalette(palette);
}

void KPTextEditorView::applyTypingStyle()
{
    QTextCursor cursor(m_textView->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
    const bool was = m_silent;
    m_silent = true;
    cursor.mergeBlockFormat(format);
    QTextBlockFormat current = m_textView->textCursor().blockFormat();
    current.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
    QTextCursor typing = m_textView->textCursor();
    typing.setBlockFormat(current);
    m_silent = was;
}

void KPTextEditorView::setStringValue(const QString& text)
{
    m_silent = true;
    m_textView->setPlainText(text);
    applyTypingStyle();
    m_textView->document()->setModified(false);
    m_silent = false;
    m_textView->viewport()->update();
}

QString KPTextEditorView::stringValue() const
{
    return m_textView->toPlainText();
}

void KPTextEditorView::setPlaceHolderString(const QString& text)
{
    m_placeHolder = text;
    m_textView->viewport()->update();
}

void KPTextEditorView::setPlaceHolderTextAttrible(const platform::kit::TextAttributes& attrs, QPointF textOff)
{
    m_placeHolderAttrs = attrs;
    m_placeHolderOff = textOff;
    m_textView->viewport()->update();
}

void KPTextEditorView::textDidChange()
{
    if (m_silent)
        return;
    if (m_delegate.onTextEditorViewTextDidChange)
        m_delegate.onTextEditorViewTextDidChange(m_textView);
    if (m_textView->document()->isEmpty()) {
        // The next typing starts again in the editor's own font, colour and spacing.
        m_textView->setFont(m_textFont);
        setTextColor(m_textColor);
        applyTypingStyle();
    }
    m_textView->viewport()->update();
}

QSizeF KPTextEditorView::textSize() const
{
    QTextDocument* doc = m_textView->document();
    if (doc->isEmpty())
        return size();
    int lines = 0;
    qreal tallest = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        if (!layout)
            continue;
        for (int i = 0; i < layout->lineCount(); ++i) {
            ++lines;
            tallest = std::max(tallest, layout->lineAt(i).height());
        }
    }
    return QSizeF(width(), lines * tallest);
}

QRectF KPTextEditorView::placeHolderRect() const
{
    if (!m_textView->document()->isEmpty() || m_placeHolder.isEmpty())
        return {};
    const qreal h = platform::kit::textSize(m_placeHolder, m_placeHolderAttrs).height();
    const qreal viewportHeight = m_textView->viewport()->height();
    const QRectF up(m_placeHolderOff.x(), m_placeHolderOff.y() + std::round((viewportHeight - h) / 2), width(), h);
    return platform::kit::toQt(up, viewportHeight);
}

void KPTextEditorView::drawPlaceHolder(QPainter& painter)
{
    const QRectF at = placeHolderRect();
    if (at.isEmpty())
        return;
    platform::kit::Canvas canvas(painter, m_textView->viewport()->height());
    canvas.drawText(platform::kit::toUp(at, m_textView->viewport()->height()), m_placeHolder, m_placeHolderAttrs);
}

// The token editor's document: its runs of tokens and typed text, the formats, the edit bracket
// that reports a change of the set of tokens once, the values as the owner sets and reads them,
// and the drawing of the field. Typing and commits, the pointer (clicks, the delete button,
// dragging) and the clipboard with the context menu are in files of their own beside this one.
#include "Controls/KPTokenEditorView.h"

#include "Controls/TokenEditorSupport.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextObjectInterface>
#include <algorithm>

namespace kit = platform::kit;
using namespace tokeneditor;

namespace {

// Sizes and draws token characters. The frame Qt passes is moved to the top of the token's
// own line, so the slices never land on another line of a wrapped editor.
class TokenObjectHandler : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    using QObject::QObject;

    QSizeF intrinsicSize(QTextDocument*, int, const QTextFormat& format) override
    {
        const KPTokenCellPtr cell = cellOf(format);
        return cell ? cell->cellSize() : QSizeF(0, kLineHeight);
    }

    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* doc, int pos, const QTextFormat& format) override
    {
        const KPTokenCellPtr cell = cellOf(format);
        if (!cell)
            return;
        qreal top = rect.y();
        qreal left = 0;
        lineAt(doc, pos, &top, &left);
        cell->draw(*painter, QRectF(rect.x(), top, rect.width(), kLineHeight));
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// KPTokenTextView

KPTokenTextView::KPTokenTextView(KPTokenEditorView* editor) : QTextEdit(editor), m_editor(editor)
{
    setUndoRedoEnabled(false);
    setAcceptRichText(false);
    setAcceptDrops(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setMouseTracking(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    setPalette(pal);
    document()->setDocumentMargin(2);
    document()->documentLayout()->registerHandler(kTokenObjectType, new TokenObjectHandler(this));
    // Typing right behind a token would take over its format and so its cell. With a
    // selection the format would be applied to the selected tokens instead: typing over a
    // selection removes it first (keyPressEvent).
    connect(this, &QTextEdit::currentCharFormatChanged, this, [this](const QTextCharFormat& format) {
        if (!textCursor().hasSelection() && (format.objectType() == kTokenObjectType || format.hasProperty(kCellProperty)))
            setCurrentCharFormat(m_editor->typingFormat());
    });
}

KPTokenCellPtr KPTokenTextView::cellAt(int pos) const
{
    if (pos < 0 || document()->characterAt(pos) != kTokenChar)
        return nullptr;
    QTextCursor cursor(document());
    cursor.setPosition(pos + 1);
    return cellOf(cursor.charFormat());
}

QRectF KPTokenTextView::tokenFrame(int pos) const
{
    const KPTokenCellPtr cell = cellAt(pos);
    qreal top = 0;
    qreal left = 0;
    const QTextLine line = lineAt(document(), pos, &top, &left);
    if (!cell || !line.isValid())
        return {};
    const int rel = pos - document()->findBlock(pos).position();
    return {left + line.cursorToX(rel), top, cell->cellSize().width(), kLineHeight};
}

QPointF KPTokenTextView::toDocument(const QPoint& viewportPoint) const
{
    return QPointF(viewportPoint) + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

// ---------------------------------------------------------------------------------------------
// KPTokenEditorView

KPTokenEditorView::KPTokenEditorView(const QRect& frame, QWidget* parent, const TextViewFactory& makeTextView)
    : QWidget(parent), m_textFont(kit::FontResolver::systemFont(12)), m_textColor(palette().color(QPalette::Text))
{
    setGeometry(frame);
    m_text = makeTextView ? makeTextView(this) : new KPTokenTextView(this);
    m_text->setGeometry(rect());
    m_text->setFont(m_textFont);
    m_text->document()->setDefaultFont(m_textFont);
    m_text->setCurrentCharFormat(typingFormat());
    applyLayout();
    QTextDocument* doc = m_text->document();
    connect(doc, &QTextDocument::contentsChange, this, [this, doc](int pos, int removed, int added) {
        if (m_silent > 0 || (removed == 0 && added == 0))
            return;
        m_pending = true;
        m_lastInput.clear();
        for (int i = 0; i < added; ++i)
            m_lastInput += doc->characterAt(pos + i);
    });
    connect(doc, &QTextDocument::contentsChanged, this, qOverload<>(&QWidget::update));
}

KPTokenEditorView::~KPTokenEditorView()
{
    // The text view and an open menu go after this part of the editor; a window closing on the
    // way takes the keyboard from the text view.
    m_text->editorGoing();
    for (const QMetaObject::Connection& end : std::as_const(m_editEnds))
        disconnect(end);
}

void KPTokenEditorView::setDelegate(KPTokenEditorViewDelegate delegate, QObject* lifetime)
{
    m_delegate = std::move(delegate);
    m_hasLifetime = lifetime != nullptr;
    m_lifetime = lifetime;
}

const KPTokenEditorViewDelegate* KPTokenEditorView::delegate() const
{
    return m_hasLifetime && !m_lifetime ? nullptr : &m_delegate;
}

void KPTokenEditorView::setWraps(bool wraps)
{
    m_wraps = wraps;
    m_text->setLineWrapMode(wraps ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
}

void KPTokenEditorView::setTextFont(const QFont& font)
{
    m_textFont = font;
    m_text->setFont(font);
    m_text->document()->setDefaultFont(font);
    m_text->setCurrentCharFormat(typingFormat());
}

void KPTokenEditorView::setTextColor(const QColor& color)
{
    if (!color.isValid())
        return;
    m_textColor = color;
    QPalette pal = m_text->palette();
    pal.setColor(QPalette::Text, color);
    m_text->setPalette(pal);
    m_text->setCurrentCharFormat(typingFormat());
}

QTextCharFormat KPTokenEditorView::typingFormat() const
{
    QTextCharFormat format;
    format.setFont(m_textFont);
    format.setForeground(m_textColor);
    return format;
}

QTextCharFormat KPTokenEditorView::tokenFormat(const KPTokenCellPtr& cell) const
{
    QTextCharFormat format = typingFormat();
    format.setObjectType(KPTokenTextView::kTokenObjectType);
    format.setProperty(KPTokenTextView::kCellProperty, QVariant::fromValue(cell));
    format.setVerticalAlignment(QTextCharFormat::AlignMiddle);
    return format;
}

void KPTokenEditorView::applyLayout()
{
    Silence quiet(m_silent);
    QTextCursor all(m_text->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat block;
    block.setLineHeight(kLineHeight, QTextBlockFormat::FixedHeight);
    all.mergeBlockFormat(block);
}

std::vector<KPTokenEditorView::Run> KPTokenEditorView::runs() const
{
    std::vector<Run> result;
    Run typed;
    bool inTyped = false;
    auto flush = [&] {
        if (inTyped)
            result.push_back(typed);
        inTyped = false;
    };
    auto addTyped = [&](int pos, const QString& text) {
        if (!inTyped) {
            typed = Run{pos, 0, nullptr, QString()};
            inTyped = true;
        }
        typed.length += int(text.size());
        typed.text += text;
    };
    const QTextDocument* doc = m_text->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const KPTokenCellPtr cell = cellOf(fragment.charFormat());
            const QString text = fragment.text();
            for (int i = 0; i < text.size(); ++i) {
                if (cell && text.at(i) == kTokenChar) {
                    flush();
                    result.push_back(Run{fragment.position() + i, 1, cell, cell->stringValue()});
                } else {
                    addTyped(fragment.position() + i, text.mid(i, 1));
                }
            }
        }
        if (block.next().isValid())
            addTyped(block.position() + block.length() - 1, QStringLiteral("\n"));
    }
    flush();
    return result;
}

std::vector<KPTokenCellPtr> KPTokenEditorView::cells() const
{
    std::vector<KPTokenCellPtr> result;
    for (const auto& run : runs()) {
        if (run.cell)
            result.push_back(run.cell);
    }
    return result;
}

bool KPTokenEditorView::isEmpty() const
{
    return m_text->document()->isEmpty();
}

KPTokenCellPtr KPTokenEditorView::cellForString(const QString& text)
{
    const auto* d = delegate();
    KPTokenCellPtr cell = d && d->cellForString ? d->cellForString(this, text) : nullptr;
    return cell ? cell : std::make_shared<KPTokenAttachmentCell>(text);
}

void KPTokenEditorView::reportChange()
{
    m_tokenTurnedToText = false;
    if (m_editDepth > 0) {
        m_deferredReport = true;
        return;
    }
    reportNow();
}

void KPTokenEditorView::reportNow()
{
    const auto* d = delegate();
    if (d && d->textDidChange)
        d->textDidChange(this);
}

std::vector<const KPTokenAttachmentCell*> KPTokenEditorView::tokenSet() const
{
    std::vector<const KPTokenAttachmentCell*> set;
    for (const KPTokenCellPtr& cell : cells())
        set.push_back(cell.get());
    std::sort(set.begin(), set.end());
    return set;
}

void KPTokenEditorView::runEdit(const std::function<void()>& edit)
{
    beginEdit();
    edit();
    endEdit();
}

void KPTokenEditorView::beginEdit()
{
    if (m_editDepth++ == 0)
        m_editBefore = tokenSet();
}

void KPTokenEditorView::endEdit()
{
    if (m_editDepth == 0 || --m_editDepth > 0)
        return;
    const bool report = m_deferredReport || tokenSet() != m_editBefore;
    m_deferredReport = false;
    m_editBefore.clear();
    if (report)
        reportNow();
}

void KPTokenEditorView::setTokenValues(const QStringList& values)
{
    Silence quiet(m_silent);
    m_text->clear();
    QTextCursor end(m_text->document());
    for (const QString& value : values)
        end.insertText(QString(kTokenChar), tokenFormat(cellForString(value)));
    applyLayout();
    m_text->setTextCursor(end);
    m_text->setCurrentCharFormat(typingFormat());
    m_pending = false;
    // An edit in progress (a menu still open) reports what it changes from here on, not the fill.
    if (m_editDepth > 0)
        m_editBefore = tokenSet();
}

QStringList KPTokenEditorView::tokenValues() const
{
    QStringList values;
    for (const KPTokenCellPtr& cell : cells()) {
        if (!values.contains(cell->stringValue()))
            values.append(cell->stringValue());
    }
    std::sort(values.begin(), values.end());   // by UTF-16 code unit: "B" before "a"
    return values;
}

void KPTokenEditorView::setTokenString(const QString& string)
{
    if (string.isEmpty())
        return;
    setTokenValues(string.split(u','));
}

QString KPTokenEditorView::tokenString() const
{
    return tokenValues().join(u',');
}

void KPTokenEditorView::replaceRun(const Run& run, const QString& text, bool selectTail, int keep)
{
    Silence quiet(m_silent);
    QTextCursor cursor(m_text->document());
    cursor.setPosition(run.start);
    cursor.setPosition(run.start + run.length, QTextCursor::KeepAnchor);
    cursor.insertText(text, typingFormat());
    if (selectTail && text.size() > keep) {
        cursor.setPosition(run.start + keep);
        cursor.setPosition(run.start + int(text.size()), QTextCursor::KeepAnchor);
    }
    m_text->setTextCursor(cursor);
}

QSizeF KPTokenEditorView::textSize() const
{
    if (isEmpty())
        return size();
    int lines = 0;
    for (QTextBlock block = m_text->document()->begin(); block.isValid(); block = block.next())
        lines += block.layout() ? block.layout()->lineCount() : 0;
    return {qreal(width()), lines * kLineHeight};
}

QPointF KPTokenEditorView::selectRangeLocation() const
{
    if (isEmpty())
        return {};
    const int selStart = m_text->textCursor().selectionStart();
    for (const Run& run : runs()) {
        if (run.cell || !run.contains(selStart))
            continue;
        qreal top = 0;
        qreal left = 0;
        const QTextLine line = lineAt(m_text->document(), run.start, &top, &left);
        if (!line.isValid())
            return {};
        const int rel = run.start - m_text->document()->findBlock(run.start).position();
        const QPointF inDoc(left + line.cursorToX(rel), top + kLineHeight);
        const QPointF inViewport = inDoc - QPointF(m_text->horizontalScrollBar()->value(), m_text->verticalScrollBar()->value());
        return inViewport + QPointF(m_text->viewport()->mapTo(this, QPoint(0, 0)));
    }
    return {};
}

void KPTokenEditorView::setPlaceHolderString(const QString& text)
{
    m_placeHolder = text;
    update();
}

void KPTokenEditorView::setPlaceHolderTextAttrible(const kit::TextAttributes& attrs, QPointF textOff)
{
    m_placeHolderAttrs = attrs;
    m_placeHolderOffset = textOff;
    update();
}

void KPTokenEditorView::setDrawsFieldFrame(bool draws)
{
    m_drawsFieldFrame = draws;
    resizeEvent(nullptr);
    update();
}

void KPTokenEditorView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (const auto* d = delegate(); d && d->drawBackground)
        d->drawBackground(this, painter);
    if (m_drawsFieldFrame) {
        // A grey that shows on white and on the popover's light ground alike.
        const QColor outline(0x9a, 0x9a, 0x9a);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(outline, 1));
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        painter.restore();
    }
    if (!isEmpty() || m_placeHolder.isEmpty())
        return;
    const qreal h = kit::textSize(m_placeHolder, m_placeHolderAttrs).height();
    kit::Canvas canvas(painter, height());
    if (m_drawsFieldFrame) {
        // Where the first typed line will be, under the caret.
        const qreal top = height() - kFieldInset - h - 1;
        canvas.drawText(QRectF(kFieldInset + 4 + m_placeHolderOffset.x(), top + m_placeHolderOffset.y(),
                               width() - 2 * kFieldInset, h),
                        m_placeHolder, m_placeHolderAttrs);
        return;
    }
    const qreal y = std::round((height() - h) / 2);
    canvas.drawText(QRectF(m_placeHolderOffset.x(), y + m_placeHolderOffset.y(), width(), h), m_placeHolder, m_placeHolderAttrs);
}

void KPTokenEditorView::resizeEvent(QResizeEvent*)
{
    m_text->setGeometry(m_drawsFieldFrame ? rect().adjusted(kFieldInset, kFieldInset, -kFieldInset, -kFieldInset) : rect());
}

#include "KPTokenEditorView.moc"

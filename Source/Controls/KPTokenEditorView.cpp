#include "Controls/KPTokenEditorView.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/PasteboardCodec.h"

#include <QAbstractTextDocumentLayout>
#include <QFocusEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextObjectInterface>
#include <algorithm>

namespace kit = platform::kit;
namespace keychar = platform::kit::keychar;

namespace {

constexpr qreal kLineHeight = 20.0;
constexpr int kDragThreshold = 4;
// A pasted line longer than this is cut: the editor holds a few words, not documents.
constexpr qsizetype kMaxPastedLine = 64 * 1024;
const QChar kTokenChar = QChar::ObjectReplacementCharacter;

class Silence {
public:
    explicit Silence(int& depth) : m_depth(depth) { ++m_depth; }
    ~Silence() { --m_depth; }
    Silence(const Silence&) = delete;
    Silence& operator=(const Silence&) = delete;

private:
    int& m_depth;
};

KPTokenCellPtr cellOf(const QTextFormat& format)
{
    return format.property(KPTokenTextView::kCellProperty).value<KPTokenCellPtr>();
}

// The line that holds pos, with its box's top and the block's left in document coordinates.
QTextLine lineAt(const QTextDocument* doc, int pos, qreal* top, qreal* left)
{
    doc->documentLayout()->documentSize();   // lays out what is still pending
    const QTextBlock block = doc->findBlock(pos);
    QTextLayout* layout = block.isValid() ? block.layout() : nullptr;
    if (!layout)
        return {};
    const QTextLine line = layout->lineForTextPosition(pos - block.position());
    if (line.isValid()) {
        // Qt places a fixed-height line's own y by its glyphs; the 20-point line boxes are
        // stacked from the block's top.
        *top = layout->position().y() + line.lineNumber() * kLineHeight;
        *left = layout->position().x();
    }
    return line;
}

// Plain text as the editor takes it: its first line only, at most kMaxPastedLine characters
// (never ending inside a surrogate pair), without object-replacement characters, which would
// pose as tokens.
QString firstLineOf(const QString& text)
{
    qsizetype end = text.size();
    for (QChar stop : {QChar(u'\n'), QChar(u'\r'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)}) {
        const qsizetype at = text.indexOf(stop);
        if (at >= 0)
            end = std::min(end, at);
    }
    end = std::min(end, kMaxPastedLine);
    if (end > 0 && end < text.size() && text.at(end - 1).isHighSurrogate())
        --end;
    QString line = text.left(end);
    line.remove(kTokenChar);
    return line;
}

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

// Cut, Delete and Paste of the standard menu are edits like their keys. The menu stays up after
// this returns and its item runs later: the edit begins when the menu opens and ends when the
// menu has gone, after whatever item was chosen has run.
void KPTokenTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu(event->pos());
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    m_editor->beginEditUntilGone(menu);
    menu->popup(event->globalPos());
}

QMimeData* KPTokenTextView::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    const int from = cursor.selectionStart();
    const int to = cursor.selectionEnd();
    QVariantList items;
    QString plain;
    for (const auto& run : m_editor->runs()) {
        const int start = std::max(from, run.start);
        const int end = std::min(to, run.start + run.length);
        if (end <= start)
            continue;
        QString type = QStringLiteral("String");
        QString data;
        if (run.cell) {
            type = run.cell->className();
            data = run.cell->stringValue();
        } else {
            data = run.text.mid(start - run.start, end - start).trimmed();
            if (data.isEmpty())
                continue;
        }
        items.append(QVariantMap{{QStringLiteral("Type"), type}, {QStringLiteral("Data"), data}});
        plain += data + u' ';
    }
    if (plain.size() >= 2)
        plain.chop(1);
    auto* mime = new QMimeData;
    (void)kit::pasteboard::writeValue(*mime, kit::pasteboard::kTokenEditor, items);
    mime->setText(plain);
    return mime;
}

bool KPTokenTextView::canInsertFromMimeData(const QMimeData* source) const
{
    return source->hasFormat(kit::pasteboard::kTokenEditor) || source->hasText();
}

void KPTokenTextView::insertFromMimeData(const QMimeData* source)
{
    const auto records = kit::pasteboard::readRecords(*source, kit::pasteboard::kTokenEditor);
    m_editor->runEdit([&] {
        QTextCursor at = textCursor();
        if (records) {
            {
                Silence quiet(m_editor->m_silent);
                at.removeSelectedText();
            }
            for (const QVariant& record : *records) {
                const QVariantMap item = record.toMap();
                const QVariant type = item.value(QStringLiteral("Type"));
                const QVariant data = item.value(QStringLiteral("Data"));
                if (type.typeId() != QMetaType::QString || data.typeId() != QMetaType::QString)
                    continue;
                if (type.toString() != QLatin1String("String")) {
                    if (const KPTokenCellPtr cell = m_editor->createAttachmentCellFromType(type.toString())) {
                        cell->setStringValue(data.toString());
                        Silence quiet(m_editor->m_silent);
                        at.insertText(QString(kTokenChar), m_editor->tokenFormat(cell));
                        continue;
                    }
                    if (!m_editor->pastesUnknownTokensAsText())
                        continue;
                }
                // The cursor follows edits made by the change handling (a comma commit).
                at.insertText(firstLineOf(data.toString()), m_editor->typingFormat());
                setTextCursor(at);
                m_editor->flushChange();
                at.setPosition(std::min(at.position(), document()->characterCount() - 1));
            }
            setTextCursor(at);
            m_editor->pasteboardChanged();
            return;
        }
        if (!source->hasText())
            return;
        const QString text = source->text().trimmed();
        if (text.isEmpty())
            return;
        at.insertText(firstLineOf(text), m_editor->typingFormat());
        setTextCursor(at);
        m_editor->flushChange();
        m_editor->pasteboardChanged();
    });
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

KPTokenCellPtr KPTokenEditorView::createAttachmentCellFromType(const QString& type)
{
    const auto* d = delegate();
    return d && d->attachmentType ? d->attachmentType(this, type) : nullptr;
}

void KPTokenEditorView::pasteboardChanged()
{
    reportChange();
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

void KPTokenEditorView::beginEditUntilGone(QObject* menu)
{
    beginEdit();
    std::erase_if(m_editEnds, [](const QMetaObject::Connection& spent) { return !spent; });
    m_editEnds.push_back(connect(menu, &QObject::destroyed, this, [this] {
        flushChange();
        endEdit();
    }));
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

#include "SearchField/KPSearchTextEditor.h"

#include "Controls/KPThemeImageButton.h"
#include "Controls/KPTokenEditorView.h"
#include "SearchField/KPSearchTextView.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>

namespace {

constexpr QChar kTokenChar(0xFFFC);

const KPCustomThemeObject* searchTheme()
{
    return KPThemeManager::themeManager()->customThemeObjectWithName(QStringLiteral("Search"));
}

void drawSlice(QPainter& painter, const KPSprite* sprite, qreal x, qreal width, qreal height)
{
    if (sprite && !sprite->image().isNull() && width > 0)
        painter.drawImage(QRectF(x, 0, width, height), sprite->image());
}

} // namespace

KPSearchTextEditor::KPSearchTextEditor(const QRect& frame, QWidget* parent) : QWidget(parent)
{
    setGeometry(frame);
    m_editor = new KPTokenEditorView(QRect(30, 2, std::max(0, frame.width() - 54), 20), this,
                                     [this](KPTokenEditorView* engine) {
                                         m_textView = new KPSearchTextView(engine, this);
                                         return m_textView;
                                     });
    m_editor->setWraps(false);
    // Runs are committed on Return or a chosen suggestion only: a comma is part of a name or a
    // phrase, and "#work," is still the tag being typed.
    m_editor->setCommitsOnComma(false);
    // One line that scrolls sideways with the caret: no scroll bars in a 20-point field.
    m_editor->textView()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->textView()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setTextFont(platform::kit::FontResolver::systemFont(12));
    if (const KPCustomThemeObject* theme = searchTheme()) {
        if (const auto* color = theme->themeObjectWithName<KPColor>(QStringLiteral("FontColor")); color && color->color())
            m_editor->setTextColor(*color->color());
    }
    m_editor->setPlaceHolderString(platform::localizedString(QStringLiteral("Search")));

    KPTokenEditorViewDelegate d;
    d.cellForString = [](KPTokenEditorView*, const QString& text) -> KPTokenCellPtr {
        return std::make_shared<KPSTAttachmentCell>(text);
    };
    // Copied tag and author tokens paste as tokens of those kinds.
    d.attachmentType = [](KPTokenEditorView*, const QString& type) -> KPTokenCellPtr {
        if (type == QStringLiteral("KPTokenTagAttachmentCell"))
            return std::make_shared<KPSTAttachmentCell>(QString(), SearchTokenTag);
        if (type == QStringLiteral("KPTokenAuthorAttachmentCell"))
            return std::make_shared<KPSTAttachmentCell>(QString(), SearchTokenAuthor);
        return nullptr;
    };
    d.textDidChange = [this](KPTokenEditorView*) { didChange(); };
    d.partValueChange = [this](KPTokenEditorView*, const std::optional<QString>& run) -> std::optional<QString> {
        updateClearButton();
        if (!run) {
            // No typed run (an empty field or tokens only): the suggestions go.
            if (m_delegate.onSearchTextEditorDone)
                m_delegate.onSearchTextEditorDone();
            return std::nullopt;
        }
        return m_delegate.onSearchTextEditorPartValueChange ? m_delegate.onSearchTextEditorPartValueChange(*run)
                                                            : std::nullopt;
    };
    d.partKeyDown = [this](KPTokenEditorView*, int key) -> std::optional<QString> {
        return m_delegate.onSearchTextEditorKeyUpAndDown ? m_delegate.onSearchTextEditorKeyUpAndDown(key) : std::nullopt;
    };
    m_editor->setDelegate(std::move(d), this);

    m_btnClean = new KPThemeImageButton(QRect(frame.width() - 20, 4, 16, 16), this);
    if (const KPCustomThemeObject* theme = searchTheme())
        m_btnClean->setMultiSprite(theme->themeObjectWithName<KPMultiSprite>(QStringLiteral("SearchTextFieldClearButton")));
    m_btnClean->setupAction([this](KPThemeImageButton*) {
        clear();
        didChange();
    });
    m_btnClean->hide();

    QObject::connect(textView()->document(), &QTextDocument::contentsChanged, this, [this] { updateClearButton(); });
}

KPSearchTextEditor::~KPSearchTextEditor()
{
    // The text view outlives this part of the field for a moment and may still lose the keyboard.
    m_textView->forgetField();
}

QVariantList KPSearchTextEditor::searchValues() const
{
    QVariantList values;
    for (const KPTokenCellPtr& cell : m_editor->cells()) {
        const auto* token = dynamic_cast<const KPSTAttachmentCell*>(cell.get());
        if (token)
            values.append(SearchTokenValue::make(SearchTokenType(token->cellType()), token->stringValue()));
    }
    return values;
}

bool KPSearchTextEditor::isEmpty() const
{
    return m_editor->isEmpty();
}

void KPSearchTextEditor::clear()
{
    m_editor->setTokenValues({});
    updateClearButton();
}

void KPSearchTextEditor::didChange()
{
    updateClearButton();
    if (m_delegate.onSearchTextEditorDidChange)
        m_delegate.onSearchTextEditorDidChange(this);
}

void KPSearchTextEditor::updateClearButton()
{
    m_btnClean->setVisible(!m_editor->isEmpty());
}

void KPSearchTextEditor::commit()
{
    if (m_editor->isEmpty())
        return;
    for (const KPTokenEditorView::Run& run : m_editor->runs()) {
        if (run.cell)
            continue;
        const QString text = run.text.trimmed();
        if (text.isEmpty())
            continue;
        int type = SearchTokenText;
        QString value = text;
        const QChar first = text.front();
        if (first == u'#' || first == u'@' || first == u'.') {
            type = first == u'#' ? SearchTokenTag : first == u'@' ? SearchTokenAuthor : SearchTokenFileType;
            value = text.mid(1).trimmed();
        } else if (m_delegate.onSearchTextEditorConfirmDataType) {
            const QString prefix = m_delegate.onSearchTextEditorConfirmDataType();
            if (prefix == QStringLiteral("#"))
                type = SearchTokenTag;
            else if (prefix == QStringLiteral("@"))
                type = SearchTokenAuthor;
            else if (prefix == QStringLiteral("."))
                type = SearchTokenFileType;
        }
        QTextCursor cursor(textView()->document());
        cursor.setPosition(run.start);
        cursor.setPosition(run.start + run.length, QTextCursor::KeepAnchor);
        if (value.isEmpty()) {
            // A prefix alone names nothing.
            cursor.removeSelectedText();
            updateClearButton();
            return;
        }
        const KPTokenCellPtr cell = std::make_shared<KPSTAttachmentCell>(value, type);
        m_editor->runEdit([&] {
            cursor.insertText(QString(kTokenChar), m_editor->tokenFormat(cell));
            textView()->setTextCursor(cursor);
            textView()->setCurrentCharFormat(m_editor->typingFormat());
            m_editor->flushChange();
        });
        return;
    }
    if (m_delegate.onSearchTextEditorDone)
        m_delegate.onSearchTextEditorDone();
}

void KPSearchTextEditor::cancel()
{
    bool typed = false;
    const auto runs = m_editor->runs();
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (run->cell)
            continue;
        typed = true;
        QTextCursor cursor(textView()->document());
        cursor.setPosition(run->start);
        cursor.setPosition(run->start + run->length, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    if (typed) {
        updateClearButton();
        return;
    }
    if (!m_editor->isEmpty()) {
        clear();
        didChange();
        return;
    }
    clear();
    textView()->clearFocus();
    if (m_delegate.onSearchTextEditorExit)
        m_delegate.onSearchTextEditorExit();
}

void KPSearchTextEditor::setCurrentPartValue(const QString& value)
{
    if (value.isEmpty())
        return;
    QTextCursor cursor = textView()->textCursor();
    const int caret = cursor.position();
    for (const KPTokenEditorView::Run& run : m_editor->runs()) {
        if (!run.cell && run.contains(caret)) {
            cursor.setPosition(run.start);
            cursor.setPosition(run.start + run.length, QTextCursor::KeepAnchor);
            break;
        }
    }
    cursor.insertText(value, m_editor->typingFormat());
    textView()->setTextCursor(cursor);
    commit();
}

void KPSearchTextEditor::textViewKeyUpAndDown(int key)
{
    m_editor->runEdit([&] { m_editor->keyDown(key); });
}

void KPSearchTextEditor::textViewFirstResponderChange(FirstResponder change)
{
    if (change == FirstResponder::Become) {
        if (m_delegate.onSearchTextEditorWillStart)
            m_delegate.onSearchTextEditorWillStart();
    } else if (m_delegate.onSearchTextEditorWillEnd) {
        m_delegate.onSearchTextEditorWillEnd();
    }
}

void KPSearchTextEditor::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void KPSearchTextEditor::layoutChildren()
{
    m_editor->setGeometry(30, 2, std::max(0, width() - 54), 20);
    m_btnClean->move(width() - 20, 4);
}

void KPSearchTextEditor::paintEvent(QPaintEvent*)
{
    const KPCustomThemeObject* theme = searchTheme();
    const auto* slices = theme ? theme->themeObjectWithName<KPHorizontalSprite>(
                                     m_boolMouseDownBtnSearch ? QStringLiteral("BGImage_Highlight") : QStringLiteral("BGImage_Normal"))
                               : nullptr;
    QPainter painter(this);
    if (!slices) {
        painter.setPen(palette().mid().color());
        painter.setBrush(palette().base());
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0, height() / 2.0);
        return;
    }
    const qreal lw = slices->leftSprite() ? slices->leftSprite()->size().width() : 0;
    const qreal rw = slices->rightSprite() ? slices->rightSprite()->size().width() : 0;
    drawSlice(painter, slices->leftSprite(), 0, lw, height());
    drawSlice(painter, slices->centerSprite(), lw, width() - lw - rw, height());
    drawSlice(painter, slices->rightSprite(), width() - rw, rw, height());
}

void KPSearchTextEditor::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && kSearchButtonRect.contains(event->position().toPoint())) {
        m_boolMouseDownBtnSearch = true;
        update();
        return;
    }
    QWidget::mousePressEvent(event);
}

void KPSearchTextEditor::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton) {
        const bool inside = kSearchButtonRect.contains(event->position().toPoint());
        if (inside != m_boolMouseDownBtnSearch && (m_boolMouseDownBtnSearch || inside)) {
            m_boolMouseDownBtnSearch = inside;
            update();
        }
    }
    QWidget::mouseMoveEvent(event);
}

void KPSearchTextEditor::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_boolMouseDownBtnSearch) {
        m_boolMouseDownBtnSearch = false;
        update();
        if (kSearchButtonRect.contains(event->position().toPoint()) && m_delegate.onSearchTextEditorSearchClick)
            m_delegate.onSearchTextEditorSearchClick(this);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

// The token editor's clipboard and context menu: tokens are copied as tokens (with a plain-text
// form beside them) and pasted as tokens, and the menu's Cut, Delete and Paste are edits as
// their keys are.
#include "Controls/KPTokenEditorView.h"

#include "Controls/TokenEditorSupport.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/PasteboardCodec.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextDocument>
#include <algorithm>

namespace kit = platform::kit;
using namespace tokeneditor;

namespace {

// A pasted line longer than this is cut: the editor holds a few words, not documents.
constexpr qsizetype kMaxPastedLine = 64 * 1024;

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

} // namespace

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

void KPTokenEditorView::beginEditUntilGone(QObject* menu)
{
    beginEdit();
    std::erase_if(m_editEnds, [](const QMetaObject::Connection& spent) { return !spent; });
    m_editEnds.push_back(connect(menu, &QObject::destroyed, this, [this] {
        flushChange();
        endEdit();
    }));
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

#include "Controls/TokenEditorSupport.h"

#include "Controls/KPTokenEditorView.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace tokeneditor {

KPTokenCellPtr cellOf(const QTextFormat& format)
{
    return format.property(KPTokenTextView::kCellProperty).value<KPTokenCellPtr>();
}

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

} // namespace tokeneditor

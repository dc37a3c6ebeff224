#include "TokenTestSupport.h"

#include <QTextDocument>

namespace tokentest {

std::unique_ptr<KPTokenEditorView> makeEditor(Owner& owner, QSize size)
{
    auto editor = std::make_unique<KPTokenEditorView>(QRect(QPoint(0, 0), size));
    KPTokenEditorViewDelegate d;
    d.cellForString = [](KPTokenEditorView*, const QString& s) { return std::make_shared<KPTokenTagAttachmentCell>(s); };
    d.attachmentType = [&owner](KPTokenEditorView*, const QString& type) -> KPTokenCellPtr {
        if (owner.pasteCells && type == QLatin1String("KPTokenTagAttachmentCell"))
            return std::make_shared<KPTokenTagAttachmentCell>();
        return nullptr;
    };
    d.textDidChange = [&owner](KPTokenEditorView*) { ++owner.changes; };
    d.enterDone = [&owner] { ++owner.enterDone; };
    d.autoCompletedDone = [&owner](KPTokenEditorView*) { ++owner.autoDone; };
    d.partValueChange = [&owner](KPTokenEditorView*, const std::optional<QString>& part) {
        owner.parts.append(part);
        return owner.completion;
    };
    d.partKeyDown = [&owner](KPTokenEditorView*, int key) {
        owner.keys.append(key);
        return owner.keyAnswer;
    };
    editor->setDelegate(std::move(d));
    editor->show();
    editor->textView()->setFocus();
    return editor;
}

QString content(const KPTokenEditorView& editor)
{
    QString out;
    for (const auto& run : editor.runs())
        out += run.cell ? QStringLiteral("[%1]").arg(run.text) : run.text;
    return out;
}

QStringList tokens(const KPTokenEditorView& editor)
{
    QStringList out;
    for (const auto& cell : editor.cells())
        out.append(cell->stringValue());
    return out;
}

QPoint tokenCentre(const KPTokenEditorView& editor, int pos)
{
    return editor.textView()->tokenFrame(pos).center().toPoint();
}

QPoint deleteButtonCentre(const KPTokenEditorView& editor, int pos)
{
    const KPTokenCellPtr cell = editor.textView()->cellAt(pos);
    return cell->buttonRectByCellFrame(editor.textView()->tokenFrame(pos)).center().toPoint();
}

} // namespace tokentest

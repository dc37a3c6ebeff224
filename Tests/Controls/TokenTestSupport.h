// An offscreen token editor whose owner records every report, and ways to read its content.
#pragma once

#include "Controls/KPTokenEditorView.h"

#include <QStringList>
#include <memory>
#include <optional>

namespace tokentest {

struct Owner {
    int changes = 0;
    int enterDone = 0;
    int autoDone = 0;
    QList<std::optional<QString>> parts;
    QList<int> keys;
    std::optional<QString> completion;   // answered to partValueChange
    std::optional<QString> keyAnswer;    // answered to partKeyDown
    bool pasteCells = true;              // answer tag cells for pasted tag items
};

// A 300 × 60 editor, shown offscreen, making tag tokens.
std::unique_ptr<KPTokenEditorView> makeEditor(Owner& owner, QSize size = QSize(300, 60));

// "[a]" for a token a, plain characters for typed text: the whole content in order.
QString content(const KPTokenEditorView& editor);
QStringList tokens(const KPTokenEditorView& editor);
// The viewport point at the centre of the token at pos, or at its delete button.
QPoint tokenCentre(const KPTokenEditorView& editor, int pos);
QPoint deleteButtonCentre(const KPTokenEditorView& editor, int pos);

} // namespace tokentest

// What the files of the token editor share: the line height, the token character, the guard
// that keeps programmatic edits out of the change handling, a token's cell and where its line
// lies. Main thread only.
#pragma once

#include "Controls/KPTokenAttachmentCell.h"

#include <QChar>
#include <QTextLine>

class QTextDocument;
class QTextFormat;

namespace tokeneditor {

inline constexpr qreal kLineHeight = 20.0;
inline const QChar kTokenChar = QChar::ObjectReplacementCharacter;

// While one lives, edits of the document are the editor's own: the change handling skips them.
class Silence {
public:
    explicit Silence(int& depth) : m_depth(depth) { ++m_depth; }
    ~Silence() { --m_depth; }
    Silence(const Silence&) = delete;
    Silence& operator=(const Silence&) = delete;

private:
    int& m_depth;
};

// The cell a character format carries, or null.
KPTokenCellPtr cellOf(const QTextFormat& format);

// The line that holds pos, with its box's top and the block's left in document coordinates.
QTextLine lineAt(const QTextDocument* doc, int pos, qreal* top, qreal* left);

} // namespace tokeneditor

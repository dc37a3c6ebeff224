// Packs the pictures of one theme onto a sprite sheet and renders the sheet at any scale.
// Layout is decided once in 1x points (simple shelf packing, tallest first, with padding so
// scaled sampling never bleeds into a neighbour); rendering runs every draw function at its
// place under a scaled painter, so the 1x and 2x sheets hold the same pictures.
#pragma once

#include "ThemeArt.h"

#include <QImage>
#include <QRect>
#include <vector>

namespace themegen {

class SheetBuilder {
public:
    // Points of empty space around every piece.
    static constexpr int kPadding = 2;
    // Sheet width in points; wide enough for the largest picture.
    static constexpr int kSheetWidth = 512;

    int addPiece(const QSize& size, DrawFn draw);
    void pack();
    QRect rectOf(int piece) const { return m_pieces[size_t(piece)].rect; }
    QSize sheetSize() const { return m_sheetSize; }
    QImage render(int scale) const;

private:
    struct Piece {
        QSize size;
        DrawFn draw;
        QRect rect;
    };
    std::vector<Piece> m_pieces;
    QSize m_sheetSize;
};

// "{{x, y}, {w, h}}".
QString rectText(const QRect& r);

} // namespace themegen

#include "SheetBuilder.h"

#include <QPainter>
#include <algorithm>
#include <numeric>

namespace themegen {

QString rectText(const QRect& r)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

int SheetBuilder::addPiece(const QSize& size, DrawFn draw)
{
    m_pieces.push_back({size, std::move(draw), {}});
    return int(m_pieces.size()) - 1;
}

void SheetBuilder::pack()
{
    std::vector<size_t> order(m_pieces.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return m_pieces[a].size.height() > m_pieces[b].size.height(); });
    int x = kPadding;
    int y = kPadding;
    int shelf = 0;
    int widest = 0;
    for (size_t i : order) {
        Piece& piece = m_pieces[i];
        if (x + piece.size.width() + kPadding > kSheetWidth && x > kPadding) {
            y += shelf + kPadding;
            x = kPadding;
            shelf = 0;
        }
        piece.rect = QRect(QPoint(x, y), piece.size);
        x += piece.size.width() + kPadding;
        shelf = std::max(shelf, piece.size.height());
        widest = std::max(widest, x);
    }
    m_sheetSize = QSize(std::max(widest, kSheetWidth), y + shelf + kPadding);
}

QImage SheetBuilder::render(int scale) const
{
    QImage sheet(m_sheetSize * scale, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::transparent);
    QPainter p(&sheet);
    p.scale(scale, scale);
    for (const Piece& piece : m_pieces) {
        if (!piece.draw)
            continue;
        p.save();
        p.translate(piece.rect.topLeft());
        p.setClipRect(QRect(QPoint(0, 0), piece.size));
        piece.draw(p, QSizeF(piece.size));
        p.restore();
    }
    p.end();
    return sheet;
}

} // namespace themegen

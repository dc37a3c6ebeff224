// One token of the search field: its kind (SearchTokenType) and text, drawn as the three-slice
// label of its kind with a delete button. Text tokens are narrower than tag, file-type and
// author tokens, whose labels leave room for the kind's mark.
#pragma once

#include "Controls/KPTokenAttachmentCell.h"
#include "SearchField/SearchQuery.h"

class KPSTAttachmentCell final : public KPTokenThemedCell {
public:
    explicit KPSTAttachmentCell(const QString& text, int type = SearchTokenText);

    int cellType() const { return m_type; }
    QString className() const override { return QStringLiteral("KPSTAttachmentCell"); }
    // (round(min(160, text width) + 33 for text or + 46 for the other kinds), 20).
    QSizeF cellSize() const override;
    void draw(QPainter& painter, const QRectF& frame) const override;

private:
    int m_type;
};

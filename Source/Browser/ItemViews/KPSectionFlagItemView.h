// The tile of one flag in the Flagged view: a rounded card with the flag's picture, its name
// from the library's flag configuration and the document count. A click posts
// "SectionFlagViewClick" with the flag record.
#pragma once

#include "Browser/ItemViews/GroupTileSupport.h"
#include "Browser/KPGroupRecords.h"

#include <optional>

class KPSectionFlagItemView : public KPGroupTileView {
public:
    static inline const QString kClickNotification = QStringLiteral("SectionFlagViewClick");

    using KPGroupTileView::KPGroupTileView;

    void setItemData(const FlagGroupRecord& record);
    const std::optional<FlagGroupRecord>& itemData() const { return m_record; }

protected:
    void paintEvent(QPaintEvent* event) override;
    QString clickNotification() const override { return kClickNotification; }
    QVariant clickObject() const override;

private:
    std::optional<FlagGroupRecord> m_record;
};

// The tile of one month in the Document Date view: a background picture, the month's short
// name and the document count. A click posts "SectionDateItemViewClick" with the month record.
#pragma once

#include "Browser/ItemViews/GroupTileSupport.h"
#include "Browser/KPGroupRecords.h"

#include <optional>

class KPSectionDateItemView : public KPGroupTileView {
public:
    static inline const QString kClickNotification = QStringLiteral("SectionDateItemViewClick");

    using KPGroupTileView::KPGroupTileView;

    void setItemData(const MonthGroupRecord& record);
    const std::optional<MonthGroupRecord>& itemData() const { return m_record; }
    // "Jan" … "Dec" for a month number, clamped to the year.
    static QString monthName(int month);

protected:
    void paintEvent(QPaintEvent* event) override;
    QString clickNotification() const override { return kClickNotification; }
    QVariant clickObject() const override;

private:
    std::optional<MonthGroupRecord> m_record;
};

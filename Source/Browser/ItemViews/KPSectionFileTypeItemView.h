// The tile of one kind in the File Type view: the kind's icon ("fileicon/<ID>.png", or "-1"
// for kinds without one) and the document count. Icons are loaded once per process. A click
// posts "SectionFileTypeViewClick" with the kind record.
#pragma once

#include "Browser/ItemViews/GroupTileSupport.h"
#include "Browser/KPGroupRecords.h"

#include <QImage>
#include <optional>

class KPSectionFileTypeItemView : public KPGroupTileView {
public:
    static inline const QString kClickNotification = QStringLiteral("SectionFileTypeViewClick");

    using KPGroupTileView::KPGroupTileView;

    void setItemData(const FileTypeGroupRecord& record);
    const std::optional<FileTypeGroupRecord>& itemData() const { return m_record; }
    const QString& iconFileName() const { return m_iconFileName; }
    // The icon for iconFileName: the kind's own, else "-1"; null when neither exists.
    QImage icon() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    QString clickNotification() const override { return kClickNotification; }
    QVariant clickObject() const override;

private:
    std::optional<FileTypeGroupRecord> m_record;
    QString m_iconFileName;
};

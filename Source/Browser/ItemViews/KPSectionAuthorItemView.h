// The tile of one author in the Author view: a background card, the author's name, a picture
// and the document count. There is no system address book here, so the picture is always the
// theme's "DefaultIcon". A click posts "SectionAuthorViewClick" with the author record.
#pragma once

#include "Browser/ItemViews/GroupTileSupport.h"
#include "Store/DBAuthor.h"

class KPSectionAuthorItemView : public KPGroupTileView {
public:
    static inline const QString kClickNotification = QStringLiteral("SectionAuthorViewClick");

    using KPGroupTileView::KPGroupTileView;

    // Keeps the record, its name and the number of its documents not in the trash.
    void setAuthor(const DBAuthor& author);
    const DBAuthor& author() const { return m_author; }
    const QString& authorName() const { return m_authorName; }
    qint64 itemCount() const { return m_itemCount; }

protected:
    void paintEvent(QPaintEvent* event) override;
    QString clickNotification() const override { return kClickNotification; }
    QVariant clickObject() const override;

private:
    DBAuthor m_author;
    QString m_authorName;
    qint64 m_itemCount = 0;
};

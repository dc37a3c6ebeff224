// What the four group tiles share: the count line, the hover fade, the click notification, and
// the word rules by which an author's name would be looked up in an address book.
#pragma once

#include "Browser/CollectionView/KPCollectionItemView.h"

#include <QString>
#include <QStringList>
#include <QVariant>

namespace grouptile {

// "%ld file" for exactly one, else "%ld files" (localised).
QString countText(qint64 count);
// 0.7 while hovered, else 1.
inline qreal fadeOpacity(bool hovered)
{
    return hovered ? 0.7 : 1.0;
}

// How a name would be searched: first name, last name and maiden name to match (empty: not
// part of the search). One word matches first OR last name (eitherName); more than three words
// are never searched (searchable false).
struct AuthorSearch {
    bool searchable = false;
    bool eitherName = false;
    QString first;
    QString last;
    QString maiden;
};
AuthorSearch authorSearchForName(const QString& name);

} // namespace grouptile

// The base of the tiles: tracks the pointer (redrawing faded while it is over the tile) and
// posts its click notification with its record on a press.
class KPGroupTileView : public KPCollectionItemView {
public:
    using KPCollectionItemView::KPCollectionItemView;

    bool trackMouseEnterWithEvent(const QPointF&) const override { return true; }
    void mouseEntered(const QPointF&) override;
    void mouseExited() override;
    bool isMouseIn() const { return m_isMouseIn; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    // The notification name and its object; an invalid object posts nothing.
    virtual QString clickNotification() const = 0;
    virtual QVariant clickObject() const = 0;

private:
    bool m_isMouseIn = false;
};

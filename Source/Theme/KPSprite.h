// One bitmap element cut from the sprite sheet. The image carries the sheet's scale as its
// device pixel ratio, so on a 2x sheet it holds twice the pixels and still reports its 1x
// point size; image and imageRef are therefore the same QImage.
#pragma once

#include "Theme/KPThemeObject.h"

#include <QImage>
#include <QSizeF>

class KPSprite : public KPThemeObject {
public:
    KPSprite(QVariantMap desc, QString name, const KPThemeSheet* sheet);
    // A sprite around an image that is already cut (the members of multi-sprites and slices).
    KPSprite(QImage image, QVariantMap desc, QString name);

    const QImage& image() const { return m_image; }
    const QImage& imageRef() const { return m_image; }
    // Point size of the image; zero without one.
    QSizeF size() const;

    // The part of sheet inside the pixel rectangle; null for an empty or outside rectangle.
    static QImage cutImageInRect(const QImage& sheet, const QRect& pixels);

protected:
    void loadObject() override;

private:
    QImage m_image;
};

#include "Controls/KPViewModeButton.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Kit/ImageSlicing.h"

#include <QPainter>

KPViewModeButton::KPViewModeButton(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    setGeometry(QRect(frame.topLeft(), QSize(kWidth, kHeight)));
    setFixedSize(kWidth, kHeight);
    const QImage sheet(platform::Bundle::mainBundle().pathForResource(QStringLiteral("KPViewModeButton"), QStringLiteral("png")));
    for (int i = 0; i < 4; ++i)
        m_buttonBGRef[size_t(i)] = platform::kit::cutPixels(sheet, QRect(0, i * kPictureStride, kWidth, kHeight));
}

void KPViewModeButton::paintEvent(QPaintEvent*)
{
    if (m_buttonBGRef[0].isNull())
        return;
    QPainter painter(this);
    painter.drawImage(rect(), m_buttonBGRef[0]);
}

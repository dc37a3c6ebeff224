#include "Scanner/KPCGImageStoreObj.h"

#include <cmath>

KPCGImageStoreObj::KPCGImageStoreObj(const QImage& image)
    : m_image(image)
{
}

QImage KPCGImageStoreObj::CGImage() const
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

void KPCGImageStoreObj::setCGImage(const QImage& image)
{
    std::lock_guard lock(m_mutex);
    m_image = image;
}

bool KPCGImageStoreObj::hasImage() const
{
    std::lock_guard lock(m_mutex);
    return !m_image.isNull();
}

QImage KPCGImageStoreObj::thumbImage() const
{
    std::lock_guard lock(m_mutex);
    return m_thumb;
}

QSizeF KPCGImageStoreObj::actualSize() const
{
    std::lock_guard lock(m_mutex);
    return m_actualSize;
}

void KPCGImageStoreObj::setThumbImage(const QImage& thumb, const QSizeF& actualSize)
{
    std::lock_guard lock(m_mutex);
    m_thumb = thumb;
    m_actualSize = actualSize;
}

double KPCGImageStoreObj::angle() const
{
    std::lock_guard lock(m_mutex);
    return m_angle;
}

void KPCGImageStoreObj::setAngle(double angle)
{
    std::lock_guard lock(m_mutex);
    m_angle = angle;
}

QSize KPCGImageStoreObj::turnedSize() const
{
    std::lock_guard lock(m_mutex);
    const int a = KPQuarterTurn(m_angle);
    return (a == 90 || a == 270) ? m_image.size().transposed() : m_image.size();
}

int KPQuarterTurn(double angle)
{
    if (!std::isfinite(angle))
        return 0;
    const long long a = static_cast<long long>(angle) % 360;
    const int turn = int(a < 0 ? a + 360 : a);
    return (turn == 90 || turn == 180 || turn == 270) ? turn : 0;
}

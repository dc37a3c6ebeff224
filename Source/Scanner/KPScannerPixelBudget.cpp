#include "Scanner/KPScannerPixelBudget.h"

#include <QString>

bool KPScannerPixelBudget::take(qint64 pixels)
{
    qint64 used = m_used.load();
    do {
        if (pixels < 0 || pixels > m_max - used)
            return false;
    } while (!m_used.compare_exchange_weak(used, used + pixels));
    return true;
}

void KPScannerPixelBudget::give(qint64 pixels)
{
    if (pixels > 0)
        m_used.fetch_sub(pixels);
}

qint64 KPScannerPixelBudget::pixelsOf(const QSize& size)
{
    return size.isValid() ? qint64(size.width()) * size.height() : 0;
}

QString KPScannerPixelBudget::fullText() const
{
    return QStringLiteral("The scan window holds at most %1 million pixels of pages; save these pages, then add the "
                          "rest to a new scan.")
        .arg(m_max / 1'000'000);
}

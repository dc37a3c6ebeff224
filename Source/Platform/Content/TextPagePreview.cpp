#include "Platform/Content/TextPagePreview.h"

#include <QFont>
#include <QPainter>

namespace platform {

namespace {

// Width over height of A4 paper.
constexpr double kPageAspect = 210.0 / 297.0;
// Tuning: lines per page height, and margin as a share of the page width.
constexpr double kLinesPerPage = 46.0;
constexpr double kMarginShare = 0.07;
// Tuning: spaces a tab stands for.
constexpr int kTabWidth = 4;

} // namespace

QImage TextPagePreview::render(const QString& text, const QSize& box)
{
    if (box.isEmpty())
        return {};
    const QSize page = QSizeF(kPageAspect, 1.0).scaled(QSizeF(box), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1));
    QImage image(page, QImage::Format_RGB32);
    image.fill(Qt::white);

    QString shown = text.left(kMaxChars);
    shown.replace(QLatin1Char('\t'), QString(kTabWidth, QLatin1Char(' ')));
    shown.replace(QLatin1Char('\r'), QString());

    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(QColor(0xC8, 0xC8, 0xC8));
    painter.drawRect(image.rect().adjusted(0, 0, -1, -1));

    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qMax(4, int(page.height() / kLinesPerPage * 0.8)));
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    const int margin = qMax(2, int(page.width() * kMarginShare));
    const QRect area = image.rect().adjusted(margin, margin, -margin, -margin);
    painter.setClipRect(area);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, shown);
    painter.end();
    return image;
}

} // namespace platform

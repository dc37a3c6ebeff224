#include "Utilities/ImageQuickLook.h"

#include "Utilities/HelperServices.h"

#include <QPainter>

namespace {
// Text key of the image marking a stand-in icon.
const QString kTemplateKey = QStringLiteral("FolivoTemplateImage");
}

QImage imageWithPreviewOfFileAtPath(const QString& path, const QSize& size, bool asIcon)
{
    if (path.isEmpty() || size.isEmpty())
        return {};
    const auto& services = HelperServices::current();
    if (services.previewImage) {
        QImage preview = services.previewImage(path, size, asIcon);
        if (!preview.isNull()) {
            preview.setDevicePixelRatio(1.0);
            return preview;
        }
    }
    if (!services.fileIcon)
        return {};
    QImage icon = services.fileIcon(path, size);
    if (icon.isNull())
        return {};
    if (icon.size() != size) {
        // Fitted and centred, so a non-square icon keeps its shape on the square page.
        const QImage fitted = icon.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.drawImage((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2, fitted);
        painter.end();
        icon = canvas;
    }
    icon.setText(kTemplateKey, QStringLiteral("1"));
    return icon;
}

bool isTemplateImage(const QImage& image)
{
    return image.text(kTemplateKey) == QLatin1String("1");
}

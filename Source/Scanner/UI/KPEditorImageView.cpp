#include "Scanner/UI/KPEditorImageView.h"

#include "Platform/Foundation/NotificationCenter.h"

#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

namespace {

using G = KPEditorGeometry;

const QColor kBackground(165, 169, 174);

} // namespace

KPEditorImageView::KPEditorImageView(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAcceptDrops(true);
}

void KPEditorImageView::setHintView(QWidget* hint)
{
    m_hint = hint;
    if (m_hint) {
        m_hint->setParent(this);
        m_hint->setVisible(m_image.isNull());
    }
    update();
}

void KPEditorImageView::setSourceImage(const QImage& image)
{
    m_image = image;
    m_angle = 0;
    m_fit = {};
    m_cropMode = false;
    adjustToFit();
}

void KPEditorImageView::setAngle(float angle)
{
    m_angle = angle == 360 ? 0 : angle;
    adjustToFit();
}

double KPEditorImageView::displayScale() const
{
    return G::displayScale(m_image.size(), m_angle);
}

void KPEditorImageView::adjustToFit()
{
    if (auto fit = G::fit(m_image.size(), m_angle, size()))
        m_fit = *fit;
    if (m_hint) {
        m_hint->setVisible(m_image.isNull());
        m_hint->move((width() - m_hint->width()) / 2, (height() - m_hint->height()) / 2);
    }
    update();
}

void KPEditorImageView::rotation()
{
    if (m_angle == 360)
        m_angle = 0;
    m_angle += 90;
    adjustToFit();
    if (m_delegate.editorImageAngleChange)
        m_delegate.editorImageAngleChange(m_editorImageID, m_angle);
}

QRectF KPEditorImageView::imageBounds() const
{
    return G::displayedImageRect(m_image.size(), m_angle, size());
}

bool KPEditorImageView::beginCrop()
{
    if (m_image.isNull())
        return false;
    m_cropMode = true;
    if (!m_crop)
        m_crop = KPImageCropObj{};
    const QRectF shown = imageBounds();
    // A page smaller than the margins is cropped whole rather than to a negative rectangle.
    m_crop->cropRect = shown.width() > 30 && shown.height() > 30 ? shown.adjusted(15, 15, -15, -15) : shown;
    update();
    return true;
}

void KPEditorImageView::endCrop()
{
    m_cropMode = false;
    update();
}

void KPEditorImageView::setCropSize(const QSizeF& size)
{
    if (!m_cropMode || !m_crop)
        return;
    m_crop->cropRect = G::clampInside(QRectF(m_crop->cropRect.topLeft(), size), imageBounds());
    update();
}

QSizeF KPEditorImageView::cropSize() const
{
    return m_crop ? m_crop->cropRect.size() : QSizeF();
}

void KPEditorImageView::setIsConstrain(bool constrain)
{
    m_isConstrain = constrain;
    if (!m_crop)
        m_crop = KPImageCropObj{};
    m_crop->isConstrain = constrain;
    const double aspect = displayScale();
    if (constrain && aspect > 0) {
        QRectF r = m_crop->cropRect;
        r.setHeight(r.width() / aspect);
        m_crop->cropRect = G::clampInside(r, imageBounds());
    }
    update();
}

QImage KPEditorImageView::crop()
{
    if (!m_cropMode || !m_crop)
        return {};
    m_cropMode = false;
    const QImage out = G::cropFromSourceImage(m_image, m_angle, m_fit, size(), m_crop->cropRect);
    update();
    return out;
}

void KPEditorImageView::onAddFromScanner()
{
    platform::NotificationCenter::defaultCenter().post(AddFromScannerNotification);
}

QPointF KPEditorImageView::toGeometry(const QPointF& p) const
{
    return QPointF(p.x(), height() - p.y());
}

void KPEditorImageView::resizeEvent(QResizeEvent*)
{
    adjustToFit();
}

void KPEditorImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    if (m_image.isNull())
        return;
    // y up from here on, as the geometry is given.
    painter.translate(0, height());
    painter.scale(1, -1);
    auto drawPage = [&] {
        painter.save();
        painter.translate(m_fit.tx, m_fit.ty);
        painter.rotate(m_angle);
        painter.scale(m_fit.scale, m_fit.scale);
        painter.translate(0, m_image.height());
        painter.scale(1, -1);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QPointF(0, 0), m_image);
        painter.restore();
    };
    drawPage();
    if (!m_cropMode || !m_crop)
        return;
    painter.fillRect(QRectF(0, 0, width(), height()), QColor(0, 0, 0, 153));
    painter.save();
    painter.setClipRect(m_crop->cropRect);
    drawPage();
    painter.restore();

    QPen dashed(Qt::white);
    dashed.setDashPattern({5, 4});
    painter.setPen(dashed);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawRect(m_crop->cropRect);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < G::kHandleCount; ++i) {
        if (m_isConstrain && i % 2)
            continue;
        const QRectF square = G::handleRect(m_crop->cropRect, i);
        // Top to bottom of the square, in y-up terms.
        QLinearGradient gradient(square.center().x(), square.bottom(), square.center().x(), square.top());
        gradient.setColorAt(0.1, QColor(109, 171, 203));
        gradient.setColorAt(0.75, QColor(39, 42, 241));
        painter.setBrush(gradient);
        painter.drawEllipse(square);
    }
}

void KPEditorImageView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_cropMode) {
            endCrop();
            if (m_delegate.editorImageViewCropCancel)
                m_delegate.editorImageViewCropCancel();
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

void KPEditorImageView::mousePressEvent(QMouseEvent* event)
{
    if (!m_cropMode || !m_crop)
        return QWidget::mousePressEvent(event);
    const QPointF point = toGeometry(event->position());
    m_mouseDownPointIndex = G::handleAt(m_crop->cropRect, point);
    if (m_mouseDownPointIndex) {
        m_firstMouseDownPoint = G::anchorOf(m_crop->cropRect, *m_mouseDownPointIndex);
    } else {
        m_isMouseDownInCropRect = m_crop->cropRect.contains(point);
        m_firstMouseDownPoint = point;
        setCursor(Qt::ClosedHandCursor);
    }
}

void KPEditorImageView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (m_cropMode && m_delegate.editorImageViewCropHandler)
        m_delegate.editorImageViewCropHandler();
    else
        QWidget::mouseDoubleClickEvent(event);
}

void KPEditorImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_cropMode || !m_crop)
        return;
    if (!(event->buttons() & Qt::LeftButton)) {
        setCursor(Qt::CrossCursor);
        return;
    }
    const QPointF point = toGeometry(event->position());
    const QRectF bounds = imageBounds();
    if (m_mouseDownPointIndex) {
        const QRectF r = G::dragHandle(*m_mouseDownPointIndex, m_firstMouseDownPoint, point, m_crop->cropRect,
                                       m_isConstrain, displayScale());
        m_crop->cropRect = G::clampInside(r, bounds);
        if (m_delegate.editorImageViewCropSizeChange)
            m_delegate.editorImageViewCropSizeChange(m_crop->cropRect.size());
    } else if (m_isMouseDownInCropRect) {
        m_crop->cropRect = G::clampInside(m_crop->cropRect.translated(point - m_firstMouseDownPoint), bounds);
        m_firstMouseDownPoint = point;
    }
    update();
}

void KPEditorImageView::mouseReleaseEvent(QMouseEvent* event)
{
    m_mouseDownPointIndex.reset();
    m_isMouseDownInCropRect = false;
    if (m_cropMode && m_crop && m_crop->cropRect.contains(toGeometry(event->position())))
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
}

void KPEditorImageView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void KPEditorImageView::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (m_delegate.editorImageViewHandleRecvImagePath)
        m_delegate.editorImageViewHandleRecvImagePath(paths);
}

// The scan window's large view of the selected page: the page fitted and turned by quarter
// turns, and a crop mode with a dashed rectangle moved and resized by eight round handles (four
// with the aspect lock). The geometry lives in KPEditorGeometry; this view draws it (y up, as
// the geometry is given) and turns mouse and keys into it.
//
// Main thread only.
#pragma once

#include "Scanner/KPEditorGeometry.h"

#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

// What the view reports; every member is optional.
struct KPEditorImageViewDelegate {
    std::function<void(const QStringList& paths)> editorImageViewHandleRecvImagePath;
    std::function<void()> editorImageViewCropHandler;
    std::function<void()> editorImageViewCropCancel;
    std::function<void(const QSizeF& size)> editorImageViewCropSizeChange;
    std::function<void(qint64 pageID, float angle)> editorImageAngleChange;
};

class KPImageCropObj {
public:
    QRectF cropRect;
    bool isConstrain = true;
};

class KPEditorImageView : public QWidget {
public:
    static inline const QString AddFromScannerNotification = QStringLiteral("AddFromScanner");

    explicit KPEditorImageView(QWidget* parent = nullptr);

    void setDelegate(KPEditorImageViewDelegate delegate) { m_delegate = std::move(delegate); }
    void setHintView(QWidget* hint);

    // A new page: angle 0, fitted, crop mode off.
    void setSourceImage(const QImage& image);
    const QImage& sourceImage() const { return m_image; }
    void setEditorImageID(qint64 id) { m_editorImageID = id; }
    qint64 editorImageID() const { return m_editorImageID; }
    void setAngle(float angle);
    float angle() const { return m_angle; }
    float scale() const { return float(m_fit.scale); }
    double displayScale() const;
    void adjustToFit();

    // A quarter turn counter-clockwise, reported with the page's id.
    void rotation();
    // Refused without a page.
    bool beginCrop();
    void endCrop();
    bool isCropMode() const { return m_cropMode; }
    void setCropSize(const QSizeF& size);
    QSizeF cropSize() const;
    QRectF cropRect() const { return m_crop ? m_crop->cropRect : QRectF(); }
    void setIsConstrain(bool constrain);
    // The page's part under the crop rectangle at its own resolution; ends crop mode. Empty
    // outside crop mode.
    QImage crop();

    void onAddFromScanner();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPointF toGeometry(const QPointF& widgetPoint) const;
    QRectF imageBounds() const;

    KPEditorImageViewDelegate m_delegate;
    QPointer<QWidget> m_hint;
    QImage m_image;
    qint64 m_editorImageID = 0;
    float m_angle = 0;
    KPEditorGeometry::Fit m_fit;
    bool m_cropMode = false;
    bool m_isConstrain = true;
    std::optional<KPImageCropObj> m_crop;
    std::optional<int> m_mouseDownPointIndex;
    bool m_isMouseDownInCropRect = true;
    QPointF m_firstMouseDownPoint;
};

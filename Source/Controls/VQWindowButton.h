// The title-bar buttons of a VQTitlebarWindow (close, minimise, zoom, full screen) and their
// roll-over groups.
//
// A button shows one of five images by the state of its window and of the mouse: pressed while
// held down, roll-over while its group shows roll-over, active in the active window, "active,
// not key" in another, inactive while disabled. Buttons sharing a group identifier roll over
// together: the group counts the buttons the pointer is over and posts
// "VQWindowButtonGroupDidUpdateRolloverStateNotification" (object: the group) on every change.
//
// The pointer counts as over a button within 4 points of its frame: the widget covers the
// frame grown by that margin and draws and takes clicks only inside the frame itself, so the
// neighbouring bar still gets presses in the margin. Full screen hides the buttons; a window
// that stops resizing (no resize for kResizeSettleMs on the Scheduler) ends the group's
// roll-over, as the pointer may have left while the window moved under it.
//
// A button made for a standard kind draws a plain glyph in code wherever it has no image, so a
// window without themed buttons still has usable ones. Main thread only.
#pragma once

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"

#include <QAbstractButton>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <memory>

namespace platform::kit {
class TrackingArea;
}

class KPMultiSprite;

class VQWindowButtonGroup : public QObject {
    Q_OBJECT
public:
    static inline const QString kDefaultIdentifier = QStringLiteral("com.morvane.vqtitlebarwindow.defaultWindowButtonGroup");
    static inline const QString kDidUpdateRolloverStateNotification =
        QStringLiteral("VQWindowButtonGroupDidUpdateRolloverStateNotification");

    // The group of identifier (an empty one means the default group), made on first use and
    // kept for the rest of the run.
    static VQWindowButtonGroup* groupWithIdentifier(const QString& identifier);

    const QString& identifier() const { return m_identifier; }
    qint64 numberOfCaptures() const { return m_captures; }
    // A negative or unchanged count is refused silently; a new one is announced.
    void setNumberOfCaptures(qint64 count);
    void didCaptureMousePointer() { setNumberOfCaptures(m_captures + 1); }
    void didReleaseMousePointer() { setNumberOfCaptures(m_captures - 1); }
    void resetMouseCaptures() { setNumberOfCaptures(0); }
    bool shouldDisplayRollOver() const { return m_captures > 0; }

    explicit VQWindowButtonGroup(QString identifier) : m_identifier(std::move(identifier)) {}

private:
    const QString m_identifier;
    qint64 m_captures = 0;
};

class VQWindowButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { Custom, Close, Minimize, Zoom, FullScreen };
    enum class Look { Active, ActiveNotKey, Inactive, Rollover, Pressed };

    static constexpr int kTrackingMargin = 4;
    static constexpr int kResizeSettleMs = 200;
    static inline const QSize kStandardSize{14, 16};

    // A caller's button of size in the group of groupIdentifier (empty: the default group).
    VQWindowButton(const QSize& size, const QString& groupIdentifier, QWidget* parent = nullptr);
    // A standard button, drawn in code where it has no image.
    VQWindowButton(Kind kind, QWidget* parent = nullptr);
    ~VQWindowButton() override;

    Kind kind() const { return m_kind; }
    const QString& groupIdentifier() const { return m_groupIdentifier; }
    VQWindowButtonGroup* group() const;

    void setActiveImage(const QImage& image) { m_images[int(Look::Active)] = image; update(); }
    void setActiveNotKeyWindowImage(const QImage& image) { m_images[int(Look::ActiveNotKey)] = image; update(); }
    void setInactiveImage(const QImage& image) { m_images[int(Look::Inactive)] = image; update(); }
    void setRolloverImage(const QImage& image) { m_images[int(Look::Rollover)] = image; update(); }
    void setPressedImage(const QImage& image) { m_images[int(Look::Pressed)] = image; update(); }
    const QImage& image(Look look) const { return m_images[int(look)]; }
    // The states of a theme's multi-sprite: normal as active, over as roll-over, down as
    // pressed, unactive as "active, not key"; the inactive image is left alone.
    void setImages(const KPMultiSprite& sprite);

    // The button's own frame in its parent (the widget covers it grown by the tracking margin).
    QRect frame() const;
    void setFrame(const QRect& frame);
    void moveFrameTo(const QPoint& origin) { setFrame(QRect(origin, m_size)); }

    // Which image shows now.
    Look currentLook() const;
    bool isTracking() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void init();
    void watchWindow();
    void drawGlyph(QPainter& painter, const QRectF& r, Look look) const;

    Kind m_kind = Kind::Custom;
    QSize m_size;
    QString m_groupIdentifier;
    QImage m_images[5];
    std::unique_ptr<platform::kit::TrackingArea> m_tracking;
    platform::ObserverToken m_groupObserver;
    QPointer<QWidget> m_window;
    platform::kit::Token m_resizeSettle;
};

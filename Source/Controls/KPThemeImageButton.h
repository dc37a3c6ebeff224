// The program's image button: draws one state of a KPMultiSprite and reports clicks. The state
// is chosen by precedence (normal < over < pressed inside < highlight < disabled; a missing
// state falls back to normal). Its enabled flag only changes the drawing: a "disabled" button
// still tracks the mouse and sends its action, and its owners decide what a click on it means.
// The flag is therefore the button's own, not QWidget's, which would drop the mouse events.
//
// During a press Qt's implicit mouse grab gives the button every move and the release, inside
// or outside its bounds, so it can show "pressed inside" and act only on a release over itself.
#pragma once

#include "Platform/Kit/DelayedCalls.h"
#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QPainter>
#include <QWidget>
#include <functional>
#include <memory>

class KPMultiSprite;
class KPSprite;
#include <QMenu>
namespace platform::kit {
class TrackingArea;
}

class KPThemeImageButton : public QWidget, public KPThemeBaseObjectProtocol {
public:
    // A release within this time of its press keeps the pressed look until this long after
    // the release, so a quick click is still seen.
    static constexpr int kMinimumPressLookMs = 100;
    // Opacity of the normal picture standing in for a missing disabled state.
    static constexpr qreal kDisabledOpacity = 0.3;

    using Action = std::function<void(KPThemeImageButton*)>;
    // Draws under the sprite with the button's painter; a brush it leaves set is also what a
    // button without a sprite fills itself with.
    using DrawBackground = std::function<void(KPThemeImageButton*, QPainter&, const QRectF& dirtyUp)>;
    using PopupBlock = std::function<void(KPThemeImageButton*, QMouseEvent*)>;

    // frame: Qt geometry in the parent. Registers with the shared theme manager.
    explicit KPThemeImageButton(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPThemeImageButton() override;

    void setupAction(Action action) { m_action = std::move(action); }
    void setupDrawBGAction(DrawBackground draw) { m_drawBG = std::move(draw); }
    void setupCoustomPopupMenuBlock(PopupBlock block) { m_popupBlock = std::move(block); }

    void setMultiSprite(KPMultiSprite* sprite);
    KPMultiSprite* multiSprite() const { return m_multiSprite; }
    // Hides QWidget::setEnabled on purpose (see the class comment).
    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }
    void setIsHighlight(bool highlight);
    bool isHighlight() const { return m_isHighlight; }
    void setIsFillAll(bool fillAll) { m_isFillAll = fillAll; }
    bool isFillAll() const { return m_isFillAll; }
    void setPopupMenu(QMenu* menu) { m_popupMenu = menu; }
    QMenu* popupMenu() const { return m_popupMenu; }
    void setTag(int tag) { m_tag = tag; }
    int tag() const { return m_tag; }

    void themeUpdateWithName(const QString& themeName) override;

    // The state picture drawn now and its opacity (nullptr without a multi-sprite).
    KPSprite* currentSprite() const;
    qreal currentOpacity() const;
    bool isMouseEnter() const { return m_isMouseEnter; }
    bool hasTrackingArea() const { return m_tracking != nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void mouseUp(const QPointF& qtPoint);

    KPMultiSprite* m_multiSprite = nullptr;
    bool m_enabled = true;
    bool m_isFillAll = true;
    bool m_isHighlight = false;
    bool m_isMouseEnter = false;
    bool m_isMouseDown = false;
    bool m_isDownAndMouseIn = false;
    // The picture shown still counts as pressed (a short click's lingering look).
    bool m_pressLook = false;
    bool m_ignoreRelease = false;
    QElapsedTimer m_mouseDownTime;
    Action m_action;
    DrawBackground m_drawBG;
    PopupBlock m_popupBlock;
    QPointer<QMenu> m_popupMenu;
    int m_tag = 0;
    // A child of the button, but owned here so a new sprite or group can replace it.
    std::unique_ptr<platform::kit::TrackingArea> m_tracking;
    platform::kit::DelayedCalls m_delayed;
};

// A text button of any width drawn from a theme group of three-slices (one per state), with an
// optional icon before the title. It can size itself to its title and can open a pop-up menu
// that its delegate supplies.
//
// A setting dictionary given at creation ({"Highlight": QImage, "1", "2", "3": left cap,
// middle and right cap rectangles in that image, in pixels from its top-left}) supplies the
// lit background for owners that draw from bundle pictures instead of a theme group.
#pragma once

#include "Platform/Kit/TextAttributes.h"

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QVariantMap>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class KPCustomThemeObject;
class KPHorizontalSprite;
class QMenu;
namespace platform::kit {
class TrackingArea;
}

class KPHorizontalStretchButton;

struct KPHorizontalStretchButtonDelegate {
    // The menu to open on a press, or nullptr for none.
    std::function<QMenu*(KPHorizontalStretchButton*)> onHorizontalStretchButtonMenu;
};

class KPHorizontalStretchButton : public QWidget {
public:
    static constexpr int kMinimumAutoWidth = 30;
    static constexpr int kMaximumAutoWidth = 300;
    // Space between icon and title, and the extra room a measured title gets.
    static constexpr int kIconGap = 4;
    static constexpr int kTitleSlack = 4;

    using Action = std::function<void(KPHorizontalStretchButton*)>;

    explicit KPHorizontalStretchButton(const QRect& frame = {}, QWidget* parent = nullptr);
    KPHorizontalStretchButton(const QRect& frame, const QVariantMap& setting, QWidget* parent = nullptr);
    ~KPHorizontalStretchButton() override;

    void setCustomThemeObject(KPCustomThemeObject* group);
    KPCustomThemeObject* customThemeObject() const { return m_group; }
    void setupTargetAndAction(Action action) { m_action = std::move(action); }

    void setTitle(const QString& title);
    const QString& title() const { return m_title; }
    void setIcon(const QImage& icon) { m_icon = icon; }
    const QImage& icon() const { return m_icon; }
    // Hides QWidget::setEnabled: the flag only changes the drawing, and a disabled stretch
    // button still tracks the mouse and sends its action (QWidget's flag would drop both).
    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }
    void setIsHightlight(bool highlight);
    bool isHightlight() const { return m_isHightlight; }
    void setAutoResizeByTitle(bool autoResize) { m_autoResizeByTitle = autoResize; }
    bool autoResizeByTitle() const { return m_autoResizeByTitle; }
    void setDelegate(KPHorizontalStretchButtonDelegate delegate) { m_delegate = std::move(delegate); }
    void setPopMenuFontSize(qreal size) { m_popMenuFontSize = size; }
    qreal popMenuFontSize() const { return m_popMenuFontSize; }
    // Where the menu opens, y-up from the button's bottom-left corner.
    void setPopMenuPopupOffPoint(const QPointF& point) { m_popMenuPopupOffPoint = point; }
    QPointF popMenuPopupOffPoint() const { return m_popMenuPopupOffPoint; }

    // The room a title needs, in whole points: its advance rounded up, so that a button sized
    // from it never has to shorten the title by a fraction of a point.
    static int titleWidth(const QString& title, const platform::kit::TextAttributes& attrs);

    // The attributes the title is drawn with, or none without a group or its "Text" member.
    std::optional<platform::kit::TextAttributes> textAttributes() const;
    // The state background drawn now (nullptr: none), for the current flags.
    KPHorizontalSprite* currentBackground() const;
    bool isMouseIn() const { return m_bMouseIn; }
    bool isMouseDown() const { return m_bMouseDown; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void menuDidClose();

    KPCustomThemeObject* m_group = nullptr;
    QString m_title;
    QImage m_icon;
    bool m_enabled = true;
    bool m_isHightlight = false;
    bool m_bMouseIn = false;
    bool m_bMouseDown = false;
    bool m_ignoreRelease = false;
    Action m_action;
    KPHorizontalStretchButtonDelegate m_delegate;
    qreal m_popMenuFontSize = 12.0;
    QPointF m_popMenuPopupOffPoint;
    bool m_autoResizeByTitle = false;
    // A child of the button, but owned here so a new sprite or group can replace it.
    std::unique_ptr<platform::kit::TrackingArea> m_tracking;
    // The lit background from a setting: the image and its three slices.
    QImage m_settingSlices[3];
};

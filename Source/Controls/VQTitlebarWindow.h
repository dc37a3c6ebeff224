// A frameless top-level window with a tall title bar drawn by the program.
//
// The top strip of titleBarHeight is the VQTitlebarContainer: it holds the title-bar view (a
// VQTitlebarView unless the caller puts another view there) and the window buttons, and a drag
// on it moves the window. The content widget fills the rest. The window lays out the close,
// minimise and zoom buttons itself (in a row or stacked, centred or under a top margin) and the
// full-screen button at the right; each can be replaced by a caller's VQWindowButton, and
// replacing it with null brings the standard one back.
//
// The window manager does the moving and resizing where it will (QWindow::startSystemMove and
// startSystemResize); where it will not (offscreen, old window managers) the window moves and
// resizes itself. A band of vqtitlebar::kResizeBand pixels along every edge and corner resizes.
// Full screen is the window state, followed through state changes.
//
// Sheets (platform::kit::Sheet) hang from the bottom of the bar: the window answers their
// position through its delegate proxy. While a sheet is shown the window does not close.
// The bar's direct controls are enabled while the window counts as main: it is active, or it
// owns an open popover or sheet.
//
// Main thread only.
#pragma once

#include "Controls/VQTitlebarLayout.h"
#include "Controls/VQWindowButton.h"
#include "Platform/Kit/TextAttributes.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class QPainter;
class QPainterPath;
class VQTitlebarWindow;

// What a caller may answer for its window; every method left alone counts as not answered.
class VQTitlebarWindowDelegate {
public:
    virtual ~VQTitlebarWindowDelegate() = default;
    // The rectangle a sheet hangs from (y-up window coordinates; proposed is the window's top
    // edge), or not answered.
    virtual std::optional<QRectF> windowWillPositionSheet(VQTitlebarWindow*, const QRectF& proposed)
    {
        Q_UNUSED(proposed);
        return std::nullopt;
    }
    // Whether a close request may close the window, or not answered (it may).
    virtual std::optional<bool> windowShouldClose(VQTitlebarWindow*) { return std::nullopt; }
    virtual void windowDidChangeFullScreen(VQTitlebarWindow*, bool fullScreen) { Q_UNUSED(fullScreen); }
};

// Relays every call to the caller's delegate and answers the sheet position itself where the
// caller's delegate does not: under the tall bar.
class VQTitlebarWindowDelegateProxy {
public:
    VQTitlebarWindowDelegate* secondaryDelegate() const { return m_secondary; }
    void setSecondaryDelegate(VQTitlebarWindowDelegate* delegate) { m_secondary = delegate; }

    QRectF windowWillPositionSheet(VQTitlebarWindow* window, const QRectF& proposed) const;
    bool windowShouldClose(VQTitlebarWindow* window) const;
    void windowDidChangeFullScreen(VQTitlebarWindow* window, bool fullScreen) const;

private:
    VQTitlebarWindowDelegate* m_secondary = nullptr;   // not owned
};

// The strip of the bar; a press and drag on it (not on a control) moves the window.
class VQTitlebarContainer : public QWidget {
public:
    explicit VQTitlebarContainer(QWidget* parent = nullptr);

    // Whether the last drag fell back to moving the window itself.
    bool movedManually() const { return m_manual; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, Pending, Manual };
    Drag m_drag = Drag::None;
    bool m_manual = false;
    QPoint m_pressGlobal;
    QPoint m_startPos;
};

class VQTitlebarWindow : public QWidget {
    Q_OBJECT
public:
    // Called with: whether the window draws as main, the bar's rectangle and its rounded-top clip.
    using DrawingBlock = std::function<void(QPainter&, bool active, const QRectF& rect, const QPainterPath& clip)>;
    enum class ButtonKind { Close = 0, Minimize, Zoom, FullScreen };

    // The standard title bar that the tall bar takes the place of: sheets are proposed to the
    // delegate hanging from its lower edge, as a window with that bar would propose them.
    static constexpr double kStandardTitleBarHeight = 22.0;

    explicit VQTitlebarWindow(QWidget* parent = nullptr);
    ~VQTitlebarWindow() override;

    double titleBarHeight() const { return m_titleBarHeight; }
    void setTitleBarHeight(double height);
    double trafficLightButtonsLeftMargin() const { return m_leftMargin; }
    void setTrafficLightButtonsLeftMargin(double margin);
    double trafficLightSeparation() const { return m_separation; }
    void setTrafficLightSeparation(double separation);
    bool centerTrafficLightButtons() const { return m_centerTrafficLights; }
    void setCenterTrafficLightButtons(bool center);
    bool verticalTrafficLightButtons() const { return m_verticalTrafficLights; }
    void setVerticalTrafficLightButtons(bool vertical);
    double fullScreenButtonRightMargin() const { return m_fullScreenRightMargin; }
    void setFullScreenButtonRightMargin(double margin);
    bool centerFullScreenButton() const { return m_centerFullScreenButton; }
    void setCenterFullScreenButton(bool center);
    bool showsBaselineSeparator() const { return m_showsBaselineSeparator; }
    void setShowsBaselineSeparator(bool shows);
    bool showsTitle() const { return m_showsTitle; }
    void setShowsTitle(bool shows);
    bool verticallyCenterTitle() const { return m_verticallyCenterTitle; }
    void setVerticallyCenterTitle(bool center);

    // Read at the next layout or drawing.
    double trafficLightButtonsTopMargin = 3.0;
    double fullScreenButtonTopMargin = 3.0;
    bool hideTitleBarInFullScreen = false;
    bool showsTitleInFullscreen = false;
    DrawingBlock titleBarDrawingBlock;
    std::optional<QColor> titleBarStartColor, titleBarEndColor, baselineSeparatorColor;
    std::optional<QColor> inactiveTitleBarStartColor, inactiveTitleBarEndColor, inactiveBaselineSeparatorColor;
    std::optional<QColor> titleTextColor, inactiveTitleTextColor;
    std::optional<platform::kit::TextShadow> titleTextShadow, inactiveTitleTextShadow;
    std::optional<QFont> titleFont;

    // The bar's view. A null view or the installed one changes nothing; the window owns the
    // view and deletes the one it replaces.
    QWidget* titleBarView() const { return m_titleBarView; }
    void setTitleBarView(QWidget* view);
    VQTitlebarContainer* titleBarContainer() const { return m_container; }

    // The widget below the bar; the window owns it and deletes the one it replaces.
    QWidget* contentWidget() const { return m_content; }
    void setContentWidget(QWidget* content);

    // A caller's button in place of a standard one (null: the standard one again). The window
    // owns installed buttons and deletes a replacement that is replaced.
    VQWindowButton* closeButton() const { return replacement(ButtonKind::Close); }
    void setCloseButton(VQWindowButton* button) { setReplacement(ButtonKind::Close, button); }
    VQWindowButton* minimizeButton() const { return replacement(ButtonKind::Minimize); }
    void setMinimizeButton(VQWindowButton* button) { setReplacement(ButtonKind::Minimize, button); }
    VQWindowButton* zoomButton() const { return replacement(ButtonKind::Zoom); }
    void setZoomButton(VQWindowButton* button) { setReplacement(ButtonKind::Zoom, button); }
    VQWindowButton* fullScreenButton() const { return replacement(ButtonKind::FullScreen); }
    void setFullScreenButton(VQWindowButton* button) { setReplacement(ButtonKind::FullScreen, button); }
    VQWindowButton* standardButton(ButtonKind kind) const;
    // The button that stands for kind now: the replacement, else the standard one.
    VQWindowButton* buttonToLayout(ButtonKind kind) const;

    VQTitlebarWindowDelegate* delegate() const { return m_proxy.secondaryDelegate(); }
    void setDelegate(VQTitlebarWindowDelegate* delegate) { m_proxy.setSecondaryDelegate(delegate); }
    const VQTitlebarWindowDelegateProxy& delegateProxy() const { return m_proxy; }

    // The window is active, or owns an open popover or sheet.
    bool isMainWindow() const;

    // The buttons' actions. A close is refused while a sheet is shown.
    void performClose();
    void performMiniaturize();
    void performZoom();
    void toggleFullScreen();

    // Lays out the bar, the buttons and the content now.
    void layoutTitlebar();
    // Redraws the bar and enables its direct controls by the main-window rule.
    void updateTitlebarView();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    VQWindowButton* replacement(ButtonKind kind) const { return m_replacements[size_t(kind)]; }
    void setReplacement(ButtonKind kind, VQWindowButton* button);
    void connectButton(VQWindowButton* button, ButtonKind kind);
    void layoutGrips();
    void redrawTitlebar();

    double m_titleBarHeight = vqtitlebar::kStandardTitleBarHeight;
    double m_cachedTitleBarHeight = vqtitlebar::kStandardTitleBarHeight;
    double m_leftMargin = vqtitlebar::kStandardLeftMargin;
    double m_separation = vqtitlebar::kStandardSeparation;
    bool m_centerTrafficLights = true;
    bool m_verticalTrafficLights = false;
    double m_fullScreenRightMargin = 0;
    bool m_fullScreenRightMarginSet = false;
    bool m_centerFullScreenButton = false;
    bool m_showsBaselineSeparator = true;
    bool m_showsTitle = false;
    bool m_verticallyCenterTitle = false;
    bool m_inFullScreen = false;

    VQTitlebarWindowDelegateProxy m_proxy;
    VQTitlebarContainer* m_container = nullptr;
    QPointer<QWidget> m_titleBarView;
    QPointer<QWidget> m_content;
    std::array<VQWindowButton*, 4> m_standard{};
    std::array<QPointer<VQWindowButton>, 4> m_replacements{};
    std::array<QWidget*, 8> m_grips{};
};

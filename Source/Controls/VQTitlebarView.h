// The tall title bar of a VQTitlebarWindow: draws the bar and holds the controls its owner
// places in it.
//
// Two looks. The themed look (default) takes its colours, its grain switch ("DrawNoise") and a
// centred icon ("TitleIcon") from the theme group "MainWindow"; without the group the bar is
// black with a white 0.408 baseline. The plain look (setGeneralStyle) is a grey gradient by
// active state, from the window's colour properties or fixed defaults. Both lay a faint grain
// over an active bar (a 124 x 124 grey noise tile in screen blend, one tile pixel per device
// pixel) and can draw the window's title, centred.
//
// A double click on the bar minimises the window when the user default
// "AppleMiniaturizeOnDoubleClick" says so (absent counts as no). Main thread only.
#pragma once

#include "Platform/Kit/TextAttributes.h"
#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QImage>
#include <QRectF>
#include <QWidget>

class KPCustomThemeObject;
class KPSprite;
class VQTitlebarWindow;

class VQTitlebarView : public QWidget, public KPThemeBaseObjectProtocol {
public:
    static constexpr int kNoiseTileSize = 124;
    static constexpr qreal kThemedNoiseOpacity = 0.018;
    static constexpr qreal kPlainNoiseOpacity = 0.1;
    static constexpr qreal kCornerRadius = 4.0;
    static inline const QString kMiniaturizeOnDoubleClickKey = QStringLiteral("AppleMiniaturizeOnDoubleClick");

    explicit VQTitlebarView(QWidget* parent = nullptr);
    ~VQTitlebarView() override;

    bool isGeneralStyle() const { return m_generalStyle; }
    void setGeneralStyle(bool general) { m_generalStyle = general; }

    // The theme group the themed look reads (default "MainWindow").
    void setThemeGroupName(const QString& name);

    void themeUpdateWithName(const QString& themeName) override;

    // The grey noise tile: 124 x 124 one-byte pixels from srand(120) and rand(), made once.
    static const QImage& noiseTile();

    // Where the themed look draws its centred icon (empty without one). A control laid over it
    // (the search field grown for typing) hides it whole with setTitleIconHidden: the icon's
    // edges peeking out around the control would look like a fault.
    QRect titleIconRect() const;
    void setTitleIconHidden(bool hidden);
    bool isTitleIconHidden() const { return m_titleIconHidden; }

    // Whether the bar draws as the main window's (see VQTitlebarWindow::isMainWindow).
    bool isActiveLook() const;

    struct TitleLayout {
        QRectF frame;   // y-up, in the view
        platform::kit::TextAttributes attributes;
    };
    // The title's rectangle and attributes in bounds for window (null: the defaults).
    static TitleLayout titleLayout(const QString& title, const QRectF& bounds, const VQTitlebarWindow* window,
                                   bool active);
    // The y of a vertically centred title of height titleHeight.
    static double centredTitleY(const QRectF& bounds, double titleHeight);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void fetchTheme();
    void drawThemed(QPainter& painter);
    void drawPlain(QPainter& painter);
    void drawTitle(QPainter& painter, bool active);
    void drawNoise(QPainter& painter, const QRectF& clipUp, qreal opacity);

    QString m_groupName = QStringLiteral("MainWindow");
    KPCustomThemeObject* m_group = nullptr;
    KPSprite* m_titleIcon = nullptr;
    bool m_generalStyle = false;
    bool m_titleIconHidden = false;
};

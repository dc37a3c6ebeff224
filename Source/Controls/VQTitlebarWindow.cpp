#include "Controls/VQTitlebarWindow.h"

#include "Controls/KPThemeImageButton.h"
#include "Controls/VQTitlebarView.h"
#include "Controls/VQWindowButton.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/WindowAttachments.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

using namespace vqtitlebar;

namespace {

// One of the eight bands along the edges and corners of a frameless window; a press hands
// the resize to the window manager, or follows the pointer itself when it will not.
class ResizeGrip : public QWidget {
public:
    ResizeGrip(Qt::Edges edges, QWidget* window)
        : QWidget(window)
        , m_edges(edges)
    {
        const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
        const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
        if (horizontal && vertical) {
            const bool diagonal = (edges == (Qt::TopEdge | Qt::LeftEdge)) || (edges == (Qt::BottomEdge | Qt::RightEdge));
            setCursor(diagonal ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
        } else {
            setCursor(horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor);
        }
    }
    Qt::Edges edges() const { return m_edges; }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton)
            return QWidget::mousePressEvent(event);
        QWidget* w = window();
        m_manual = !(w->windowHandle() && w->windowHandle()->startSystemResize(m_edges));
        m_pressGlobal = event->globalPosition().toPoint();
        m_start = w->geometry();
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!m_manual || !(event->buttons() & Qt::LeftButton))
            return;
        QWidget* w = window();
        w->setGeometry(resizedGeometry(m_start, m_edges, event->globalPosition().toPoint() - m_pressGlobal,
                                       w->minimumSize(), w->maximumSize()));
    }
    void mouseReleaseEvent(QMouseEvent*) override { m_manual = false; }

private:
    Qt::Edges m_edges;
    bool m_manual = false;
    QPoint m_pressGlobal;
    QRect m_start;
};

constexpr Qt::Edges kGripEdges[8] = {Qt::LeftEdge, Qt::RightEdge, Qt::TopEdge, Qt::BottomEdge,
                                     Qt::TopEdge | Qt::LeftEdge, Qt::TopEdge | Qt::RightEdge,
                                     Qt::BottomEdge | Qt::LeftEdge, Qt::BottomEdge | Qt::RightEdge};

} // namespace

QRectF VQTitlebarWindowDelegateProxy::windowWillPositionSheet(VQTitlebarWindow* window, const QRectF& proposed) const
{
    if (m_secondary) {
        if (auto answer = m_secondary->windowWillPositionSheet(window, proposed))
            return *answer;
    }
    return sheetFrame(proposed, window->height(), window->titleBarHeight());
}

bool VQTitlebarWindowDelegateProxy::windowShouldClose(VQTitlebarWindow* window) const
{
    if (m_secondary) {
        if (auto answer = m_secondary->windowShouldClose(window))
            return *answer;
    }
    return true;
}

void VQTitlebarWindowDelegateProxy::windowDidChangeFullScreen(VQTitlebarWindow* window, bool fullScreen) const
{
    if (m_secondary)
        m_secondary->windowDidChangeFullScreen(window, fullScreen);
}

VQTitlebarContainer::VQTitlebarContainer(QWidget* parent)
    : QWidget(parent)
{
}

void VQTitlebarContainer::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_drag = Drag::Pending;
    m_pressGlobal = event->globalPosition().toPoint();
    m_startPos = window()->pos();
    event->accept();
}

void VQTitlebarContainer::mouseMoveEvent(QMouseEvent* event)
{
    if (m_drag == Drag::None || !(event->buttons() & Qt::LeftButton))
        return;
    QWidget* w = window();
    // A full-screen window stays where it is.
    if (w->isFullScreen() || w->isMaximized()) {
        m_drag = Drag::None;
        return;
    }
    const QPoint global = event->globalPosition().toPoint();
    if (m_drag == Drag::Pending) {
        if ((global - m_pressGlobal).manhattanLength() < 1)
            return;
        if (w->windowHandle() && w->windowHandle()->startSystemMove()) {
            m_drag = Drag::None;
            m_manual = false;
            return;
        }
        m_drag = Drag::Manual;
        m_manual = true;
    }
    w->move(m_startPos + (global - m_pressGlobal));
}

void VQTitlebarContainer::mouseReleaseEvent(QMouseEvent* event)
{
    m_drag = Drag::None;
    QWidget::mouseReleaseEvent(event);
}

VQTitlebarWindow::VQTitlebarWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    // The bar's rounded top corners show what is behind the window; the content paints its
    // own background.
    setAttribute(Qt::WA_TranslucentBackground);
    m_content = new QWidget(this);
    m_content->setAutoFillBackground(true);
    m_container = new VQTitlebarContainer(this);
    for (int i = 0; i < 4; ++i) {
        auto* button = new VQWindowButton(VQWindowButton::Kind(i + 1), m_container);
        m_standard[size_t(i)] = button;
        connectButton(button, ButtonKind(i));
    }
    // Where a standard full-screen button would stand; the first layout keeps its margin.
    auto* fs = m_standard[size_t(ButtonKind::FullScreen)];
    fs->moveFrameTo(QPoint(width() - fs->frame().width() - int(kStandardLeftMargin), 0));
    setTitleBarView(new VQTitlebarView);
    for (size_t i = 0; i < m_grips.size(); ++i)
        m_grips[i] = new ResizeGrip(kGripEdges[i], this);

    auto* fullScreen = new QAction(this);
    // The buttons hide in full screen; the key is the way back on every desktop.
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::FullScreen);
    if (!keys.contains(QKeySequence(Qt::Key_F11)))
        keys << QKeySequence(Qt::Key_F11);
    fullScreen->setShortcuts(keys);
    connect(fullScreen, &QAction::triggered, this, &VQTitlebarWindow::toggleFullScreen);
    addAction(fullScreen);

    platform::kit::Sheet::setPositionCallback(this, [this](const QRect& proposed) {
        const double h = height();
        const QRectF underStandardBar = QRectF(proposed).translated(0, kStandardTitleBarHeight);
        return toQt(m_proxy.windowWillPositionSheet(this, platform::kit::toUp(underStandardBar, h)), h);
    });
    connect(&platform::kit::WindowAttachments::shared(), &platform::kit::WindowAttachments::changed, this,
            [this](QWidget* window) {
                if (window == this)
                    updateTitlebarView();
            });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] { updateTitlebarView(); });
    layoutTitlebar();
    updateTitlebarView();
}

VQTitlebarWindow::~VQTitlebarWindow()
{
    // The sheets, alerts and popovers that QWidget's destructor takes away report their
    // attachments gone after this part of the window no longer exists.
    disconnect(&platform::kit::WindowAttachments::shared(), nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
    platform::kit::Sheet::setPositionCallback(this, nullptr);
}

void VQTitlebarWindow::connectButton(VQWindowButton* button, ButtonKind kind)
{
    connect(button, &QAbstractButton::clicked, this, [this, kind] {
        switch (kind) {
        case ButtonKind::Close: performClose(); break;
        case ButtonKind::Minimize: performMiniaturize(); break;
        case ButtonKind::Zoom: performZoom(); break;
        case ButtonKind::FullScreen: toggleFullScreen(); break;
        }
    });
}

void VQTitlebarWindow::setTitleBarHeight(double height)
{
    if (height == m_titleBarHeight)
        return;
    m_titleBarHeight = height;
    m_cachedTitleBarHeight = height;
    layoutTitlebar();
    redrawTitlebar();
}

void VQTitlebarWindow::setTrafficLightButtonsLeftMargin(double margin)
{
    if (margin == m_leftMargin)
        return;
    m_leftMargin = margin;
    layoutTitlebar();
    redrawTitlebar();
}

void VQTitlebarWindow::setTrafficLightSeparation(double separation)
{
    if (separation == m_separation)
        return;
    m_separation = separation;
    layoutTitlebar();
}

void VQTitlebarWindow::setCenterTrafficLightButtons(bool center)
{
    if (center == m_centerTrafficLights)
        return;
    m_centerTrafficLights = center;
    layoutTitlebar();
}

void VQTitlebarWindow::setVerticalTrafficLightButtons(bool vertical)
{
    if (vertical == m_verticalTrafficLights)
        return;
    m_verticalTrafficLights = vertical;
    layoutTitlebar();
}

void VQTitlebarWindow::setFullScreenButtonRightMargin(double margin)
{
    m_fullScreenRightMarginSet = true;
    if (margin == m_fullScreenRightMargin)
        return;
    m_fullScreenRightMargin = margin;
    layoutTitlebar();
    redrawTitlebar();
}

void VQTitlebarWindow::setCenterFullScreenButton(bool center)
{
    if (center == m_centerFullScreenButton)
        return;
    m_centerFullScreenButton = center;
    layoutTitlebar();
}

void VQTitlebarWindow::setShowsBaselineSeparator(bool shows)
{
    if (shows == m_showsBaselineSeparator)
        return;
    m_showsBaselineSeparator = shows;
    redrawTitlebar();
}

void VQTitlebarWindow::setShowsTitle(bool shows)
{
    if (shows == m_showsTitle)
        return;
    m_showsTitle = shows;
    redrawTitlebar();
}

void VQTitlebarWindow::setVerticallyCenterTitle(bool center)
{
    if (center == m_verticallyCenterTitle)
        return;
    m_verticallyCenterTitle = center;
    redrawTitlebar();
}

void VQTitlebarWindow::setTitleBarView(QWidget* view)
{
    if (!view || view == m_titleBarView)
        return;
    if (m_titleBarView) {
        m_titleBarView->hide();
        m_titleBarView->deleteLater();
    }
    m_titleBarView = view;
    view->setParent(m_container);
    view->setGeometry(m_container->rect());
    // Below the buttons, which share the container.
    view->lower();
    view->show();
    updateTitlebarView();
}

void VQTitlebarWindow::setContentWidget(QWidget* content)
{
    if (!content || content == m_content)
        return;
    if (m_content) {
        m_content->hide();
        m_content->deleteLater();
    }
    m_content = content;
    content->setParent(this);
    content->setAutoFillBackground(true);
    content->lower();
    content->show();
    layoutTitlebar();
}

VQWindowButton* VQTitlebarWindow::standardButton(ButtonKind kind) const
{
    return m_standard[size_t(kind)];
}

VQWindowButton* VQTitlebarWindow::buttonToLayout(ButtonKind kind) const
{
    VQWindowButton* r = replacement(kind);
    return r ? r : standardButton(kind);
}

void VQTitlebarWindow::setReplacement(ButtonKind kind, VQWindowButton* button)
{
    auto& slot = m_replacements[size_t(kind)];
    if (button == slot)
        return;
    if (slot) {
        slot->hide();
        slot->setParent(nullptr);
        slot->deleteLater();
    }
    slot = button;
    if (!button) {
        layoutTitlebar();
        return;
    }
    button->setParent(m_container);
    button->moveFrameTo(standardButton(kind)->frame().topLeft());
    connectButton(button, kind);
    button->show();
    button->raise();
    layoutTitlebar();
}

bool VQTitlebarWindow::isMainWindow() const
{
    return isActiveWindow() || platform::kit::WindowAttachments::shared().hasAttachment(this);
}

void VQTitlebarWindow::performClose()
{
    if (platform::kit::Sheet::shownSheet(this)) {
        QApplication::beep();
        return;
    }
    close();
}

void VQTitlebarWindow::performMiniaturize()
{
    showMinimized();
}

void VQTitlebarWindow::performZoom()
{
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void VQTitlebarWindow::toggleFullScreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void VQTitlebarWindow::layoutTitlebar()
{
    const double h = height();
    const QRectF container = containerFrame(QSizeF(size()), m_titleBarHeight);
    m_container->setGeometry(toQt(container, h));
    if (m_titleBarView)
        m_titleBarView->setGeometry(m_container->rect());

    const bool fullScreen = isFullScreen();
    for (size_t i = 0; i < 4; ++i) {
        const bool replaced = m_replacements[i] != nullptr;
        m_standard[i]->setVisible(!replaced && !fullScreen);
        if (replaced)
            m_replacements[i]->setVisible(!fullScreen);
    }

    // The container sits at the window's top left, so window and container coordinates agree.
    auto upFrame = [h](VQWindowButton* b) { return platform::kit::toUp(QRectF(b->frame()), h); };
    VQWindowButton* close = buttonToLayout(ButtonKind::Close);
    VQWindowButton* minimize = buttonToLayout(ButtonKind::Minimize);
    VQWindowButton* zoom = buttonToLayout(ButtonKind::Zoom);
    TrafficLightOptions options;
    options.leftMargin = m_leftMargin;
    options.separation = m_separation;
    options.topMargin = trafficLightButtonsTopMargin;
    options.centered = m_centerTrafficLights;
    options.vertical = m_verticalTrafficLights;
    const TrafficLights placed = layoutTrafficLights(container, {upFrame(close), upFrame(minimize), upFrame(zoom)}, options);
    close->setFrame(toQt(placed.close, h));
    minimize->setFrame(toQt(placed.minimize, h));
    zoom->setFrame(toQt(placed.zoom, h));

    VQWindowButton* fs = buttonToLayout(ButtonKind::FullScreen);
    if (!m_fullScreenRightMarginSet) {
        m_fullScreenRightMarginSet = true;
        m_fullScreenRightMargin = currentRightMargin(container, upFrame(fs));
    }
    fs->setFrame(toQt(layoutFullScreenButton(container, upFrame(fs), m_fullScreenRightMargin, m_centerFullScreenButton,
                                             fullScreenButtonTopMargin),
                      h));

    if (m_content) {
        const QRectF contentUp = platform::kit::toUp(QRectF(m_content->geometry()), h);
        const QRect wanted = toQt(contentFrame(QRectF(0, 0, width(), contentUp.height()), h, m_titleBarHeight), h);
        if (m_content->geometry() != wanted) {
            m_content->setGeometry(wanted);
            m_content->update();
        }
    }
    layoutGrips();
}

void VQTitlebarWindow::layoutGrips()
{
    const int b = kResizeBand;
    const int w = width(), h = height();
    const bool resizable = !isFullScreen() && !isMaximized();
    for (QWidget* grip : m_grips) {
        const Qt::Edges e = static_cast<ResizeGrip*>(grip)->edges();
        const int x = (e & Qt::LeftEdge) ? 0 : (e & Qt::RightEdge) ? w - b : b;
        const int y = (e & Qt::TopEdge) ? 0 : (e & Qt::BottomEdge) ? h - b : b;
        const int gw = (e & (Qt::LeftEdge | Qt::RightEdge)) ? b : w - 2 * b;
        const int gh = (e & (Qt::TopEdge | Qt::BottomEdge)) ? b : h - 2 * b;
        grip->setGeometry(x, y, gw, gh);
        grip->setVisible(resizable);
        grip->raise();
    }
}

void VQTitlebarWindow::redrawTitlebar()
{
    if (m_titleBarView)
        m_titleBarView->update();
}

void VQTitlebarWindow::updateTitlebarView()
{
    if (!m_titleBarView)
        return;
    m_titleBarView->update();
    const bool main = isMainWindow();
    for (QObject* child : m_titleBarView->children()) {
        if (!child->isWidgetType())
            continue;
        // The themed image button keeps getting the mouse while it looks disabled.
        if (auto* imageButton = dynamic_cast<KPThemeImageButton*>(child))
            imageButton->setEnabled(main);
        else
            static_cast<QWidget*>(child)->setEnabled(main);
    }
}

void VQTitlebarWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutTitlebar();
}

void VQTitlebarWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::ActivationChange:
        updateTitlebarView();
        layoutTitlebar();
        break;
    case QEvent::WindowTitleChange:
        layoutTitlebar();
        redrawTitlebar();
        break;
    case QEvent::WindowStateChange: {
        const bool fullScreen = isFullScreen();
        if (fullScreen != m_inFullScreen) {
            m_inFullScreen = fullScreen;
            if (hideTitleBarInFullScreen && m_titleBarView) {
                m_titleBarHeight = fullScreen ? 0 : m_cachedTitleBarHeight;
                m_titleBarView->setVisible(!fullScreen);
            }
            m_proxy.windowDidChangeFullScreen(this, fullScreen);
        }
        layoutTitlebar();
        redrawTitlebar();
        break;
    }
    default:
        break;
    }
}

void VQTitlebarWindow::closeEvent(QCloseEvent* event)
{
    if (platform::kit::Sheet::shownSheet(this) || !m_proxy.windowShouldClose(this)) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

bool VQTitlebarWindow::event(QEvent* event)
{
    // Content and overlays added later must not cover the resize bands.
    if (event->type() == QEvent::ChildAdded && m_grips.back())
        layoutGrips();
    return QWidget::event(event);
}

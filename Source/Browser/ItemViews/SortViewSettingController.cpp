#include "Browser/ItemViews/SortViewSettingController.h"

#include "Browser/BrowserText.h"
#include "Browser/ItemViews/SortListView.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

bool isLeftPress(QEvent* event)
{
    return event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
}

QImage spriteImage(const char* name, bool pressed)
{
    KPCustomThemeObject* sorting = KPThemeObject::customThemeObjectWithName(QStringLiteral("Sorting"));
    auto* sprite = sorting ? sorting->themeObjectWithName<KPMultiSprite>(QLatin1String(name)) : nullptr;
    if (!sprite)
        return {};
    KPSprite* state = pressed && sprite->downSprite() ? sprite->downSprite() : sprite->normalSprite();
    return state ? state->image() : QImage();
}

void post(const QString& name)
{
    platform::NotificationCenter::defaultCenter().post(name);
}

} // namespace

void buildSortViewSetting(SortViewSettingController& c)
{
    const int h = SortViewSettingController::kHeight;
    auto* view = new KPCoustomDrawBGView(QRect(0, 0, SortViewSettingController::kWidth, h));
    c.m_view = view;
    auto button = [&](double x, double y) {
        return new KPCoustomDrawBGView(platform::kit::toQt(QRectF(x, y, 28, 22), h).toRect(), view);
    };
    c.btnIconView = button(70, 246);
    c.btnListView = button(102, 246);
    c.btnSectionSort = button(40, 176);
    c.btnFileAscending = button(118, 176);
    c.btnFileDescending = button(146, 176);
    c.sortListView = new SortListView(view);
    c.sortListView->setGeometry(platform::kit::toQt(QRectF(0, 8, 200, 7 * 22 + 4), h).toRect());
    c.awakeFromNib();
}

SortViewSettingController::SortViewSettingController()
{
    buildSortViewSetting(*this);
}

SortViewSettingController::~SortViewSettingController()
{
    if (m_ownsView)
        delete m_view;
}

QWidget* SortViewSettingController::takeView()
{
    m_ownsView = false;
    return m_view;
}

void SortViewSettingController::awakeFromNib()
{
    sortListView->layoutSubView();
    sortListView->refreshValue();
    static_cast<KPCoustomDrawBGView*>(m_view)->setDrawBackgroudWithSelector(
        [this](KPCoustomDrawBGView*, QPainter& painter, const QRectF& rect) { onDrawBG(painter, rect); });
    for (KPCoustomDrawBGView* b : {btnIconView, btnListView, btnSectionSort, btnFileAscending, btnFileDescending}) {
        b->setDrawBackgroudWithSelector([this](KPCoustomDrawBGView* self, QPainter& painter, const QRectF&) {
            const QImage image = buttonImage(self);
            if (!image.isNull())
                painter.drawImage(QRectF(QPointF(0, 0), image.deviceIndependentSize()), image);
        });
    }
    btnIconView->setMouseEventSelector([this](QEvent* e) { onIconViewEventHandle(e); });
    btnListView->setMouseEventSelector([this](QEvent* e) { onListViewEventHandle(e); });
    btnSectionSort->setMouseEventSelector([this](QEvent* e) { onSectionSortEventHandle(e); });
    btnFileAscending->setMouseEventSelector([this](QEvent* e) { onFileAEventHandle(e); });
    btnFileDescending->setMouseEventSelector([this](QEvent* e) { onFileDEventHandle(e); });
}

QImage SortViewSettingController::buttonImage(const KPCoustomDrawBGView* b) const
{
    const bool iconMode = KPViewSizeManager::instance().displayMode() == KPDisplayModeIcon;
    auto& sort = KPDataSourceSortManager::shareDataSourceSortManager();
    if (b == btnIconView)
        return spriteImage("IconViewButton", iconMode);
    if (b == btnListView)
        return spriteImage("ListViewButton", !iconMode);
    if (b == btnSectionSort)
        return spriteImage(sort.groupAscending() ? "SectionAscendingButton" : "SectionDescendingButton", false);
    if (b == btnFileAscending)
        return spriteImage("FileAscendingButton", sort.fileAscending());
    if (b == btnFileDescending)
        return spriteImage("FileDescendingButton", !sort.fileAscending());
    return {};
}

void SortViewSettingController::onDrawBG(QPainter& painter, const QRectF&)
{
    const double w = m_view->width();
    const double h = m_view->height();
    platform::kit::Canvas canvas(painter, h);
    canvas.strokeLine(QPointF(0, 230.5), QPointF(w, 230.5), QPen(QColor(214, 214, 214), 1));
    canvas.strokeLine(QPointF(0, 229.5), QPointF(w, 229.5), QPen(QColor(245, 245, 245), 1));
    platform::kit::TextAttributes attrs = platform::kit::TextAttributes::plain(platform::kit::FontResolver::boldSystemFont(12));
    attrs.color = QColor(178, 178, 178);
    attrs.hasParagraphStyle = true;
    attrs.alignment = 2;
    attrs.lineBreakMode = 4;
    attrs.shadow = platform::kit::TextShadow{QColor(Qt::white), QSizeF(0, -1), std::nullopt};
    canvas.drawText(QRectF(0, h - 24, w, 20), browsertext::text(QStringLiteral("View as")), attrs);
    canvas.drawText(QRectF(0, h - 96, w, 20), browsertext::text(QStringLiteral("Sort by")), attrs);
}

void SortViewSettingController::onIconViewEventHandle(QEvent* event)
{
    auto& settings = KPViewSizeManager::instance();
    if (!isLeftPress(event) || settings.displayMode() == KPDisplayModeIcon)
        return;
    settings.setDisplayMode(KPDisplayModeIcon);
    btnIconView->update();
    btnListView->update();
    post(kViewModeChange);
}

void SortViewSettingController::onListViewEventHandle(QEvent* event)
{
    auto& settings = KPViewSizeManager::instance();
    if (!isLeftPress(event) || settings.displayMode() == KPDisplayModeList)
        return;
    settings.setDisplayMode(KPDisplayModeList);
    btnIconView->update();
    btnListView->update();
    post(kViewModeChange);
}

void SortViewSettingController::onSectionSortEventHandle(QEvent* event)
{
    if (!isLeftPress(event))
        return;
    post(kSectionSortChange);
    btnSectionSort->update();
}

// The file-order buttons act on a press only, like the others: the pointer merely entering a
// button must not flip the order.
void SortViewSettingController::onFileAEventHandle(QEvent* event)
{
    auto& sort = KPDataSourceSortManager::shareDataSourceSortManager();
    if (!isLeftPress(event) || sort.fileAscending())
        return;
    sort.setFileAscending(true);
    post(kFileSortSettingChange);
    btnFileAscending->update();
    btnFileDescending->update();
}

void SortViewSettingController::onFileDEventHandle(QEvent* event)
{
    auto& sort = KPDataSourceSortManager::shareDataSourceSortManager();
    if (!isLeftPress(event) || !sort.fileAscending())
        return;
    sort.setFileAscending(false);
    post(kFileSortSettingChange);
    btnFileAscending->update();
    btnFileDescending->update();
}

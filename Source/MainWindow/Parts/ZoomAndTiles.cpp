#include "MainWindow/Parts/ZoomAndTiles.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/CollectionView/KPSectionView.h"
#include "Browser/ItemViews/KPSectionAuthorItemView.h"
#include "Browser/ItemViews/KPSectionDateItemView.h"
#include "Browser/ItemViews/KPSectionFileTypeItemView.h"
#include "Browser/ItemViews/KPSectionFlagItemView.h"
#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPItemViewType.h"
#include "Browser/KPSectionData.h"
#include "Browser/KPViewSizeManager.h"
#include "Import/KPFileFormatManager.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/ObjectStore/ManagedObject.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DBAuthor.h"
#include "Store/DBFileInfo.h"
#include "Store/DataBaseEngine.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPropertyAnimation>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

bool isLive(const DBRecord& record)
{
    return record && !record.isDeleted() && record.managedObjectContext();
}

QList<KPItemDataPtr> itemsOfRecord(const QVariant& object)
{
    QList<KPItemDataPtr> items;
    for (const QVariant& value : object.toMap().value(QStringLiteral("Items")).toList()) {
        if (KPItemDataPtr item = value.value<KPItemDataPtr>())
            items.append(item);
    }
    return items;
}

DBAuthor authorOf(const QVariant& object)
{
    auto managed = std::dynamic_pointer_cast<const platform::ManagedObject>(object.value<platform::ObjectRef>());
    return DBAuthor(std::const_pointer_cast<platform::ManagedObject>(managed));
}

} // namespace

// Ctrl+wheel over the grid zooms instead of scrolling.
class ZoomAndTiles::WheelFilter final : public QObject {
public:
    explicit WheelFilter(ZoomAndTiles& owner) : m_owner(owner) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::Wheel && m_owner.onZoomWheel(static_cast<QWheelEvent*>(event));
    }

private:
    ZoomAndTiles& m_owner;
};

ZoomAndTiles::ZoomAndTiles(MainWindowContext& ctx)
    : extensionsByKindID([](qint64 kindID) { return KPFileFormatManager::fileFormatManager().extenstionsByKindID(kindID); })
    , m_ctx(ctx)
    , m_alive(std::make_shared<bool>(true))
{
}

ZoomAndTiles::~ZoomAndTiles()
{
    m_updateCollectionViewThumbTimer.cancel();
    if (m_sliding)
        finishSlide();
}

void ZoomAndTiles::install()
{
    m_observers.clear();
    platform::NotificationCenter& center =
        m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter();
    using Handler = void (ZoomAndTiles::*)(const platform::Notification&);
    const std::pair<QString, Handler> handlers[] = {
        {kMouseMagnifyNotification, &ZoomAndTiles::onMouseMagnify},
        {KPSectionDateItemView::kClickNotification, &ZoomAndTiles::onSectionDateItemViewClick},
        {KPSectionFlagItemView::kClickNotification, &ZoomAndTiles::onSectionFlagViewClick},
        {KPSectionFileTypeItemView::kClickNotification, &ZoomAndTiles::onSectionFileTypeViewClick},
        {KPSectionAuthorItemView::kClickNotification, &ZoomAndTiles::onSectionAuthorViewClick},
        {KPSectionItemViewOverLayerToolBar::kButtonClickNotification, &ZoomAndTiles::onSectionItemViewButtonClick},
        {KPSectionView::kSectionHeaderViewDoubleClickNotification, &ZoomAndTiles::onSectionHeaderViewDoubleClick},
    };
    for (const auto& [name, handler] : handlers)
        m_observers.push_back(center.addObserver(name, [this, handler](const platform::Notification& note) { (this->*handler)(note); }));
    if (KPCollectionView* grid = m_ctx.collectionView) {
        m_wheelFilter = std::make_unique<WheelFilter>(*this);
        grid->installEventFilter(m_wheelFilter.get());
        grid->viewport()->installEventFilter(m_wheelFilter.get());
    }
}

// ---- zoom ----

void ZoomAndTiles::onMouseMagnify(const platform::Notification& note)
{
    const QVariant value = note.userInfo.contains(QStringLiteral("Magnification"))
        ? note.userInfo.value(QStringLiteral("Magnification"))
        : note.object;
    bool ok = false;
    const double magnification = value.toDouble(&ok);
    if (ok)
        magnify(magnification);
}

void ZoomAndTiles::magnify(double magnification)
{
    KPViewSizeManager* sizes = m_ctx.viewSizeManager;
    if (!sizes || !std::isfinite(magnification))
        return;
    const double current = sizes->itemScale();
    // Compared after clamping: pinching on at the smallest or largest size changes nothing.
    const double wanted = std::round((current / 100.0 + magnification) * 100.0);
    const double scale = std::clamp(wanted, KPViewSizeManager::kMinItemScale, KPViewSizeManager::kMaxItemScale);
    if (scale == current)
        return;
    sizes->setItemScale(scale);
    if (setZoomSliderValue)
        setZoomSliderValue(sizes->itemScale());
    if (KPCollectionView* grid = m_ctx.collectionView) {
        const QList<KPSectionIndexSet> selected = grid->selectedIndexs();
        if (m_ctx.gridDataSource)
            m_ctx.gridDataSource->reloadData();
        else
            grid->reloadData();
        grid->selectItemIndexWithSectionIndexSets(selected);
    }
    restartThumbTimer();
}

bool ZoomAndTiles::onZoomWheel(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    event->accept();
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        magnify(notches * kWheelNotchMagnification);
    return true;
}

void ZoomAndTiles::restartThumbTimer()
{
    platform::kit::Scheduler& scheduler = m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
    m_updateCollectionViewThumbTimer = scheduler.after(kThumbRefreshMs, [this] { onUpdateThumbTimer(); });
}

void ZoomAndTiles::onUpdateThumbTimer()
{
    m_updateCollectionViewThumbTimer.cancel();
    ++m_thumbRefreshCount;
    if (m_ctx.dataSourceManager) {
        for (const KPItemDataPtr& item : m_ctx.dataSourceManager->dataSource())
            item->setBNeedReloadResource(true);
    }
    if (KPCollectionView* grid = m_ctx.collectionView)
        grid->updateDisplayWithRect(grid->visibleRect());
}

// ---- tiles ----

void ZoomAndTiles::onSectionDateItemViewClick(const platform::Notification& note)
{
    enterSubLayerSetting();
    showGroup(itemsOfRecord(note.object));
}

void ZoomAndTiles::onSectionFlagViewClick(const platform::Notification& note)
{
    enterSubLayerSetting();
    showGroup(itemsOfRecord(note.object));
}

void ZoomAndTiles::onSectionFileTypeViewClick(const platform::Notification& note)
{
    enterSubLayerSetting();
    bool ok = false;
    const qint64 kindID = note.object.toMap().value(QStringLiteral("ID")).toLongLong(&ok);
    if (ok)
        showGroup(fileInfosOfKind(kindID));
}

void ZoomAndTiles::onSectionAuthorViewClick(const platform::Notification& note)
{
    enterSubLayerSetting();
    const DBAuthor author = authorOf(note.object);
    if (!isLive(author))
        return;
    QList<KPItemDataPtr> items;
    for (const DBFileInfo& file : author.fileInfos()) {
        if (isLive(file) && !file.isTrash())
            items.append(KPItemData::create(file));
    }
    showGroup(items);
}

QList<KPItemDataPtr> ZoomAndTiles::fileInfosOfKind(qint64 kindID) const
{
    const QStringList extensions = extensionsByKindID ? extensionsByKindID(kindID) : QStringList();
    if (extensions.isEmpty() || !m_ctx.store)
        return {};
    const auto predicate = platform::Predicate::format(QStringLiteral("isTrash == NO && pathExtension IN[c] %@"),
                                                       {QVariant(extensions)});
    if (!predicate) {
        KPLogLogMessage(QStringLiteral("kind query: %1").arg(predicate.error().toString()));
        return {};
    }
    auto rows = m_ctx.store->queryRecordByName(DBFileInfo::entityName(), *predicate);
    if (!rows) {
        KPLogLogMessage(QStringLiteral("kind query failed: %1").arg(rows.error().toString()));
        return {};
    }
    QList<KPItemDataPtr> items;
    for (const platform::ManagedObjectPtr& row : *rows) {
        const DBFileInfo file(row);
        if (file)
            items.append(KPItemData::create(file));
    }
    return items;
}

void ZoomAndTiles::enterSubLayerSetting()
{
    if (enterSubLayerChrome)
        enterSubLayerChrome();
    if (KPCollectionView* grid = m_ctx.collectionView) {
        grid->setAllowSelection(true);
        grid->setAllowRegionSelection(true);
        grid->setAllowShiftSelection(true);
    }
}

void ZoomAndTiles::showGroup(const QList<KPItemDataPtr>& items)
{
    if (items.isEmpty() || !m_ctx.viewSizeManager || !m_ctx.dataSourceManager || !m_ctx.gridDataSource)
        return;
    KPCollectionView* grid = m_ctx.collectionView;
    if (m_sliding)
        finishSlide();
    createCacheCollectionImageView();

    m_ctx.viewSizeManager->setItemViewType(KPItemViewTypeGroupedDocuments);
    m_ctx.viewSizeManager->setDisplayMode(
        m_ctx.state.lastInnerDisplayMode == KPDisplayModeList ? KPDisplayModeList : KPDisplayModeIcon);
    m_ctx.dataSourceManager->addSource(items);
    m_ctx.gridDataSource->grouping().createDataAndFillData(m_ctx.dataSourceManager->dataSource());
    m_ctx.gridDataSource->reloadData();
    if (!grid)
        return;
    grid->deselect();
    grid->doCollectionViewItemSelectedNotify();

    // The listing slides in from the right over the snapshot of what was there.
    m_sliding = true;
    m_gridHome = grid->pos();
    grid->move(m_gridHome.x() + grid->width(), m_gridHome.y());
    grid->raise();
    const platform::kit::AnimationPolicy& policy =
        m_ctx.animation ? *m_ctx.animation : platform::kit::AnimationPolicy::current();
    QPropertyAnimation* slide = policy.animate(grid, "pos", m_gridHome, kSlideMs, QEasingCurve::InOutQuad);
    if (m_cacheCollectionImageView) {
        if (QPropertyAnimation* fade =
                policy.animate(m_cacheCollectionImageView->graphicsEffect(), "opacity", 0.1, kSlideMs, QEasingCurve::InOutQuad))
            fade->setParent(m_cacheCollectionImageView->graphicsEffect());
    }
    if (!slide) {
        finishSlide();
        return;
    }
    std::weak_ptr<bool> alive = m_alive;
    QObject::connect(slide, &QAbstractAnimation::finished, grid, [this, alive] {
        if (!alive.expired() && m_sliding)
            finishSlide();
    });
}

void ZoomAndTiles::createCacheCollectionImageView()
{
    KPCollectionView* grid = m_ctx.collectionView;
    QWidget* center = m_ctx.centerView;
    if (m_cacheCollectionImageView) {
        m_cacheCollectionImageView->hide();
        m_cacheCollectionImageView->deleteLater();
    }
    if (!grid || !center)
        return;
    auto* snapshot = new QLabel(center);
    snapshot->setPixmap(grid->grab());
    snapshot->setGeometry(QRect(grid->mapTo(center, QPoint(0, 0)), grid->size()));
    auto* effect = new QGraphicsOpacityEffect(snapshot);
    effect->setOpacity(1);
    snapshot->setGraphicsEffect(effect);
    snapshot->show();
    m_cacheCollectionImageView = snapshot;
}

void ZoomAndTiles::finishSlide()
{
    m_sliding = false;
    if (m_cacheCollectionImageView) {
        m_cacheCollectionImageView->hide();
        m_cacheCollectionImageView->deleteLater();
        m_cacheCollectionImageView = nullptr;
    }
    if (KPCollectionView* grid = m_ctx.collectionView) {
        grid->move(m_gridHome);
        grid->updateDisplayWithRect(grid->visibleRect());
    }
}

// ---- item buttons and headers ----

void ZoomAndTiles::onSectionItemViewButtonClick(const platform::Notification& note)
{
    KPCollectionView* grid = m_ctx.collectionView;
    const QVariantMap info = note.object.toMap();
    const KPItemDataPtr item = info.value(QStringLiteral("ItemData")).value<KPItemDataPtr>();
    if (!grid || !item || !m_ctx.gridDataSource)
        return;
    const std::optional<KPSectionIndexSet> address = m_ctx.gridDataSource->indexSetWithItemData(KPSectionItem(item));
    if (!address)
        return;
    auto select = [&] { grid->selectItemIndexWithSectionIndexSet(*address); };
    switch (info.value(QStringLiteral("ButtonIndex")).toInt()) {
    case 0:
        if (setRightPropertyViewExpand)
            setRightPropertyViewExpand(!m_ctx.state.inspectorExpanded);
        select();
        break;
    case 1:
        select();
        if (showPreview)
            showPreview();
        break;
    case 2: {
        select();
        platform::Workspace& files = workspace ? *workspace : platform::Workspace::shared();
        if (auto shown = files.selectFile(item->filePath()); !shown)
            KPLogLogMessage(QStringLiteral("show in folder: %1").arg(shown.error().toString()));
        break;
    }
    default:
        break;
    }
}

void ZoomAndTiles::onSectionHeaderViewDoubleClick(const platform::Notification& note)
{
    KPCollectionView* grid = m_ctx.collectionView;
    const KPSectionDataPtr section = note.object.value<KPSectionDataPtr>();
    if (!grid || !section || !m_ctx.gridDataSource)
        return;
    const qsizetype index = m_ctx.gridDataSource->dataSource().indexOf(section);
    if (index < 0)
        return;
    QList<KPSectionIndexSet> all;
    all.reserve(section->itemCount());
    for (qint64 i = 0; i < section->itemCount(); ++i)
        all.append(KPSectionIndexSet(index, i));
    grid->selectItemIndexWithSectionIndexSets(all);
}

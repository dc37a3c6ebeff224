#include "Browser/KPViewSizeManager.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"

#include <cmath>
#include <memory>

namespace {

std::unique_ptr<KPViewSizeManager>& sharedInstance()
{
    static std::unique_ptr<KPViewSizeManager> instance;
    return instance;
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

} // namespace

KPViewSizeManager& KPViewSizeManager::instance()
{
    std::unique_ptr<KPViewSizeManager>& shared = sharedInstance();
    if (!shared)
        shared.reset(new KPViewSizeManager());
    return *shared;
}

void KPViewSizeManager::resetForTesting()
{
    sharedInstance().reset();
}

KPViewSizeManager::KPViewSizeManager()
{
    // A hand-edited or damaged setting must not give items of no size or a mode without sizes.
    setItemScale(defaults().doubleForKey(kItemScaleKey));
    m_displayMode = defaults().integerForKey(kDisplayModeKey) == KPDisplayModeList ? KPDisplayModeList : KPDisplayModeIcon;
    m_itemViewType = KPItemViewTypeDocuments;
    reloadViewSetting();
}

KPViewSizeManager::~KPViewSizeManager() = default;

void KPViewSizeManager::reloadViewSetting()
{
    m_isShowTitle = defaults().boolForKey(kShowTitleKey);
    m_isShowRating = defaults().boolForKey(kShowRatingKey);
    m_isShowTags = defaults().boolForKey(kShowTagsKey);
    m_isShowExtension = defaults().boolForKey(kShowExtensionKey);
}

void KPViewSizeManager::saveSettingToDisk() const
{
    defaults().setInteger(m_displayMode, kDisplayModeKey);
    defaults().setInteger(qint64(m_itemScale), kItemScaleKey);
}

void KPViewSizeManager::setItemScale(double scale)
{
    if (std::isnan(scale) || scale < kMinItemScale)
        scale = kMinItemScale;
    else if (scale >= kMaxItemScale)
        scale = kMaxItemScale;
    m_itemScale = scale;
}

void KPViewSizeManager::setDisplayMode(KPDisplayMode mode)
{
    if (mode == m_displayMode || (mode != KPDisplayModeIcon && mode != KPDisplayModeList))
        return;
    m_displayMode = mode;
    platform::NotificationCenter::defaultCenter().post(kDisplayModeChangeNotification);
}

void KPViewSizeManager::setItemViewType(KPItemViewType type)
{
    if (type == m_itemViewType)
        return;
    m_itemViewType = type;
    if (m_documentMenuHook)
        m_documentMenuHook(type);
}

bool KPViewSizeManager::isDocumentMenuItemVisible(KPItemViewType type, int itemTag)
{
    return type != KPItemViewTypeSafeBox || (itemTag >= 1 && itemTag <= 6);
}

int KPViewSizeManager::baseEdge() const
{
    return int(std::round(m_itemScale / 100.0 * 512.0));
}

QSizeF KPViewSizeManager::itemSize() const
{
    const double s = baseEdge();
    const bool list = isListMode();
    switch (m_itemViewType) {
    case KPItemViewTypeMonth:
        return {120, 140};
    case KPItemViewTypeFlag:
        return {120, 132};
    case KPItemViewTypeFileType:
        return {140, 160};
    case KPItemViewTypeAuthor:
        return {166, 210};
    case KPItemViewTypeSafeBox:
        return list ? QSizeF(50, 50) : QSizeF(s + 22, s + 17);
    case KPItemViewTypeDocuments:
    case KPItemViewTypeGroupedDocuments:
    default:
        break;
    }
    if (list)
        return {40, 50};
    double height = s;
    if (m_isShowTitle)
        height += 17;
    if (m_isShowRating)
        height += 16;
    if (m_isShowTags)
        height += 16;
    if (m_isShowRating && !m_isShowTags)
        height -= 2;
    return {s + 22, height};
}

QSizeF KPViewSizeManager::itemImageSize() const
{
    if (isListMode())
        return {40, 40};
    const double s = baseEdge();
    return {s + 22, s};
}

double KPViewSizeManager::marginMaxY() const
{
    switch (m_itemViewType) {
    case KPItemViewTypeMonth:
        return 20;
    case KPItemViewTypeFlag:
        return 25;
    default:
        return 10;
    }
}

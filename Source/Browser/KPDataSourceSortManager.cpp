#include "Browser/KPDataSourceSortManager.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"

#include <memory>

namespace {

std::unique_ptr<KPDataSourceSortManager>& sharedInstance()
{
    static std::unique_ptr<KPDataSourceSortManager> instance;
    return instance;
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

} // namespace

KPDataSourceSortManager& KPDataSourceSortManager::shareDataSourceSortManager()
{
    std::unique_ptr<KPDataSourceSortManager>& shared = sharedInstance();
    if (!shared)
        shared = std::make_unique<KPDataSourceSortManager>();
    return *shared;
}

void KPDataSourceSortManager::resetForTesting()
{
    sharedInstance().reset();
}

KPDataSourceSortManager::KPDataSourceSortManager()
    : m_groupSortType(int(defaults().integerForKey(kGroupSortTypeKey)))
    , m_groupAscending(defaults().boolForKey(kGroupAscendingKey))
    , m_fileSortType(int(defaults().integerForKey(kFileSortTypeKey)))
    , m_fileAscending(defaults().boolForKey(kFileAscendingKey))
{
}

template <class T>
void KPDataSourceSortManager::change(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    platform::NotificationCenter::defaultCenter().post(kSortingChangeNotification);
}

void KPDataSourceSortManager::setGroupSortType(int type)
{
    change(m_groupSortType, type);
}

void KPDataSourceSortManager::setGroupAscending(bool ascending)
{
    change(m_groupAscending, ascending);
}

void KPDataSourceSortManager::setFileSortType(int type)
{
    change(m_fileSortType, type);
}

void KPDataSourceSortManager::setFileAscending(bool ascending)
{
    change(m_fileAscending, ascending);
}

void KPDataSourceSortManager::saveSettingToDisk() const
{
    defaults().setInteger(m_groupSortType, kGroupSortTypeKey);
    defaults().setBool(m_groupAscending, kGroupAscendingKey);
    defaults().setInteger(m_fileSortType, kFileSortTypeKey);
    defaults().setBool(m_fileAscending, kFileAscendingKey);
}

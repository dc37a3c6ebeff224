#include "Browser/CollectionView/KPReusePool.h"

#include <algorithm>

namespace {

int liveCount(const std::deque<QPointer<platform::kit::View>>& pool)
{
    return int(std::count_if(pool.begin(), pool.end(), [](const auto& view) { return !view.isNull(); }));
}

} // namespace

KPReusePool::KPReusePool(QWidget* holder)
    : m_holder(holder)
{
}

KPReusePool::~KPReusePool() = default;

platform::kit::View* KPReusePool::take(const std::type_info& type)
{
    auto& pool = m_pools[std::type_index(type)];
    while (!pool.empty()) {
        QPointer<platform::kit::View> view = pool.front();
        pool.pop_front();
        if (view)
            return view.data();
    }
    return nullptr;
}

void KPReusePool::recycle(platform::kit::View* view)
{
    if (!view)
        return;
    forget(view);
    const auto it = m_pools.find(std::type_index(typeid(*view)));
    if (!m_holder || it == m_pools.end() || int(it->second.size()) >= kMaxPooled) {
        view->removeFromSuperview();
        return;
    }
    view->hide();
    if (view->parentWidget() != m_holder)
        view->setParent(m_holder);
    it->second.push_back(view);
}

void KPReusePool::forget(platform::kit::View* view)
{
    const auto it = m_pools.find(std::type_index(typeid(*view)));
    if (it == m_pools.end())
        return;
    auto& pool = it->second;
    pool.erase(std::remove(pool.begin(), pool.end(), QPointer<platform::kit::View>(view)), pool.end());
}

void KPReusePool::clear()
{
    for (auto& [type, pool] : m_pools) {
        for (const QPointer<platform::kit::View>& view : pool) {
            if (view)
                view->removeFromSuperview();
        }
        pool.clear();
    }
}

int KPReusePool::count(const std::type_info& type) const
{
    const auto it = m_pools.find(std::type_index(type));
    return it == m_pools.end() ? 0 : liveCount(it->second);
}

int KPReusePool::total() const
{
    int n = 0;
    for (const auto& [type, pool] : m_pools)
        n += liveCount(pool);
    return n;
}

// The grid's idle views, one first-in first-out pool per class, at most kMaxPooled each.
//
// Pooled views are hidden children of a holder widget the grid owns, so Qt's parenting owns them
// while they wait; a view that does not fit (its pool is full, or its class never had a pool) is
// discarded with removeFromSuperview(), which deletes it later, never during an event of its own.
// A pool comes into being with the first dequeue of its class.
//
// Threads: main thread only.
#pragma once

#include "Platform/Kit/View.h"

#include <QPointer>
#include <deque>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

class KPReusePool {
public:
    static constexpr int kMaxPooled = 51;

    explicit KPReusePool(QWidget* holder);
    ~KPReusePool();
    KPReusePool(const KPReusePool&) = delete;
    KPReusePool& operator=(const KPReusePool&) = delete;

    QWidget* holder() const { return m_holder; }

    // The oldest idle view of T, or a new one; either way a hidden child of the holder.
    template <class T>
    T* dequeue()
    {
        if (platform::kit::View* view = take(typeid(T)))
            return static_cast<T*>(view);
        return new T(m_holder);
    }

    // Takes the view back: into its class's pool when there is room, else it is discarded.
    void recycle(platform::kit::View* view);
    // Forgets view if it is pooled (it was put to use without a dequeue).
    void forget(platform::kit::View* view);
    // Discards every pooled view.
    void clear();

    int count(const std::type_info& type) const;
    int total() const;

private:
    platform::kit::View* take(const std::type_info& type);

    QPointer<QWidget> m_holder;
    std::unordered_map<std::type_index, std::deque<QPointer<platform::kit::View>>> m_pools;
};

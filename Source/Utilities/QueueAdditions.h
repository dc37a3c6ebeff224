// First-in first-out use of a list, as the full-text indexing queue uses it from several
// threads. Every operation on every list takes one process-wide lock, so concurrent enqueues
// and dequeues never lose or duplicate an element; other list operations are not covered.
#pragma once

#include <QList>
#include <mutex>
#include <optional>

// The one lock shared by all queue operations.
std::mutex& queueAdditionsLock();

template <class T>
void enqueue(QList<T>& queue, const T& object)
{
    std::lock_guard lock(queueAdditionsLock());
    queue.append(object);
}

template <class T>
void enqueueObjs(QList<T>& queue, const QList<T>& objects)
{
    std::lock_guard lock(queueAdditionsLock());
    queue.append(objects);
}

// The first element, removed; nothing when the list is empty.
template <class T>
std::optional<T> dequeue(QList<T>& queue)
{
    std::lock_guard lock(queueAdditionsLock());
    if (queue.isEmpty())
        return std::nullopt;
    return queue.takeFirst();
}

// Appends the object and swaps it with the first one, so it is served next and the former
// first element goes to the end.
template <class T>
void enqueueObjectToQueueHeader(QList<T>& queue, const T& object)
{
    std::lock_guard lock(queueAdditionsLock());
    queue.append(object);
    if (queue.size() >= 2)
        queue.swapItemsAt(0, queue.size() - 1);
}

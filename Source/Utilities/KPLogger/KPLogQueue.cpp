#include "Utilities/KPLogger/KPLogQueue.h"

#include "Utilities/KPLogger/KPLogRecord.h"

#include <utility>

void KPLogQueue::push(QByteArray record)
{
    const int32_t sequence = KPLogRecord::sequenceOf(record);
    Entry entry{sequence, std::move(record)};
    std::lock_guard lock(m_mutex);
    insertLocked(std::move(entry));
    trimLocked();
}

void KPLogQueue::insertLocked(Entry entry)
{
    // Records nearly always arrive in order, so the place is found within a step or two.
    const size_t floor = m_firstPartlySent && !m_entries.empty() ? 1 : 0;
    size_t at = m_entries.size();
    while (at > floor && m_entries[at - 1].sequence > entry.sequence)
        --at;
    m_bytes += entry.bytes.size();
    m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
}

void KPLogQueue::pushFront(const QByteArray& record)
{
    std::lock_guard lock(m_mutex);
    const size_t at = m_firstPartlySent && !m_entries.empty() ? 1 : 0;
    m_bytes += record.size();
    m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(at),
                     Entry{KPLogRecord::sequenceOf(record), record});
}

void KPLogQueue::trimLocked()
{
    if (m_delivering)
        return;
    const size_t keep = m_firstPartlySent ? 1 : 0;
    while (m_bytes > kUndeliveredLimitBytes && m_entries.size() > keep + 1) {
        auto victim = m_entries.begin() + static_cast<std::ptrdiff_t>(keep);
        m_bytes -= victim->bytes.size();
        m_lastTaken = std::max(m_lastTaken, victim->sequence);
        m_entries.erase(victim);
        ++m_dropped;
    }
}

QList<QByteArray> KPLogQueue::take(bool pastGaps)
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> out;
    while (!m_entries.empty()) {
        Entry& e = m_entries.front();
        if (!pastGaps && e.sequence > m_lastTaken + 1)
            break;
        m_lastTaken = std::max(m_lastTaken, e.sequence);
        m_bytes -= e.bytes.size();
        out.append(std::move(e.bytes));
        m_entries.pop_front();
    }
    ++m_takers;
    return out;
}

void KPLogQueue::giveBack(const QList<QByteArray>& unwritten)
{
    std::lock_guard lock(m_mutex);
    // Records given back are older than anything queued since the take.
    for (qsizetype i = unwritten.size(); i-- > 0;) {
        m_bytes += unwritten[i].size();
        m_entries.push_front(Entry{KPLogRecord::sequenceOf(unwritten[i]), unwritten[i]});
    }
    if (m_takers > 0)
        --m_takers;
    trimLocked();
    notifyIfEmptyLocked();
}

void KPLogQueue::returnUnsent(const QList<QByteArray>& records)
{
    std::lock_guard lock(m_mutex);
    for (qsizetype i = records.size(); i-- > 0;) {
        m_bytes += records[i].size();
        m_entries.push_front(Entry{KPLogRecord::sequenceOf(records[i]), records[i]});
    }
    trimLocked();
}

void KPLogQueue::wakeWaiters()
{
    std::lock_guard lock(m_mutex);
    ++m_emptiedCount;
    m_emptied.notify_all();
}

QList<QByteArray> KPLogQueue::drain()
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> out;
    for (Entry& e : m_entries) {
        m_lastTaken = std::max(m_lastTaken, e.sequence);
        out.append(std::move(e.bytes));
    }
    m_entries.clear();
    m_bytes = 0;
    notifyIfEmptyLocked();
    return out;
}

void KPLogQueue::notifyIfEmptyLocked()
{
    if (m_entries.empty() && m_takers == 0) {
        ++m_emptiedCount;
        m_emptied.notify_all();
    }
}

bool KPLogQueue::isEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.empty() && m_takers == 0;
}

QList<QByteArray> KPLogQueue::snapshot() const
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> out;
    for (const Entry& e : m_entries)
        out.append(e.bytes);
    return out;
}

qsizetype KPLogQueue::byteSize() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

uint64_t KPLogQueue::droppedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

void KPLogQueue::setDelivering(bool delivering)
{
    std::lock_guard lock(m_mutex);
    m_delivering = delivering;
    trimLocked();
}

void KPLogQueue::setFirstPartlySent(bool partly)
{
    std::lock_guard lock(m_mutex);
    m_firstPartlySent = partly;
}

void KPLogQueue::waitForEmptied(std::chrono::milliseconds cap)
{
    std::unique_lock lock(m_mutex);
    if (m_entries.empty() && m_takers == 0)
        return;
    const uint64_t seen = m_emptiedCount;
    m_emptied.wait_for(lock, cap, [&] { return m_emptiedCount != seen; });
}

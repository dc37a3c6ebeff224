#include "Utilities/KPLogger/KPLogRepeats.h"

#include <algorithm>
#include <utility>

QString KPLogRepeats::Summary::text() const
{
    // One pass over all three values: a message holding "%2" stays as it is.
    return QStringLiteral("%1 (%2 more like this within %3 s)")
        .arg(last.message, QString::number(count), QString::number(double(interval.count()) / 1000.0));
}

void KPLogRepeats::openLocked(const QString& key, Entry& entry, Clock::time_point now)
{
    // Callers read the clock before they take the lock, so a moment can arrive a little after
    // a later one; the order of starts must hold for the earliest to come first.
    if (!m_order.empty())
        now = std::max(now, m_order.back().first);
    entry.start = now;
    entry.count = 0;
    m_order.emplace_back(now, key);
}

KPLogRepeats::Decision KPLogRepeats::note(const QString& key, Line line, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        if (m_entries.size() < kMaxKeys)
            openLocked(key, m_entries[key], now);
        return {};
    }
    if (now < it->start + m_interval) {
        ++it->count;
        it->last = std::move(line);
        return {std::nullopt, false};
    }
    // The interval ended and no one has summarised it yet: its count goes first.
    Decision decision;
    if (it->count > 0)
        decision.before = Summary{std::move(it->last), it->count, m_interval};
    openLocked(key, *it, now);
    return decision;
}

QList<KPLogRepeats::Summary> KPLogRepeats::takeDue(Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    QList<Summary> out;
    while (!m_order.empty() && m_order.front().first + m_interval <= now) {
        const auto [start, key] = std::move(m_order.front());
        m_order.pop_front();
        auto it = m_entries.find(key);
        if (it == m_entries.end() || it->start != start)
            continue; // opened again since
        if (it->count == 0) {
            m_entries.erase(it);
            continue;
        }
        out.append(Summary{std::move(it->last), it->count, m_interval});
        openLocked(key, *it, now);
    }
    return out;
}

QList<KPLogRepeats::Summary> KPLogRepeats::takeAll()
{
    std::lock_guard lock(m_mutex);
    QList<Summary> out;
    for (auto& [start, key] : m_order) {
        auto it = m_entries.find(key);
        if (it != m_entries.end() && it->start == start && it->count > 0)
            out.append(Summary{std::move(it->last), it->count, m_interval});
    }
    m_order.clear();
    m_entries.clear();
    return out;
}

std::optional<KPLogRepeats::Clock::time_point> KPLogRepeats::nextDue() const
{
    std::lock_guard lock(m_mutex);
    if (m_order.empty())
        return std::nullopt;
    return m_order.front().first + m_interval;
}

void KPLogRepeats::setInterval(std::chrono::milliseconds interval)
{
    std::lock_guard lock(m_mutex);
    m_interval = std::max(interval, std::chrono::milliseconds(1));
}

std::chrono::milliseconds KPLogRepeats::interval() const
{
    std::lock_guard lock(m_mutex);
    return m_interval;
}

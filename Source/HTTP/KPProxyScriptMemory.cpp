#include "HTTP/KPProxyScriptMemory.h"

#include "HTTP/KPHTTPBandwidth.h"

#include <QCryptographicHash>
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace {

struct Entry {
    std::optional<double> ranOutAt; // on KPHTTPBandwidth's clock
    int running = 0;
    bool answered = false; // a run ended within its time and memory since the last that did not
    std::vector<KPProxyScriptMemory::Waiter> waiters;
};

constexpr size_t MaxEntries = 64;

std::mutex g_lock;
std::map<QByteArray, Entry> g_entries;
double g_memorySeconds = KPProxyScriptMemory::DefaultFailureMemorySeconds;

QByteArray keyOf(const QUrl& url, const QString& script)
{
    return url.toEncoded() + ' ' + QCryptographicHash::hash(script.toUtf8(), QCryptographicHash::Sha256).toHex();
}

} // namespace

double KPProxyScriptMemory::failureMemorySeconds()
{
    std::lock_guard lock(g_lock);
    return g_memorySeconds;
}

void KPProxyScriptMemory::setFailureMemorySeconds(double seconds)
{
    std::lock_guard lock(g_lock);
    g_memorySeconds = std::max(0.0, seconds);
}

KPProxyScriptMemory::Verdict KPProxyScriptMemory::begin(const QUrl& url, const QString& script, Waiter waiter)
{
    const QByteArray key = keyOf(url, script);
    const double now = KPHTTPBandwidth::now();
    std::lock_guard lock(g_lock);
    Entry& entry = g_entries[key];
    if (entry.ranOutAt) {
        if (now - *entry.ranOutAt < g_memorySeconds)
            return Verdict::GoWithoutProxy;
        entry.ranOutAt.reset();
    }
    if (entry.running > 0 && !entry.answered && waiter) {
        entry.waiters.push_back(std::move(waiter));
        return Verdict::Wait;
    }
    ++entry.running;
    return Verdict::Run;
}

void KPProxyScriptMemory::finished(const QUrl& url, const QString& script, bool ranOut)
{
    const QByteArray key = keyOf(url, script);
    const double now = KPHTTPBandwidth::now();
    std::vector<Waiter> waiters;
    {
        std::lock_guard lock(g_lock);
        Entry& entry = g_entries[key];
        entry.running = std::max(0, entry.running - 1);
        if (ranOut)
            entry.ranOutAt = now;
        entry.answered = !ranOut;
        waiters.swap(entry.waiters);
        // Scripts that answer are forgotten when many are known, so the record does not grow
        // with every text a server ever sent; a forgotten one is only run without waiting.
        if (g_entries.size() > MaxEntries)
            std::erase_if(g_entries, [](const auto& item) {
                const Entry& e = item.second;
                return !e.ranOutAt && e.running == 0 && e.waiters.empty();
            });
    }
    for (const Waiter& waiter : waiters)
        waiter(ranOut);
}

#include "Utilities/KPLogger/KPLogViewerBrowser.h"

#include <algorithm>
#include <mutex>

struct KPLogViewerBrowser::Inbox {
    std::mutex mutex;
    // An answer can still be posting on the discovery queue while the browser goes; the wake
    // reaches into the browser's owner, so it is called and dropped under a lock of its own, and
    // once dropped no call is in flight.
    std::mutex wakeMutex;
    std::function<void()> wake;
    struct Entry {
        Event event;
        uint64_t generation;
        bool fromResolve;
    };
    QList<Entry> entries;
    // Bumped by every stop and every resolve; only the current ones' events are taken.
    uint64_t browseGeneration = 0;
    uint64_t resolveGeneration = 0;

    void post(Event event, uint64_t generation, bool fromResolve)
    {
        {
            std::lock_guard lock(mutex);
            entries.append(Entry{std::move(event), generation, fromResolve});
        }
        std::lock_guard lock(wakeMutex);
        if (wake)
            wake();
    }

    void dropWake()
    {
        std::lock_guard lock(wakeMutex);
        wake = nullptr;
    }
};

KPLogViewerBrowser::KPLogViewerBrowser(std::function<void()> wake)
    : m_inbox(std::make_shared<Inbox>())
    , m_queue(platform::DispatchQueue::serial(QStringLiteral("KPLogger.viewers")))
{
    m_inbox->wake = std::move(wake);
}

KPLogViewerBrowser::~KPLogViewerBrowser()
{
    dropWake();
    stop();
    cancelResolve();
}

void KPLogViewerBrowser::setBackend(std::shared_ptr<platform::ServiceBackend> backend)
{
    m_backend = std::move(backend);
}

platform::ServiceBackend& KPLogViewerBrowser::backend()
{
    if (!m_backend)
        m_backend = platform::ServiceBackend::shared();
    return *m_backend;
}

void KPLogViewerBrowser::release(std::unique_ptr<platform::ServiceHandle> handle)
{
    if (!handle)
        return;
    auto shared = std::shared_ptr<platform::ServiceHandle>(std::move(handle));
    m_queue.async([shared]() mutable { shared.reset(); });
}

bool KPLogViewerBrowser::start(const QString& type, const QString& domain)
{
    stop();
    uint64_t generation;
    {
        std::lock_guard lock(m_inbox->mutex);
        generation = m_inbox->browseGeneration;
    }
    std::weak_ptr<Inbox> weak = m_inbox;
    platform::BrowseCallbacks callbacks;
    callbacks.found = [weak, generation](const platform::NetService& service) {
        if (auto inbox = weak.lock())
            inbox->post(Event{Event::Found, service, std::nullopt}, generation, false);
    };
    callbacks.removed = [weak, generation](const platform::NetService& service) {
        if (auto inbox = weak.lock())
            inbox->post(Event{Event::Removed, service, std::nullopt}, generation, false);
    };
    auto browse = backend().browse(type, domain, m_queue, std::move(callbacks));
    if (!browse || !*browse)
        return false;
    m_browse = std::move(*browse);
    return true;
}

void KPLogViewerBrowser::dropWake()
{
    m_inbox->dropWake();
}

void KPLogViewerBrowser::stop()
{
    {
        std::lock_guard lock(m_inbox->mutex);
        ++m_inbox->browseGeneration;
    }
    release(std::move(m_browse));
}

void KPLogViewerBrowser::resolve(const platform::NetService& service)
{
    cancelResolve();
    uint64_t generation;
    {
        std::lock_guard lock(m_inbox->mutex);
        generation = m_inbox->resolveGeneration;
    }
    std::weak_ptr<Inbox> weak = m_inbox;
    const platform::NetService asked = service;
    m_resolve = backend().resolve(service, m_queue, [weak, generation, asked](platform::Result<platform::NetService> result) {
        auto inbox = weak.lock();
        if (!inbox)
            return;
        if (result)
            inbox->post(Event{Event::Resolved, *result, std::nullopt}, generation, true);
        else
            inbox->post(Event{Event::Resolved, asked, result.error()}, generation, true);
    });
}

void KPLogViewerBrowser::cancelResolve()
{
    {
        std::lock_guard lock(m_inbox->mutex);
        ++m_inbox->resolveGeneration;
    }
    release(std::move(m_resolve));
}

QList<KPLogViewerBrowser::Event> KPLogViewerBrowser::takeEvents()
{
    QList<Inbox::Entry> entries;
    uint64_t browseGeneration;
    uint64_t resolveGeneration;
    {
        std::lock_guard lock(m_inbox->mutex);
        entries.swap(m_inbox->entries);
        browseGeneration = m_inbox->browseGeneration;
        resolveGeneration = m_inbox->resolveGeneration;
    }
    QList<Event> out;
    for (Inbox::Entry& entry : entries) {
        const uint64_t current = entry.fromResolve ? resolveGeneration : browseGeneration;
        if (entry.generation == current)
            out.append(std::move(entry.event));
    }
    // A resolve that answered is finished; its handle can go.
    if (std::any_of(out.begin(), out.end(), [](const Event& e) { return e.kind == Event::Resolved; }))
        release(std::move(m_resolve));
    return out;
}

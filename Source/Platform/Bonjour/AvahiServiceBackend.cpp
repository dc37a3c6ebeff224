#include "Platform/Bonjour/AvahiServiceBackend.h"

#include <QHash>
#include <atomic>
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

namespace platform {

struct AvahiServiceBackend::Private {
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    ~Private()
    {
        if (poll)
            avahi_threaded_poll_stop(poll);
        if (client)
            avahi_client_free(client);
        if (poll)
            avahi_threaded_poll_free(poll);
    }
};

namespace {

using Shared = std::shared_ptr<AvahiServiceBackend::Private>;

struct Locker {
    explicit Locker(AvahiThreadedPoll* p) : poll(p) { avahi_threaded_poll_lock(poll); }
    ~Locker() { avahi_threaded_poll_unlock(poll); }
    AvahiThreadedPoll* poll;
};

const char* domainOrNull(const QByteArray& domain)
{
    return domain.isEmpty() || domain == "local." ? nullptr : domain.constData();
}

AvahiStringList* txtList(const QMap<QString, QByteArray>& txt)
{
    AvahiStringList* list = nullptr;
    for (auto it = txt.begin(); it != txt.end(); ++it)
        list = avahi_string_list_add_pair_arbitrary(list, it.key().toUtf8().constData(),
                                                    reinterpret_cast<const uint8_t*>(it.value().constData()),
                                                    static_cast<size_t>(it.value().size()));
    return list;
}

// Names tried before publishing gives up: the asked one, then "Name #2", "Name #3"...
constexpr int kMaxNameAttempts = 20;

struct PublishContext {
    Shared backend;
    NetService service;
    DispatchQueue queue;
    std::function<void(const NetService&)> published;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
    AvahiEntryGroup* group = nullptr;
    int attempts = 0;
};

int addService(PublishContext* ctx);

void takeAlternativeName(PublishContext* ctx)
{
    char* alternative = avahi_alternative_service_name(ctx->service.name.toUtf8().constData());
    ctx->service.name = QString::fromUtf8(alternative);
    avahi_free(alternative);
}

void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata)
{
    auto* ctx = static_cast<PublishContext*>(userdata);
    ctx->group = group;
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        if (ctx->published)
            ctx->queue.async([alive = ctx->alive, cb = ctx->published, s = ctx->service] {
                if (*alive)
                    cb(s);
            });
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION && ctx->attempts < kMaxNameAttempts) {
        // Another host on the network holds the name.
        takeAlternativeName(ctx);
        avahi_entry_group_reset(group);
        if (const int error = addService(ctx); error < 0)
            qWarning("Bonjour: cannot publish %s: %s", qPrintable(ctx->service.name), avahi_strerror(error));
    }
}

// Adds the service and commits it. A name another client of this machine's daemon already holds
// (another copy run by another account publishes under the same computer name) is refused at
// once rather than through the group's state: the next alternative name is tried then.
int addService(PublishContext* ctx)
{
    const QByteArray type = NetService::normalizedType(ctx->service.type).toUtf8();
    const QByteArray domain = ctx->service.domain.toUtf8();
    AvahiStringList* txt = txtList(ctx->service.txt);
    int error = AVAHI_OK;
    for (;;) {
        ++ctx->attempts;
        error = avahi_entry_group_add_service_strlst(ctx->group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                     AvahiPublishFlags(0), ctx->service.name.toUtf8().constData(),
                                                     type.constData(), domainOrNull(domain), nullptr,
                                                     ctx->service.port, txt);
        if (error != AVAHI_ERR_COLLISION || ctx->attempts >= kMaxNameAttempts)
            break;
        takeAlternativeName(ctx);
    }
    avahi_string_list_free(txt);
    return error < 0 ? error : avahi_entry_group_commit(ctx->group);
}

class AvahiPublication : public ServiceHandle {
public:
    explicit AvahiPublication(std::unique_ptr<PublishContext> ctx) : m_ctx(std::move(ctx)) {}
    ~AvahiPublication() override
    {
        *m_ctx->alive = false;
        Locker lock(m_ctx->backend->poll);
        if (m_ctx->group)
            avahi_entry_group_free(m_ctx->group);
    }

private:
    std::unique_ptr<PublishContext> m_ctx;
};

struct BrowseContext {
    Shared backend;
    DispatchQueue queue;
    BrowseCallbacks callbacks;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
    QHash<QString, int> seen; // a service is reported per interface and protocol: count them
    AvahiServiceBrowser* browser = nullptr;
};

void browseCallback(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event, const char* name,
                    const char* type, const char* domain, AvahiLookupResultFlags flags, void* userdata)
{
    auto* ctx = static_cast<BrowseContext*>(userdata);
    if (event != AVAHI_BROWSER_NEW && event != AVAHI_BROWSER_REMOVE)
        return;
    NetService s;
    s.name = QString::fromUtf8(name);
    s.type = QString::fromUtf8(type);
    s.domain = QString::fromUtf8(domain);
    s.isLocal = (flags & AVAHI_LOOKUP_RESULT_LOCAL) != 0;
    int& count = ctx->seen[s.key()];
    const bool found = event == AVAHI_BROWSER_NEW;
    if (found ? count++ != 0 : --count != 0)
        return;
    if (!found)
        ctx->seen.remove(s.key());
    auto cb = found ? ctx->callbacks.found : ctx->callbacks.removed;
    if (cb)
        ctx->queue.async([alive = ctx->alive, cb, s] {
            if (*alive)
                cb(s);
        });
}

class AvahiBrowse : public ServiceHandle {
public:
    explicit AvahiBrowse(std::unique_ptr<BrowseContext> ctx) : m_ctx(std::move(ctx)) {}
    ~AvahiBrowse() override
    {
        *m_ctx->alive = false;
        Locker lock(m_ctx->backend->poll);
        if (m_ctx->browser)
            avahi_service_browser_free(m_ctx->browser);
    }

private:
    std::unique_ptr<BrowseContext> m_ctx;
};

struct ResolveContext {
    Shared backend;
    DispatchQueue queue;
    std::function<void(Result<NetService>)> done;
    NetService service;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
    AvahiServiceResolver* resolver = nullptr;
};

void resolveCallback(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char*,
                     const char*, const char*, const char* hostName, const AvahiAddress* address, uint16_t port,
                     AvahiStringList* txt, AvahiLookupResultFlags flags, void* userdata)
{
    auto* ctx = static_cast<ResolveContext*>(userdata);
    Result<NetService> result = fail(QStringLiteral("Bonjour"), 6,
                                     QStringLiteral("Could not resolve %1").arg(ctx->service.name));
    if (event == AVAHI_RESOLVER_FOUND) {
        NetService s = ctx->service;
        s.hostName = QString::fromUtf8(hostName);
        char text[AVAHI_ADDRESS_STR_MAX];
        avahi_address_snprint(text, sizeof text, address);
        s.addresses = {QHostAddress(QString::fromLatin1(text))};
        s.port = port;
        for (AvahiStringList* item = txt; item; item = avahi_string_list_get_next(item)) {
            char* key = nullptr;
            char* value = nullptr;
            size_t size = 0;
            if (avahi_string_list_get_pair(item, &key, &value, &size) == 0) {
                s.txt.insert(QString::fromUtf8(key), QByteArray(value ? value : "", static_cast<qsizetype>(size)));
                avahi_free(key);
                avahi_free(value);
            }
        }
        s.isLocal = (flags & AVAHI_LOOKUP_RESULT_LOCAL) != 0 || s.addresses.first().isLoopback();
        result = s;
    }
    avahi_service_resolver_free(r);
    ctx->resolver = nullptr;
    ctx->queue.async([alive = ctx->alive, done = ctx->done, result] {
        if (*alive && done)
            done(result);
    });
}

class AvahiResolve : public ServiceHandle {
public:
    explicit AvahiResolve(std::unique_ptr<ResolveContext> ctx) : m_ctx(std::move(ctx)) {}
    ~AvahiResolve() override
    {
        *m_ctx->alive = false;
        Locker lock(m_ctx->backend->poll);
        if (m_ctx->resolver)
            avahi_service_resolver_free(m_ctx->resolver);
    }

private:
    std::unique_ptr<ResolveContext> m_ctx;
};

Error avahiError(const Shared& d, const QString& what)
{
    return Error{QStringLiteral("Bonjour"), avahi_client_errno(d->client),
                 QStringLiteral("%1: %2").arg(what, QString::fromUtf8(avahi_strerror(avahi_client_errno(d->client))))};
}

} // namespace

AvahiServiceBackend::AvahiServiceBackend(std::shared_ptr<Private> d) : d(std::move(d)) {}
AvahiServiceBackend::~AvahiServiceBackend() = default;

std::unique_ptr<AvahiServiceBackend> AvahiServiceBackend::create()
{
    auto d = std::make_shared<Private>();
    d->poll = avahi_threaded_poll_new();
    if (!d->poll)
        return nullptr;
    int error = 0;
    d->client = avahi_client_new(avahi_threaded_poll_get(d->poll), AvahiClientFlags(0), nullptr, nullptr, &error);
    if (!d->client || avahi_client_get_state(d->client) != AVAHI_CLIENT_S_RUNNING)
        return nullptr;
    if (avahi_threaded_poll_start(d->poll) < 0)
        return nullptr;
    return std::unique_ptr<AvahiServiceBackend>(new AvahiServiceBackend(std::move(d)));
}

Result<std::unique_ptr<ServiceHandle>> AvahiServiceBackend::publish(const NetService& service, DispatchQueue queue,
                                                                    std::function<void(const NetService&)> published)
{
    auto ctx = std::make_unique<PublishContext>();
    ctx->backend = d;
    ctx->service = service;
    ctx->queue = queue;
    ctx->published = std::move(published);
    Locker lock(d->poll);
    ctx->group = avahi_entry_group_new(d->client, groupCallback, ctx.get());
    if (!ctx->group)
        return std::unexpected(avahiError(d, QStringLiteral("Cannot publish %1").arg(service.name)));
    if (const int error = addService(ctx.get()); error < 0) {
        avahi_entry_group_free(ctx->group);
        return std::unexpected(Error{QStringLiteral("Bonjour"), error,
                                     QStringLiteral("Cannot publish %1: %2")
                                         .arg(service.name, QString::fromUtf8(avahi_strerror(error)))});
    }
    return std::make_unique<AvahiPublication>(std::move(ctx));
}

Result<std::unique_ptr<ServiceHandle>> AvahiServiceBackend::browse(const QString& type, const QString& domain,
                                                                   DispatchQueue queue, BrowseCallbacks callbacks)
{
    auto ctx = std::make_unique<BrowseContext>();
    ctx->backend = d;
    ctx->queue = queue;
    ctx->callbacks = std::move(callbacks);
    const QByteArray domainBytes = domain.toUtf8();
    Locker lock(d->poll);
    ctx->browser = avahi_service_browser_new(d->client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                             NetService::normalizedType(type).toUtf8().constData(),
                                             domainOrNull(domainBytes), AvahiLookupFlags(0), browseCallback, ctx.get());
    if (!ctx->browser)
        return std::unexpected(avahiError(d, QStringLiteral("Cannot browse %1").arg(type)));
    return std::make_unique<AvahiBrowse>(std::move(ctx));
}

std::unique_ptr<ServiceHandle> AvahiServiceBackend::resolve(const NetService& service, DispatchQueue queue,
                                                            std::function<void(Result<NetService>)> done)
{
    auto ctx = std::make_unique<ResolveContext>();
    ctx->backend = d;
    ctx->queue = queue;
    ctx->done = std::move(done);
    ctx->service = service;
    const QByteArray domain = service.domain.toUtf8();
    Locker lock(d->poll);
    ctx->resolver = avahi_service_resolver_new(d->client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                               service.name.toUtf8().constData(),
                                               NetService::normalizedType(service.type).toUtf8().constData(),
                                               domainOrNull(domain), AVAHI_PROTO_UNSPEC, AvahiLookupFlags(0),
                                               resolveCallback, ctx.get());
    if (!ctx->resolver) {
        const Error error = avahiError(d, QStringLiteral("Cannot resolve %1").arg(service.name));
        queue.async([alive = ctx->alive, done = ctx->done, error] {
            if (*alive && done)
                done(std::unexpected(error));
        });
    }
    return std::make_unique<AvahiResolve>(std::move(ctx));
}

} // namespace platform

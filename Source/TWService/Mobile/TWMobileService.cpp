#include "TWService/Mobile/TWMobileService.h"

#include "Platform/Foundation/Dispatch.h"
#include "TWService/Server/TWWire.h"

#include <QSysInfo>
#include <QtGlobal>

#include <algorithm>
#include <mutex>
#include <vector>

using platform::DispatchQueue;
using namespace TWMatchWire;

namespace {
// Connections turned away are held only until their state word is out; more than this at once
// are closed without one.
constexpr std::size_t kMaxRefusing = 16;
} // namespace

TWMatchLimits& TWMatchLimits::shared()
{
    static TWMatchLimits limits;
    return limits;
}

class TWMobileService::Core : public KPAsyncSocketDelegate, public std::enable_shared_from_this<Core> {
public:
    platform::Result<quint16> listen()
    {
        auto socket = KPAsyncSocket::create(weak_from_this(), DispatchQueue::serial(QStringLiteral("TWMobileService")));
        if (auto listening = socket->acceptOnPort(0); !listening)
            return std::unexpected(listening.error());
        std::lock_guard lock(m_mutex);
        m_listener = socket;
        m_open = true;
        return socket->localPort();
    }

    void close()
    {
        KPAsyncSocketPtr listener, matching;
        std::vector<KPAsyncSocketPtr> refusing;
        {
            std::lock_guard lock(m_mutex);
            listener = std::move(m_listener);
            matching = m_matchingSocket;
            refusing.swap(m_refusing);
            m_open = false;
        }
        if (listener)
            listener->disconnect();
        if (matching)
            matching->disconnect();
        for (auto& s : refusing)
            s->disconnect();
    }

    quint16 port() const
    {
        std::lock_guard lock(m_mutex);
        return m_listener ? m_listener->localPort() : 0;
    }

    void setDelegate(std::weak_ptr<TWMatchServiceDelegate> d)
    {
        std::lock_guard lock(m_mutex);
        m_delegate = std::move(d);
    }
    void setOpen(bool open)
    {
        std::lock_guard lock(m_mutex);
        m_open = open;
    }
    bool isMatching() const
    {
        std::lock_guard lock(m_mutex);
        return m_matching;
    }
    void setClock(Clock clock)
    {
        std::lock_guard lock(m_mutex);
        m_clock = std::move(clock);
    }

    void didAcceptNewSocket(const KPAsyncSocketPtr&, const KPAsyncSocketPtr& socket) override
    {
        TWMatchState state = TWMatchStateWaiting;
        bool dropped = false;
        {
            std::lock_guard lock(m_mutex);
            const bool lockedOut = m_lockedUntil && now() < *m_lockedUntil;
            if (!m_open || !m_listener || m_delegate.expired() || lockedOut) {
                state = TWMatchStateClosed;
            } else if (m_matching) {
                state = TWMatchStateMatching;
            } else {
                m_lockedUntil.reset();
                m_matching = true;
                m_matchingSocket = socket;
                m_stage = Stage::Header;
                m_outcomeSent = false;
            }
            if (state != TWMatchStateWaiting) {
                dropped = m_refusing.size() >= kMaxRefusing;
                if (!dropped)
                    m_refusing.push_back(socket);
            }
        }
        if (dropped) {
            socket->disconnect();
            return;
        }
        // Each connection calls back on a queue of its own, so no two steps of one match overlap.
        socket->setDelegate(weak_from_this(), DispatchQueue::serial(QStringLiteral("TWMobileService.match")));
        if (state != TWMatchStateWaiting) {
            socket->writeData(TWWire::u32(state), TWMatchLimits::shared().read, TagState);
            socket->disconnectAfterWriting();
            return;
        }
        socket->writeData(TWWire::u32(TWMatchStateWaiting), TWMatchLimits::shared().read, TagState);
    }

    void didReadData(const KPAsyncSocketPtr& socket, const QByteArray& data, long tag) override
    {
        Stage stage;
        std::shared_ptr<TWMatchServiceDelegate> delegate;
        {
            std::lock_guard lock(m_mutex);
            if (socket != m_matchingSocket)
                return;
            stage = m_stage;
            delegate = m_delegate.lock();
        }
        switch (stage) {
        case Stage::Header: {
            // Exact reads settle where the length word ends and the archive begins, however
            // the bytes arrive.
            const quint32 length = TWWire::readU32(data).value_or(0);
            if (length == 0 || length > kMaxRequestLength) {
                qInfo("TWMobileService: a match request of %u bytes is refused", length);
                failMatch(socket);
                return;
            }
            setStage(Stage::Body);
            socket->readDataToLength(length, TWMatchLimits::shared().read, TagRequest);
            return;
        }
        case Stage::Body: {
            const auto request = TWMatchRequest::fromArchive(data);
            if (!request) {
                qInfo("TWMobileService: Unarchiver object error: the match request is no dictionary");
                failMatch(socket);
                return;
            }
            const quint32 own = delegate ? delegate->onTWMatchServiceReceiveMatchInfo(request->dictionary(), socket)
                                         : kMatchCancelled;
            if (own == kMatchCancelled) {
                setStage(Stage::Ended);
                socket->writeData(TWWire::u32(kMatchCancelled), TWMatchLimits::shared().read, TagRequest);
                socket->disconnectAfterWriting();
                return;
            }
            if (!request->code || quint32(*request->code) != own) {
                failMatch(socket);
                return;
            }
            {
                std::lock_guard lock(m_mutex);
                m_failures = 0;
                m_stage = Stage::Echo;
            }
            socket->readDataToLength(4, TWMatchLimits::shared().read, TagState);
            socket->writeData(TWWire::u32(own), TWMatchLimits::shared().read, TagRequest);
            return;
        }
        case Stage::Echo:
        case Stage::Result: {
            if (TWWire::readU32(data).value_or(0) != 1)
                qInfo("TWMobileService: the client reports codes that differ; the listener compared them equal");
            setStage(Stage::Ended);
            report(true, true);
            socket->disconnect();
            return;
        }
        case Stage::Ended:
            return;
        }
    }

    void didWriteDataWithTag(const KPAsyncSocketPtr& socket, long tag) override
    {
        if (tag == TagState) {
            bool greeted = false;
            {
                std::lock_guard lock(m_mutex);
                greeted = socket == m_matchingSocket && m_stage == Stage::Header;
            }
            // The request is read only once the greeting is out, so the two never overlap.
            if (greeted)
                socket->readDataToLength(4, TWMatchLimits::shared().read, TagRequest);
            return;
        }
        if (tag != TagRequest)
            return;
        {
            std::lock_guard lock(m_mutex);
            if (socket != m_matchingSocket || m_stage != Stage::Echo)
                return;
            m_stage = Stage::Result;
        }
        // The codes agreed here; what the client writes back changes nothing.
        report(true, true);
    }

    double shouldTimeoutReadWithTag(const KPAsyncSocketPtr&, long tag, double, std::uint64_t) override
    {
        qInfo("TWMobileService: time out read with tag: %ld", tag);
        return 0;
    }

    void socketDidDisconnect(const KPAsyncSocketPtr& socket, const std::optional<platform::Error>&) override
    {
        KPAsyncSocketPtr last; // released outside the lock
        bool wasMatching = false;
        {
            std::lock_guard lock(m_mutex);
            if (socket == m_matchingSocket) {
                last = std::move(m_matchingSocket);
                m_matchingSocket.reset();
                m_matching = false;
                wasMatching = true;
            } else {
                auto it = std::find(m_refusing.begin(), m_refusing.end(), socket);
                if (it != m_refusing.end()) {
                    last = std::move(*it);
                    m_refusing.erase(it);
                }
            }
        }
        if (wasMatching)
            report(false, false);
    }

private:
    enum class Stage { Header, Body, Echo, Result, Ended };

    std::chrono::steady_clock::time_point now() const
    {
        return m_clock ? m_clock() : std::chrono::steady_clock::now();
    }

    void setStage(Stage stage)
    {
        std::lock_guard lock(m_mutex);
        m_stage = stage;
    }

    // A wrong code or a request that is not one: the client hears "cancelled", and enough of
    // them in a row close the listener for a while, so a six-digit code cannot be guessed.
    void failMatch(const KPAsyncSocketPtr& socket)
    {
        {
            std::lock_guard lock(m_mutex);
            m_stage = Stage::Ended;
            if (++m_failures >= TWMatchLimits::shared().maxFailures) {
                m_failures = 0;
                m_lockedUntil = now() + TWMatchLimits::shared().lockout;
                qInfo("TWMobileService: too many failed matches; closed for %lld ms",
                      qint64(TWMatchLimits::shared().lockout.count()));
            }
        }
        report(true, false);
        socket->writeData(TWWire::u32(kMatchCancelled), TWMatchLimits::shared().read, TagRequest);
        socket->disconnectAfterWriting();
    }

    // The outcome of the current match, once: done when the codes were compared, else cancel.
    void report(bool compared, bool success)
    {
        std::weak_ptr<TWMatchServiceDelegate> delegate;
        {
            std::lock_guard lock(m_mutex);
            if (m_outcomeSent)
                return;
            m_outcomeSent = true;
            delegate = m_delegate;
        }
        platform::Dispatch::main([delegate, compared, success] {
            if (auto d = delegate.lock()) {
                if (compared)
                    d->onTWMatchServiceMatchDone(success);
                else
                    d->onTWMatchServiceMatchCancel();
            }
        });
    }

    mutable std::mutex m_mutex;
    KPAsyncSocketPtr m_listener;
    std::weak_ptr<TWMatchServiceDelegate> m_delegate;
    bool m_open = false;
    bool m_matching = false;
    KPAsyncSocketPtr m_matchingSocket;
    Stage m_stage = Stage::Ended;
    bool m_outcomeSent = true;
    std::vector<KPAsyncSocketPtr> m_refusing;
    int m_failures = 0;
    std::optional<std::chrono::steady_clock::time_point> m_lockedUntil;
    Clock m_clock;
};

TWMobileService::TWMobileService(QString guid, quint16 dataServerPort, QString userName)
    : m_GUID(std::move(guid)), m_dataServerPort(dataServerPort), m_userName(std::move(userName)),
      m_core(std::make_shared<Core>())
{
}

TWMobileService::~TWMobileService()
{
    stopService();
}

platform::Result<void> TWMobileService::startService()
{
    if (m_netService)
        return {};
    auto port = m_core->listen();
    if (!port) {
        qWarning("TWMobileService: listening failed: %s", qPrintable(port.error().toString()));
        return std::unexpected(port.error());
    }
    m_backend = platform::ServiceBackend::shared();
    platform::NetService service;
    // The backends refuse an empty name; the host name is what the system would have chosen.
    service.name = QSysInfo::machineHostName();
    if (service.name.isEmpty())
        service.name = QStringLiteral("Folivo");
    service.type = QString::fromLatin1(kTWMobileServiceType);
    service.port = *port;
    service.txt.insert(QStringLiteral("Name"), TWWire::cutToBytes(m_userName, 250).toUtf8());
    service.txt.insert(QStringLiteral("DataPort"), QByteArray::number(m_dataServerPort));
    service.txt.insert(QStringLiteral("GUID"), TWWire::cutToBytes(m_GUID, 250).toUtf8());
    auto handle = m_backend->publish(service, DispatchQueue::main(), [](const platform::NetService&) {});
    if (!handle) {
        qWarning("TWMobileService: publishing failed: %s", qPrintable(handle.error().toString()));
        m_core->close();
        m_backend.reset();
        return std::unexpected(handle.error());
    }
    m_netService = std::move(*handle);
    return {};
}

void TWMobileService::stopService()
{
    m_netService.reset();
    m_backend.reset();
    m_core->close();
}

quint16 TWMobileService::port() const
{
    return m_core->port();
}

void TWMobileService::setMatchDelegate(std::weak_ptr<TWMatchServiceDelegate> delegate)
{
    m_core->setDelegate(std::move(delegate));
}

void TWMobileService::setOpenForMatching(bool open)
{
    m_core->setOpen(open);
}

bool TWMobileService::isMatching() const
{
    return m_core->isMatching();
}

void TWMobileService::setClock(Clock clock)
{
    m_core->setClock(std::move(clock));
}

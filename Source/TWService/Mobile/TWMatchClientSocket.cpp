#include "TWService/Mobile/TWMatchClientSocket.h"

#include "Platform/Foundation/Dispatch.h"
#include "TWService/Mobile/TWMobileService.h"
#include "TWService/Server/TWWire.h"

#include <QtGlobal>

using platform::DispatchQueue;
using platform::Error;
using namespace TWMatchWire;

std::shared_ptr<TWMatchClientSocket> TWMatchClientSocket::create(std::shared_ptr<ServerInfo> serverInfo, qint32 matchCode)
{
    return std::make_shared<TWMatchClientSocket>(std::move(serverInfo), matchCode);
}

TWMatchClientSocket::TWMatchClientSocket(std::shared_ptr<ServerInfo> serverInfo, qint32 matchCode)
    : m_serverInfo(std::move(serverInfo)), m_matchCode(matchCode)
{
}

TWMatchClientSocket::~TWMatchClientSocket()
{
    if (m_asyncSocket)
        m_asyncSocket->disconnect();
}

bool TWMatchClientSocket::beginMatch()
{
    if (m_asyncSocket || !m_serverInfo)
        return false;
    m_asyncSocket = KPAsyncSocket::create(weak_from_this(), DispatchQueue::serial(QStringLiteral("TWMatchClientSocket")));
    m_self = shared_from_this();
    // No connect limit of its own: the listener's 30 s reads and ours bound the exchange once
    // it is connected, and the system's connect time-out bounds the rest.
    auto started = m_asyncSocket->connectToHost(m_serverInfo->address(), m_serverInfo->dataPort());
    if (!started) {
        qInfo("TWMatchClientSocket: connecting failed: %s", qPrintable(started.error().toString()));
        m_done = true;
        m_self.reset();
        return false;
    }
    return true;
}

void TWMatchClientSocket::setDelegate(std::weak_ptr<TWMatchClientDelegate> delegate)
{
    std::lock_guard lock(m_mutex);
    m_delegate = std::move(delegate);
}

void TWMatchClientSocket::cancelMatch()
{
    m_cancelled = true;
    m_done = true;
    {
        std::lock_guard lock(m_mutex);
        m_delegate.reset();
    }
    if (m_asyncSocket)
        m_asyncSocket->disconnect();
}

void TWMatchClientSocket::didConnectToHost(const KPAsyncSocketPtr& sock, const QString&, quint16)
{
    TWMatchRequest request;
    request.name = m_clientName;
    request.guid = m_GUID;
    request.code = m_matchCode;
    auto framed = frameRequest(request);
    if (!framed) {
        qWarning("TWMatchClientSocket: Arachiver paramater data error: %s", qPrintable(framed.error().toString()));
        finish(false, Error{ErrorDomain, ConnectionEnded, framed.error().message});
        return;
    }
    // Both words are asked for at once: the listener greets before the request is even read, and
    // its answer may follow in the same segment.
    sock->readDataToLength(4, TWMatchLimits::shared().read, TagState);
    sock->readDataToLength(4, TWMatchLimits::shared().read, TagRequest);
    sock->writeData(*framed, TWMatchLimits::shared().read, TagRequest);
}

void TWMatchClientSocket::didReadData(const KPAsyncSocketPtr& sock, const QByteArray& data, long tag)
{
    if (m_done)
        return;
    const quint32 word = TWWire::readU32(data).value_or(0);
    if (!m_stateRead) {
        m_stateRead = true;
        if (word == TWMatchStateClosed) {
            finish(false, Error{ErrorDomain, ListenerClosed, {}});
        } else if (word == TWMatchStateMatching) {
            finish(false, Error{ErrorDomain, ListenerBusy, {}});
        } else if (word == TWMatchStateWaiting) {
            toDelegate([](TWMatchClientDelegate& d, TWMatchClientSocket* self) { d.onTWMatchClientWillBeginMatch(self); });
        } else {
            finish(false, Error{ErrorDomain, ConnectionEnded, QStringLiteral("unknown match state %1").arg(word)});
        }
        return;
    }
    if (word == kMatchCancelled) {
        finish(false, Error{ErrorDomain, MatchCancelled, {}});
        return;
    }
    const bool equal = word == quint32(m_matchCode);
    sock->writeData(TWWire::u32(equal ? 1 : 0), TWMatchLimits::shared().read, TagState);
    sock->disconnectAfterWriting();
    finish(equal, std::nullopt);
}

double TWMatchClientSocket::shouldTimeoutReadWithTag(const KPAsyncSocketPtr&, long tag, double, std::uint64_t)
{
    qInfo("TWMatchClientSocket: time out read with tag: %ld", tag);
    return 0;
}

void TWMatchClientSocket::socketDidDisconnect(const KPAsyncSocketPtr&, const std::optional<Error>& error)
{
    finish(false, error ? *error : Error{ErrorDomain, ConnectionEnded, QStringLiteral("the listener closed the connection")});
    m_self.reset(); // last step on this socket's queue
}

void TWMatchClientSocket::finish(bool success, const std::optional<Error>& error)
{
    bool expected = false;
    if (!m_done.compare_exchange_strong(expected, true))
        return;
    if (error && m_asyncSocket)
        m_asyncSocket->disconnect();
    toDelegate([success, error](TWMatchClientDelegate& d, TWMatchClientSocket* self) {
        d.onTWMatchClientMatchDone(self, success, error);
    });
}

void TWMatchClientSocket::toDelegate(std::function<void(TWMatchClientDelegate&, TWMatchClientSocket*)> call)
{
    std::weak_ptr<TWMatchClientDelegate> delegate;
    {
        std::lock_guard lock(m_mutex);
        delegate = m_delegate;
    }
    auto self = shared_from_this();
    platform::Dispatch::main([delegate, self, call = std::move(call)] {
        if (self->m_cancelled)
            return;
        if (auto d = delegate.lock())
            call(*d, self.get());
    });
}

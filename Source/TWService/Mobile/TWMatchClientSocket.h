// One pairing attempt from the other side: connects to a listener, sends the name, identifier
// and code, reads the listener's state and answer and writes back whether the codes agreed.
//
// The delegate hears onTWMatchClientMatchDone exactly once on the main thread, however the
// attempt ends (the listener's answer, a refusal, a time-out, a close), unless it was cancelled.
// Its state belongs to the connection's serial queue.
#pragma once

#include "Platform/Foundation/Error.h"
#include "TWService/Mobile/TWMatchWire.h"
#include "TWService/ServerInfo.h"
#include "TWService/Socket/KPAsyncSocket.h"

#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>

class TWMatchClientSocket;

class TWMatchClientDelegate {
public:
    virtual ~TWMatchClientDelegate() = default;
    virtual void onTWMatchClientWillBeginMatch(TWMatchClientSocket* client) {}
    virtual void onTWMatchClientMatchDone(TWMatchClientSocket* client, bool success,
                                          const std::optional<platform::Error>& error) {}
};

class TWMatchClientSocket : public KPAsyncSocketDelegate, public std::enable_shared_from_this<TWMatchClientSocket> {
public:
    static inline const QString ErrorDomain = QStringLiteral("TWMatchClientSocket");
    enum ErrorCode {
        ListenerBusy = 1,     // another match runs there
        MatchCancelled = 2,   // the listener turned the match down or the codes differ
        ListenerClosed = 3,   // the listener is not open for matching
        ConnectionEnded = 4,  // the exchange ended before an answer
    };

    static std::shared_ptr<TWMatchClientSocket> create(std::shared_ptr<ServerInfo> serverInfo, qint32 matchCode);
    TWMatchClientSocket(std::shared_ptr<ServerInfo> serverInfo, qint32 matchCode);
    ~TWMatchClientSocket() override;

    void setClientName(const QString& name) { m_clientName = name; }
    void setGUID(const QString& guid) { m_GUID = guid; }
    void setDelegate(std::weak_ptr<TWMatchClientDelegate> delegate);
    std::shared_ptr<ServerInfo> serverInfo() const { return m_serverInfo; }
    qint32 matchCode() const { return m_matchCode; }

    // Connects to the listener's address and data port; false when connecting cannot start.
    bool beginMatch();
    // Disconnects; the delegate hears nothing more.
    void cancelMatch();

protected:
    void didConnectToHost(const KPAsyncSocketPtr& sock, const QString& host, quint16 port) override;
    void didReadData(const KPAsyncSocketPtr& sock, const QByteArray& data, long tag) override;
    double shouldTimeoutReadWithTag(const KPAsyncSocketPtr& sock, long tag, double elapsed,
                                    std::uint64_t bytesDone) override;
    void socketDidDisconnect(const KPAsyncSocketPtr& sock, const std::optional<platform::Error>& error) override;

private:
    void finish(bool success, const std::optional<platform::Error>& error);
    // Runs call on the main thread with the delegate, unless the attempt is cancelled by then.
    void toDelegate(std::function<void(TWMatchClientDelegate&, TWMatchClientSocket*)> call);

    std::shared_ptr<ServerInfo> m_serverInfo;
    const qint32 m_matchCode;
    QString m_clientName;
    QString m_GUID;
    mutable std::mutex m_mutex; // the delegate, set and dropped from the owner's thread
    std::weak_ptr<TWMatchClientDelegate> m_delegate;
    KPAsyncSocketPtr m_asyncSocket;
    std::shared_ptr<TWMatchClientSocket> m_self; // alive from beginMatch to the end
    bool m_stateRead = false;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_cancelled{false};
};

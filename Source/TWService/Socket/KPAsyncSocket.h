// The asynchronous TCP socket of the peer exchange: it listens and accepts over IPv4 and IPv6,
// connects to a host or an address with a time-out, serves queued reads (available data, an
// exact length, up to a terminator) and writes in order with time-outs the delegate may extend,
// disconnects at once or after its reads or writes, and can switch a connection to TLS.
//
// Every operation may be called from any thread. All state belongs to the socket queue (a serial
// queue, made per socket unless one is given); getters hop onto it synchronously, mutators
// asynchronously, and operations that enqueue (reads, writes, TLS start, disconnect-after) always
// asynchronously. The delegate is held weakly and called on the delegate queue; each call locks
// it when it runs, so a delegate destroyed in between gets no call. Every dispatched step holds
// the socket alive. Exactly one socketDidDisconnect follows every start (accept or connect).
//
// Sockets are made with create() and shared: the one the delegate is handed for an accepted
// connection lives as long as someone keeps it (dropping it closes the connection).
#pragma once

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/DispatchSource.h"
#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <cstdint>
#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class KPAsyncSocket;
class KPAsyncSocketPreBuffer;
struct KPAsyncReadPacket;
struct KPAsyncWritePacket;
struct KPAsyncSpecialPacket;
struct KPAsyncSocketTLS;

using KPAsyncSocketPtr = std::shared_ptr<KPAsyncSocket>;

// The delegate's operations are all optional; the defaults mean "not answered".
class KPAsyncSocketDelegate {
public:
    virtual ~KPAsyncSocketDelegate() = default;
    // An invalid queue lets the new socket make its own.
    virtual platform::DispatchQueue newSocketQueueForConnectionFromAddress(const QByteArray& address,
                                                                           const KPAsyncSocketPtr& listener)
    {
        return {};
    }
    virtual void didAcceptNewSocket(const KPAsyncSocketPtr& sock, const KPAsyncSocketPtr& newSocket) {}
    virtual void didConnectToHost(const KPAsyncSocketPtr& sock, const QString& host, quint16 port) {}
    virtual void didReadData(const KPAsyncSocketPtr& sock, const QByteArray& data, long tag) {}
    virtual void didReadPartialDataOfLength(const KPAsyncSocketPtr& sock, std::uint64_t length, long tag) {}
    // Seconds to extend the read by; 0 or less lets it time out.
    virtual double shouldTimeoutReadWithTag(const KPAsyncSocketPtr& sock, long tag, double elapsed,
                                            std::uint64_t bytesDone)
    {
        return 0;
    }
    virtual void didWriteDataWithTag(const KPAsyncSocketPtr& sock, long tag) {}
    virtual void didWritePartialDataOfLength(const KPAsyncSocketPtr& sock, std::uint64_t length, long tag) {}
    virtual double shouldTimeoutWriteWithTag(const KPAsyncSocketPtr& sock, long tag, double elapsed,
                                             std::uint64_t bytesDone)
    {
        return 0;
    }
    virtual void socketDidCloseReadStream(const KPAsyncSocketPtr& sock) {}
    // error is empty for a requested disconnect.
    virtual void socketDidDisconnect(const KPAsyncSocketPtr& sock, const std::optional<platform::Error>& error) {}
    virtual void socketDidSecure(const KPAsyncSocketPtr& sock) {}
};

class KPAsyncSocket : public std::enable_shared_from_this<KPAsyncSocket> {
    struct Private {};

public:
    static inline const QString ErrorDomain = QStringLiteral("KPAsyncSocketErrorDomain");
    static inline const QString NetDBErrorDomain = QStringLiteral("kCFStreamErrorDomainNetDB");
    static inline const QString SSLErrorDomain = QStringLiteral("kCFStreamErrorDomainSSL");
    enum ErrorCode {
        NoError = 0,
        BadConfigError = 1,
        BadParamError = 2,
        ConnectTimeoutError = 3,
        ReadTimeoutError = 4,
        WriteTimeoutError = 5,
        ReadMaxedOutError = 6,
        ClosedError = 7,
        OtherError = 8,
    };

    // TLS settings keys; the first group names the platform's options.
    static inline const QString SSLIsServer = QStringLiteral("kCFStreamSSLIsServer");
    static inline const QString SSLPeerName = QStringLiteral("kCFStreamSSLPeerName");
    static inline const QString SSLAllowsAnyRoot = QStringLiteral("kCFStreamSSLAllowsAnyRoot");
    static inline const QString SSLAllowsExpiredRoots = QStringLiteral("kCFStreamSSLAllowsExpiredRoots");
    static inline const QString SSLValidatesCertificateChain = QStringLiteral("kCFStreamSSLValidatesCertificateChain");
    static inline const QString SSLAllowsExpiredCertificates = QStringLiteral("kCFStreamSSLAllowsExpiredCertificates");
    static inline const QString SSLCertificates = QStringLiteral("kCFStreamSSLCertificates");
    static inline const QString SSLLevel = QStringLiteral("kCFStreamSSLLevel");
    static inline const QString SSLCipherSuites = QStringLiteral("KPAsyncSocketSSLCipherSuites");
    static inline const QString SSLDiffieHellmanParameters = QStringLiteral("KPAsyncSocketSSLDiffieHellmanParameters");

    // Turns a host name into socket addresses (16- or 28-byte data); the system's getaddrinfo by
    // default. Tests put their own in place so that no name ever reaches a real resolver.
    using Resolver = std::function<std::expected<std::vector<QByteArray>, platform::Error>(const QString& host,
                                                                                           quint16 port)>;
    static void setResolver(Resolver resolver); // an empty one restores the system's

    static KPAsyncSocketPtr create(std::weak_ptr<KPAsyncSocketDelegate> delegate = {},
                                   platform::DispatchQueue delegateQueue = {},
                                   platform::DispatchQueue socketQueue = {});
    KPAsyncSocket(Private, std::weak_ptr<KPAsyncSocketDelegate> delegate, platform::DispatchQueue delegateQueue,
                  platform::DispatchQueue socketQueue);
    ~KPAsyncSocket();
    KPAsyncSocket(const KPAsyncSocket&) = delete;
    KPAsyncSocket& operator=(const KPAsyncSocket&) = delete;

    // Accessors
    std::weak_ptr<KPAsyncSocketDelegate> delegate() const;
    void setDelegate(std::weak_ptr<KPAsyncSocketDelegate> delegate);
    void synchronouslySetDelegate(std::weak_ptr<KPAsyncSocketDelegate> delegate);
    platform::DispatchQueue delegateQueue() const;
    void setDelegateQueue(platform::DispatchQueue queue);
    void synchronouslySetDelegateQueue(platform::DispatchQueue queue);
    void setDelegate(std::weak_ptr<KPAsyncSocketDelegate> delegate, platform::DispatchQueue queue);
    void synchronouslySetDelegate(std::weak_ptr<KPAsyncSocketDelegate> delegate, platform::DispatchQueue queue);

    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool enabled);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool enabled);
    bool isIPv4PreferredOverIPv6() const;
    void setPreferIPv4OverIPv6(bool prefer);
    bool autoDisconnectOnClosedReadStream() const;
    void setAutoDisconnectOnClosedReadStream(bool flag);
    std::shared_ptr<void> userData() const;
    void setUserData(std::shared_ptr<void> data);

    bool isDisconnected() const;
    bool isConnected() const;
    bool isIPv4() const;
    bool isIPv6() const;
    bool isSecure() const;
    QString connectedHost() const;
    quint16 connectedPort() const;
    QString localHost() const;
    quint16 localPort() const;
    QString connectedHost4() const;
    QString connectedHost6() const;
    quint16 connectedPort4() const;
    quint16 connectedPort6() const;
    QString localHost4() const;
    QString localHost6() const;
    quint16 localPort4() const;
    quint16 localPort6() const;
    QByteArray connectedAddress() const;
    QByteArray localAddress() const;
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    // The OpenSSL session (an SSL*), only on the socket queue; null elsewhere or without TLS.
    void* sslContext() const;
    void performBlock(const std::function<void()>& block);
    const platform::DispatchQueue& socketQueue() const { return m_socketQueue; }

    static QString connectedHostFromSocket4(int fd);
    static QString connectedHostFromSocket6(int fd);
    static quint16 connectedPortFromSocket4(int fd);
    static quint16 connectedPortFromSocket6(int fd);
    static QString localHostFromSocket4(int fd);
    static QString localHostFromSocket6(int fd);
    static quint16 localPortFromSocket4(int fd);
    static quint16 localPortFromSocket6(int fd);
    static QString hostFromSockaddr4(const void* address);
    static QString hostFromSockaddr6(const void* address);
    static quint16 portFromSockaddr4(const void* address);
    static quint16 portFromSockaddr6(const void* address);
    static bool getHost(QString* host, quint16* port, const QByteArray& address);
    static QString hostFromAddress(const QByteArray& address);
    static quint16 portFromAddress(const QByteArray& address);
    static QByteArray CRLFData();
    static QByteArray CRData();
    static QByteArray LFData();
    static QByteArray ZeroData();

    // Accept and connect: each answers at once; a refusal starts nothing.
    platform::Result<void> acceptOnPort(quint16 port);
    // A listener keeps at most this many accepted connections open at once (0, the default: no
    // limit): at the limit it stops accepting, and connections wait in the system's queue until
    // one of its own closes. A connection counts until its descriptor is closed, not until its
    // socket is told to close: closing lags behind accepting under a flood. Any thread; the
    // count too.
    void setAcceptLimit(int maxOpen);
    int acceptedOpenCount() const;
    platform::Result<void> acceptOnInterface(const QString& interface, quint16 port);
    platform::Result<void> connectToHost(const QString& host, quint16 port, double timeout = -1);
    platform::Result<void> connectToHost(const QString& host, quint16 port, const QString& interface,
                                         double timeout);
    platform::Result<void> connectToAddress(const QByteArray& address, double timeout = -1);
    platform::Result<void> connectToAddress(const QByteArray& address, const QString& interface, double timeout);

    // Reads. A buffer given by the caller receives the bytes from bufferOffset on.
    void readDataWithTimeout(double timeout, long tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<QByteArray> buffer, std::uint64_t bufferOffset,
                             long tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<QByteArray> buffer, std::uint64_t bufferOffset,
                             std::uint64_t maxLength, long tag);
    void readDataToLength(std::uint64_t length, double timeout, long tag);
    void readDataToLength(std::uint64_t length, double timeout, std::shared_ptr<QByteArray> buffer,
                          std::uint64_t bufferOffset, long tag);
    void readDataToData(const QByteArray& data, double timeout, long tag);
    void readDataToData(const QByteArray& data, double timeout, std::uint64_t maxLength, long tag);
    void readDataToData(const QByteArray& data, double timeout, std::shared_ptr<QByteArray> buffer,
                        std::uint64_t bufferOffset, std::uint64_t maxLength, long tag);
    // NaN when nothing is being read (or the current item is the TLS marker).
    float progressOfReadReturningTag(long* tag, std::uint64_t* done, std::uint64_t* total) const;

    void writeData(const QByteArray& data, double timeout, long tag);
    float progressOfWriteReturningTag(long* tag, std::uint64_t* done, std::uint64_t* total) const;

    void startTLS(const QVariantMap& settings = {});

    void disconnect();
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();

    // Errors made by the socket (domain ErrorDomain unless said otherwise).
    static platform::Error badConfigError(const QString& message);
    static platform::Error badParamError(const QString& message);
    static platform::Error gaiError(int code);
    static platform::Error errnoErrorWithReason(const QString& reason);
    static platform::Error sslError(int status);
    static platform::Error otherError(const QString& message);

private:
    friend struct KPAsyncSocketTLS;
    using ReadItem = std::variant<std::shared_ptr<KPAsyncReadPacket>, std::shared_ptr<KPAsyncSpecialPacket>>;
    using WriteItem = std::variant<std::shared_ptr<KPAsyncWritePacket>, std::shared_ptr<KPAsyncSpecialPacket>>;

    template <class F>
    auto onSocketQueueSync(F&& f) const;
    void onSocketQueueAsync(std::function<void()> f);
    bool isOnSocketQueue() const { return m_socketQueue.isCurrent(); }
    using DelegateCall = std::function<void(KPAsyncSocketDelegate&, const KPAsyncSocketPtr&)>;
    void notifyDelegate(DelegateCall call);

    // State and lifecycle
    void closeWithError(const std::optional<platform::Error>& error, bool notify = true);
    void maybeClose();

    // Accept and connect
    platform::Result<void> doAcceptOnInterface(const QString& interface, quint16 port);
    platform::Result<int> createListeningSocket(int family, const QByteArray& address);
    void doAccept(int listenFD);
    platform::Result<void> preConnectWithInterface(const QString& interface);
    void lookupDone(int index, const std::expected<std::vector<QByteArray>, platform::Error>& result);
    platform::Result<void> connectWithAddress4(const QByteArray& address4, const QByteArray& address6);
    void didConnect(int index);
    void didNotConnect(int index, const platform::Error& error);
    void startConnectTimeout(double timeout);
    void endConnectTimeout();

    // Reading and writing
    void setupReadAndWriteSourcesForNewlyConnectedSocket(int fd);
    void suspendReadSource();
    void resumeReadSource();
    void suspendWriteSource();
    void resumeWriteSource();
    void maybeDequeueRead();
    void doReadData();
    void doReadEOF();
    void completeCurrentRead();
    void endCurrentRead();
    void maybeDequeueWrite();
    void doWriteData();
    void completeCurrentWrite();
    void endCurrentWrite();
    // Time-outs: reading and writing run the same rule, each side with its own timer.
    enum class Side { Read, Write };
    int& timerGeneration(Side side) { return side == Side::Read ? m_readTimerGeneration : m_writeTimerGeneration; }
    void setupTimerWithTimeout(Side side, double timeout);
    void doTimeout(Side side);
    void doTimeoutWithExtension(Side side, double extension, int generation);
    void enqueueRead(std::shared_ptr<KPAsyncReadPacket> packet);

    // TLS (kept in their own file)
    void maybeStartTLS();
    void sslStartTLS();
    void sslContinueSSLHandshake();
    void flushSSLBuffers();
    void sslCloseContext();
    std::size_t sslBufferedReadCount() const;
    // Reads up to n plain bytes through the TLS layer; the status tells why it stopped.
    int sslRead(char* into, std::size_t n, std::size_t* got);
    int sslWrite(const char* from, std::size_t n, std::size_t* written);

    // Fields (all on the socket queue)
    std::uint32_t m_flags = 0;
    std::uint16_t m_config = 0;
    std::weak_ptr<KPAsyncSocketDelegate> m_delegate;
    platform::DispatchQueue m_delegateQueue;
    int m_socket4FD = -1;
    int m_socket6FD = -1;
    int m_connectIndex = 0;
    QByteArray m_connectInterface4;
    QByteArray m_connectInterface6;
    platform::DispatchQueue m_socketQueue;
    std::unique_ptr<platform::DispatchSource> m_accept4Source;
    std::unique_ptr<platform::DispatchSource> m_accept6Source;
    std::unique_ptr<platform::DispatchSource> m_connectSource;
    int m_connectTimerGeneration = 0;
    bool m_connectTimerArmed = false;
    std::unique_ptr<platform::DispatchSource> m_readSource;
    std::unique_ptr<platform::DispatchSource> m_writeSource;
    int m_readTimerGeneration = 0;
    int m_writeTimerGeneration = 0;
    std::deque<ReadItem> m_readQueue;
    std::deque<WriteItem> m_writeQueue;
    std::optional<ReadItem> m_currentRead;
    std::optional<WriteItem> m_currentWrite;
    std::uint64_t m_socketFDBytesAvailable = 0;
    std::unique_ptr<KPAsyncSocketPreBuffer> m_preBuffer;
    std::unique_ptr<KPAsyncSocketTLS> m_ssl;
    std::unique_ptr<KPAsyncSocketPreBuffer> m_sslPreBuffer;
    std::uint64_t m_sslWriteCachedLength = 0;
    int m_sslErrCode = 0;
    std::shared_ptr<void> m_userData;
    // Listener: the open accepted connections and their limit (shared with the tickets).
    struct AcceptCount {
        std::atomic<int> open{0};
        std::atomic<int> limit{0};
        std::atomic<bool> paused{false}; // the accept sources are suspended at the limit
        std::atomic<bool> flooded{false}; // the limit was reached since the count was last 0
    };
    void resumeAccepting();
    std::shared_ptr<AcceptCount> m_acceptCount = std::make_shared<AcceptCount>();
    // Accepted connection: held until its descriptor is closed, so the listener counts it.
    std::shared_ptr<void> m_descriptorTicket;
};

template <class F>
inline auto KPAsyncSocket::onSocketQueueSync(F&& f) const
{
    using R = decltype(f());
    if (isOnSocketQueue())
        return f();
    if constexpr (std::is_void_v<R>) {
        m_socketQueue.sync(f);
    } else {
        std::optional<R> result;
        m_socketQueue.sync([&] { result.emplace(f()); });
        return result ? std::move(*result) : R{};
    }
}

// One HTTP or HTTPS request carried through its whole life: its redirects, its retries after a
// time-out or a dropped connection, and its progress. It is an operation: it runs on the shared
// queue (at most four at once), on a caller's queue, or synchronously on the caller's thread.
//
// Asynchronous requests do their network work on one shared request thread, which runs an
// HTTPRunLoop of the streams and their status timers; a synchronous request runs a private loop
// on the caller's thread that serves only its own stream and timer. Every callback runs on the
// main thread in the order delegate, block, queue; the request waits for it only when it is
// itself on the main thread.
//
// Threads: the request's own recursive lock (cancelledLock) is held by every step on the
// request thread and by the getters and setters called from elsewhere. The request thread and
// the shared queue are made on first use and ended by shutDown(), in the program's shut-down
// order, never by static destruction.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Operation.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/HTTPStream/HTTPCookieStorage.h"
#include "Platform/HTTPStream/HTTPHeaders.h"
#include "HTTP/KPHTTPErrors.h"
#include "HTTP/KPHTTPRequestUtilities.h"
#include "HTTP/KPProgressDelegate.h"

#include <QByteArray>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {
class HTTPAuthentication;
class HTTPRunLoop;
class HTTPStream;
}
class KPDataDecompressor;
class KPDownloadCache;
struct KPCacheRequestInfo;
struct KPConnectionRecord;
class KPInputStream;
class QFile;

class KPHTTPRequest;

// A user name and password (and account domain) as requests apply and remember them.
struct KPCredentials {
    QString username;
    QString password;
    QString domain;
    bool operator==(const KPCredentials&) const = default;
};

// What a request's delegate is told as the request goes on; an empty function is one the
// delegate does not want to hear.
struct KPHTTPRequestDelegate {
    std::function<void(KPHTTPRequest&)> requestStarted;
    std::function<void(KPHTTPRequest&, const platform::HTTPHeaders&)> didReceiveResponseHeaders;
    std::function<void(KPHTTPRequest&, const QUrl&)> willRedirectToURL;
    std::function<void(KPHTTPRequest&)> requestRedirected;
    std::function<void(KPHTTPRequest&)> requestFinished;
    std::function<void(KPHTTPRequest&)> requestFailed;
    std::function<void(KPHTTPRequest&, const QByteArray&)> didReceiveData;
    std::function<void(KPHTTPRequest&)> authenticationNeededForRequest;
    std::function<void(KPHTTPRequest&)> proxyAuthenticationNeededForRequest;
};

// What an owning queue answers: it is told of each event after the delegate, and of progress.
struct KPHTTPRequestQueueReceiver {
    KPHTTPRequestDelegate delegate;
    KPProgressDelegate progress;
};

class KPHTTPRequest : public platform::Operation, public KPHTTPRequestUtilities {
public:
    using Block = std::function<void()>;
    using HeadersBlock = std::function<void(const platform::HTTPHeaders&)>;
    using DataBlock = std::function<void(const QByteArray&)>;
    using ProgressBlock = std::function<void(quint64 amount, quint64 total)>;
    using SizeBlock = std::function<void(qint64 amount)>;

    explicit KPHTTPRequest(const QUrl& url = QUrl());
    ~KPHTTPRequest() override;

    static std::shared_ptr<KPHTTPRequest> requestWithURL(const QUrl& url);
    // A new request of the same kind carrying this one's settings (not its results).
    std::shared_ptr<KPHTTPRequest> copy() const;
    // A HEAD request for the same url whose main request is this one; the queue learns sizes
    // with it before downloads.
    std::shared_ptr<KPHTTPRequest> HEADRequest();

    // --- starting and stopping
    void startAsynchronous();
    void startSynchronous();
    void cancel() override;
    void clearDelegatesAndCancel();
    // The delegate's answer to a redirect it was asked to confirm.
    void redirectToURL(const QUrl& url);

    // --- authentication
    // The delegate's answers to a credential request: retry with username() and password()
    // as now set, or give up (code 3).
    void retryUsingSuppliedCredentials();
    void cancelAuthentication();
    // Forgets the server credentials remembered for the session (proxy ones stay).
    static void clearSession();
    static int sessionCredentialsCount();
    // Credentials kept "for good": in memory for the run (nothing is written to disk).
    static void saveCredentials(const KPCredentials& credentials, const QString& host, int port,
                                const QString& protocol, const QString& realm);
    static std::optional<KPCredentials> savedCredentialsForHost(const QString& host, int port, const QString& protocol,
                                                                const QString& realm);
    static void removeCredentialsForHost(const QString& host, int port, const QString& protocol, const QString& realm);
    bool useSessionPersistence() const { return m_useSessionPersistence; }
    void setUseSessionPersistence(bool on) { m_useSessionPersistence = on; }
    bool useKeychainPersistence() const { return m_useKeychainPersistence; }
    void setUseKeychainPersistence(bool on) { m_useKeychainPersistence = on; }
    bool shouldPresentCredentialsBeforeChallenge() const { return m_shouldPresentCredentialsBeforeChallenge; }
    void setShouldPresentCredentialsBeforeChallenge(bool on) { m_shouldPresentCredentialsBeforeChallenge = on; }
    QString authenticationScheme() const;
    void setAuthenticationScheme(const QString& scheme);
    QString authenticationRealm() const;
    int authenticationRetryCount() const;
    QString domain() const { return m_domain; }
    void setDomain(const QString& domain) { m_domain = domain; }

    // --- proxies
    QString proxyHost() const;
    void setProxyHost(const QString& host);
    int proxyPort() const;
    void setProxyPort(int port);
    // "HTTP", "HTTPS" or "SOCKS"; "HTTP" when a host is set without a type.
    QString proxyType() const;
    void setProxyType(const QString& type);
    QString proxyUsername() const { return m_proxyUsername; }
    void setProxyUsername(const QString& name) { m_proxyUsername = name; }
    QString proxyPassword() const { return m_proxyPassword; }
    void setProxyPassword(const QString& password) { m_proxyPassword = password; }
    QUrl PACurl() const { return m_PACurl; }
    void setPACurl(const QUrl& url) { m_PACurl = url; }
    void retryUsingSuppliedProxyCredentials();

    // --- cookies
    QList<platform::HTTPCookie> requestCookies() const;
    void setRequestCookies(const QList<platform::HTTPCookie>& cookies);
    QList<platform::HTTPCookie> responseCookies() const;
    bool useCookiePersistence() const;
    void setUseCookiePersistence(bool on);
    // Cookies this run's responses set, kept until clearSession().
    static QList<platform::HTTPCookie> sessionCookies();
    static void setSessionCookies(const QList<platform::HTTPCookie>& cookies);
    static void addSessionCookie(const platform::HTTPCookie& cookie);

    // --- the download cache
    static std::shared_ptr<KPDownloadCache> defaultCache();
    static void setDefaultCache(const std::shared_ptr<KPDownloadCache>& cache);
    std::shared_ptr<KPDownloadCache> downloadCache() const;
    void setDownloadCache(const std::shared_ptr<KPDownloadCache>& cache);
    int cachePolicy() const;
    void setCachePolicy(int policy);
    int cacheStoragePolicy() const;
    void setCacheStoragePolicy(int policy);
    double secondsToCache() const;
    void setSecondsToCache(double seconds);
    bool didUseCachedResponse() const;
    // What the cache reads of this request (under the request's lock).
    KPCacheRequestInfo cacheInfo() const;

    // The "id" of the connection record this request used last (0 for none), and the number of
    // records in the class's pool (for tests).
    quint64 connectionID() const;
    static int connectionPoolSize();

    // This request starts only once that one has finished (the queue's HEAD requests).
    void addDependency(const std::shared_ptr<KPHTTPRequest>& request);

    static platform::OperationQueue& sharedQueue();
    // Stops the request thread and the shared queue; requests still running are cancelled.
    static void shutDown();

    static double defaultTimeOutSeconds();
    static void setDefaultTimeOutSeconds(double seconds);

    // --- building the request
    void addRequestHeader(const QString& name, const QString& value);
    void appendPostData(const QByteArray& data);
    void appendPostDataFromFile(const QString& path);

    // --- results
    int responseStatusCode() const;
    QString responseStatusMessage() const;
    platform::HTTPHeaders responseHeaders() const;
    std::optional<platform::Error> error() const;
    // The error under a code-1 or code-8 failure (the stream's or the file system's).
    std::optional<platform::Error> underlyingError() const;
    QByteArray rawResponseData() const;
    bool isResponseCompressed() const;
    // Inflated when compressed and inflating waits for the end; null when it cannot be.
    QByteArray responseData() const;
    QString responseString() const;

    bool complete() const;
    bool isFinishedRequest() const;
    bool isRequestCancelled() const;
    bool inProgress() const;
    // The operation's state changed: called with "isExecuting", "isFinished" or "isCancelled"
    // on the thread that changed it.
    void setStateObserver(std::function<void(const QString& key)> observer);

    // Sets an error before the request starts (a form file that does not exist): the start
    // reports it through the usual failure path.
    void setError(const platform::Error& error);

    // --- fields: plain getters and setters (cross-thread ones under the request's lock)
    QUrl url() const;
    void setURL(const QUrl& url);
    QUrl originalURL() const;
    QUrl redirectURL() const;
    std::weak_ptr<KPHTTPRequestDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<KPHTTPRequestDelegate>& delegate);
    std::shared_ptr<KPHTTPRequestQueueReceiver> queue() const;
    void setQueue(const std::shared_ptr<KPHTTPRequestQueueReceiver>& queue);
    QByteArray requestMethod() const;
    void setRequestMethod(const QByteArray& method);
    QByteArray postBody() const;
    void setPostBody(const QByteArray& body);
    bool shouldStreamPostDataFromDisk() const { return m_shouldStreamPostDataFromDisk; }
    void setShouldStreamPostDataFromDisk(bool on) { m_shouldStreamPostDataFromDisk = on; }
    QString postBodyFilePath() const { return m_postBodyFilePath; }
    void setPostBodyFilePath(const QString& path) { m_postBodyFilePath = path; }
    platform::HTTPHeaders requestHeaders() const;
    void setRequestHeaders(const platform::HTTPHeaders& headers);
    bool allowCompressedResponse() const { return m_allowCompressedResponse; }
    void setAllowCompressedResponse(bool on) { m_allowCompressedResponse = on; }
    bool shouldCompressRequestBody() const { return m_shouldCompressRequestBody; }
    void setShouldCompressRequestBody(bool on) { m_shouldCompressRequestBody = on; }
    QString downloadDestinationPath() const;
    void setDownloadDestinationPath(const QString& path);
    QString temporaryFileDownloadPath() const;
    void setTemporaryFileDownloadPath(const QString& path);
    QString userAgentString() const { return m_userAgentString; }
    void setUserAgentString(const QString& agent) { m_userAgentString = agent; }
    std::weak_ptr<KPProgressDelegate> uploadProgressDelegate() const;
    void setUploadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver);
    std::weak_ptr<KPProgressDelegate> downloadProgressDelegate() const;
    void setDownloadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver);
    quint64 contentLength() const;
    quint64 partialDownloadSize() const;
    quint64 postLength() const;
    quint64 totalBytesRead() const;
    quint64 totalBytesSent() const;
    double timeOutSeconds() const { return m_timeOutSeconds; }
    void setTimeOutSeconds(double seconds) { m_timeOutSeconds = seconds; }
    // The whole request, its redirects and retries included, may take this long before it fails
    // with code 2, however steadily bytes trickle in; 0 for no limit.
    static constexpr double DefaultTotalTimeOutSeconds = 600.0;
    double totalTimeOutSeconds() const;
    void setTotalTimeOutSeconds(double seconds);
    // A body kept in memory (no download path, no data receiver) may grow to this many bytes,
    // after inflating when the response is compressed; past it the request fails with code 12.
    // At most MaxResponseBodySizeLimit.
    static constexpr quint64 DefaultMaxResponseBodySize = quint64(128) << 20;
    static constexpr quint64 MaxResponseBodySizeLimit = quint64(1) << 30;
    quint64 maxResponseBodySize() const;
    void setMaxResponseBodySize(quint64 bytes);
    // The most memory a body kept in memory took at once: what its buffers allocated, the body
    // as received and its inflated form together, each within the cap (and a byte past it).
    quint64 peakResponseBodyMemory() const;
    bool shouldResetUploadProgress() const { return m_shouldResetUploadProgress; }
    void setShouldResetUploadProgress(bool on) { m_shouldResetUploadProgress = on; }
    bool shouldResetDownloadProgress() const { return m_shouldResetDownloadProgress; }
    void setShouldResetDownloadProgress(bool on) { m_shouldResetDownloadProgress = on; }
    KPHTTPRequest* mainRequest() const { return m_mainRequest.lock().get(); }
    bool showAccurateProgress() const;
    void setShowAccurateProgress(bool on);
    quint64 uploadBufferSize() const;
    QByteArray defaultResponseEncoding() const { return m_defaultResponseEncoding; }
    void setDefaultResponseEncoding(const QByteArray& encoding) { m_defaultResponseEncoding = encoding; }
    QByteArray responseEncoding() const;
    bool allowResumeForFileDownloads() const { return m_allowResumeForFileDownloads; }
    void setAllowResumeForFileDownloads(bool on) { m_allowResumeForFileDownloads = on; }
    QVariantMap userInfo() const { return m_userInfo; }
    void setUserInfo(const QVariantMap& info) { m_userInfo = info; }
    qint64 tag() const { return m_tag; }
    void setTag(qint64 tag) { m_tag = tag; }
    bool useHTTPVersionOne() const { return m_useHTTPVersionOne; }
    void setUseHTTPVersionOne(bool on) { m_useHTTPVersionOne = on; }
    bool shouldRedirect() const { return m_shouldRedirect; }
    void setShouldRedirect(bool on) { m_shouldRedirect = on; }
    int redirectCount() const;
    bool validatesSecureCertificate() const { return m_validatesSecureCertificate; }
    void setValidatesSecureCertificate(bool on) { m_validatesSecureCertificate = on; }
    // A PEM file (certificate chain and key) or a PKCS#12 file, and its password.
    QString clientCertificateIdentity() const { return m_clientCertificateIdentity; }
    void setClientCertificateIdentity(const QString& path, const QString& password = {});
    int numberOfTimesToRetryOnTimeout() const { return m_numberOfTimesToRetryOnTimeout; }
    void setNumberOfTimesToRetryOnTimeout(int n) { m_numberOfTimesToRetryOnTimeout = n; }
    int retryCount() const;
    bool shouldAttemptPersistentConnection() const;
    void setShouldAttemptPersistentConnection(bool on);
    double persistentConnectionTimeoutSeconds() const;
    void setPersistentConnectionTimeoutSeconds(double seconds);
    bool connectionCanBeReused() const;
    bool shouldUseRFC2616RedirectBehaviour() const { return m_shouldUseRFC2616RedirectBehaviour; }
    void setShouldUseRFC2616RedirectBehaviour(bool on) { m_shouldUseRFC2616RedirectBehaviour = on; }
    bool shouldWaitToInflateCompressedResponses() const { return m_shouldWaitToInflateCompressedResponses; }
    void setShouldWaitToInflateCompressedResponses(bool on) { m_shouldWaitToInflateCompressedResponses = on; }
    QString username() const { return m_username; }
    void setUsername(const QString& name) { m_username = name; }
    QString password() const { return m_password; }
    void setPassword(const QString& password) { m_password = password; }
    bool isSynchronous() const { return m_isSynchronous; }
    int authenticationNeeded() const;

    void setStartedBlock(Block block);
    void setHeadersReceivedBlock(HeadersBlock block);
    void setCompletionBlock(Block block);
    void setFailedBlock(Block block);
    void setBytesReceivedBlock(ProgressBlock block);
    void setBytesSentBlock(ProgressBlock block);
    void setDownloadSizeIncrementedBlock(SizeBlock block);
    void setUploadSizeIncrementedBlock(SizeBlock block);
    void setDataReceivedBlock(DataBlock block);
    void setAuthenticationNeededBlock(Block block);
    void setProxyAuthenticationNeededBlock(Block block);
    void setRequestRedirectedBlock(Block block);

    // The value a progress receiver is sent for progress of total: 0 for a total of 0, or 1.0
    // once the request is complete.
    static double progressFraction(double progress, double total, bool complete);
    // The class's shared errors of codes 2, 3, 4, 5 and 9.
    static platform::Error sharedErrorFor(int code);

protected:
    // The operation's entry on a queue's thread: hands the work to the request thread and
    // waits there until the request is finished, so a queue's limit counts running requests.
    void main() override;

    // Finishes the body before sending (once); subclasses assemble theirs first. Runs under the
    // request's lock; false when the request failed.
    virtual bool buildPostBody();
    bool haveBuiltPostBody() const { return m_haveBuiltPostBody; }
    void failWithError(const platform::Error& error, std::optional<platform::Error> underlying = std::nullopt);
    std::recursive_mutex& cancelledLock() const { return m_lock; }

private:
    std::shared_ptr<KPHTTPRequest> self();
    void copySettingsTo(KPHTTPRequest& other, bool forHEAD) const;

    // The steps of the request, on the request thread (or the synchronous caller's) under m_lock.
    void runMain();
    void startRequest();
    void setupPostBody();
    void buildRequestHeaders();
    bool updatePartialDownloadSize();
    void handleNetworkEvent(int event);
    void handleBytesAvailable();
    void handleStreamComplete();
    void handleStreamError();
    void readResponseHeaders();
    bool willRedirect();
    bool willAskDelegateToConfirmRedirect();
    void performRedirect();
    // The user name, password and challenge state belong to the server they were given for;
    // a redirect to another origin starts without them.
    void forgetCredentialsOfPreviousOrigin();
    bool retryUsingNewConnection();
    // The connection record: given back to the pool after a whole response, or dropped.
    void releaseConnection();
    void dropConnection();
    void cancelLoad();
    void cancelOnRequestThread();
    void destroyReadStream();
    void scheduleReadStream();
    void unscheduleReadStream();
    void checkRequestStatus();
    bool shouldTimeOut() const;
    bool pastTotalDeadline() const;
    // Fails the request when a body kept in memory would pass its cap; false then.
    bool keepsWithinBodyCap(quint64 size);
    bool keepsBodyInMemory() const;
    void noteResponseBodyMemory();
    void requestFinished();
    void markAsFinished();
    void startStatusTimer();
    void stopStatusTimer();
    bool removeTemporaryDownloadFile();
    bool removeTemporaryUncompressedDownloadFile();
    bool removeTemporaryUploadFile();
    bool removeTemporaryCompressedUploadFile();
    static platform::Result<QString> makeTemporaryFile();
    static bool removeFileAtPath(const QString& path, platform::Error* error);
    bool openDownloadFiles();

    // The cache.
    void useDataFromCache();
    void applyCookieHeader();
    bool configureProxies();
    // The proxy script: read or fetched, then run; each answers whether the request may start
    // now, or starts once the script has been run (asynchronous requests run it off the request
    // thread, or wait for another request's run of the same script).
    bool fetchPACFile();
    bool runPACScript(const QString& script);
    bool finishedDownloadingPACFile(const std::shared_ptr<KPHTTPRequest>& script);
    void proxyScriptRunEnded(bool ranOut);
    void applyProxyScriptAnswer(const platform::Result<QString>& answer);
    void startAfterProxyScript();
    // Queues a task on the request thread while it runs; false once it has been shut down.
    static bool postOnRequestThread(std::function<void()> task);
    // Under the connections lock.
    static void changeSharedQueueLimit(int delta);
    void attemptToApplyProxyCredentialsAndResume();

    // Credentials.
    void applyAuthorizationHeader();
    void attemptToApplyCredentialsAndResume();
    std::optional<KPCredentials> findCredentials() const;
    bool applyCredentials(const KPCredentials& credentials);
    bool applySessionCredentials();
    bool willAskDelegateForCredentials();
    void failAuthentication();

    // Progress and throttling.
    void performThrottling();
    void resetProgressAtStart();
    void updateProgressIndicators();
    void updateUploadProgress();
    void updateDownloadProgress();
    void incrementDownloadSizeBy(qint64 amount);
    void incrementUploadSizeBy(qint64 amount);
    void removeUploadProgressSoFar();
    void setProgressIndicator(std::weak_ptr<KPProgressDelegate> KPHTTPRequest::*field, double progress, double total);
    void sendProgress(std::weak_ptr<KPProgressDelegate> KPHTTPRequest::*field,
                      std::function<void(KPHTTPRequest&, qint64)> KPProgressDelegate::*message, qint64 amount);

    // Events to the main thread.
    void onMain(std::function<void(KPHTTPRequest&)> work);
    void reportStarted();
    void reportHeaders(const platform::HTTPHeaders& headers);
    void reportRedirected();
    void reportWillRedirect(const QUrl& url);
    void reportFinished();
    void reportFailure();
    // Tells the delegate, the end block and the owning queue, in that order, on the main thread.
    using Callback = std::function<void(KPHTTPRequest&)>;
    void reportEnd(Callback KPHTTPRequestDelegate::*callback, Block KPHTTPRequest::*block);
    // Asks for credentials on the main thread through question, or the block, when anyone
    // answers; whether it asked.
    bool willAskDelegate(Callback KPHTTPRequestDelegate::*question, Block KPHTTPRequest::*block);
    void releaseBlocksOnMainThread();
    void notifyState(const QString& key);

    mutable std::recursive_mutex m_lock; // cancelledLock

    // Settings
    QUrl m_url;
    QUrl m_originalURL;
    QUrl m_redirectURL;
    std::weak_ptr<KPHTTPRequestDelegate> m_delegate;
    std::shared_ptr<KPHTTPRequestQueueReceiver> m_queue;
    QByteArray m_requestMethod = "GET";
    QByteArray m_postBody;
    bool m_hasPostBody = false;
    QByteArray m_compressedPostBody;
    bool m_shouldStreamPostDataFromDisk = false;
    QString m_postBodyFilePath;
    QString m_compressedPostBodyFilePath;
    bool m_didCreateTemporaryPostDataFile = false;
    std::unique_ptr<QFile> m_postBodyWriteStream;
    std::unique_ptr<KPInputStream> m_postBodyReadStream;
    platform::HTTPHeaders m_requestHeaders;
    bool m_haveBuiltRequestHeaders = false;
    platform::HTTPHeaders m_responseHeaders;
    bool m_haveResponseHeaders = false;
    bool m_useCookiePersistence = true;
    bool m_useKeychainPersistence = false;
    bool m_useSessionPersistence = true;
    bool m_allowCompressedResponse = true;
    bool m_shouldCompressRequestBody = false;
    QString m_downloadDestinationPath;
    QString m_temporaryFileDownloadPath;
    QString m_temporaryUncompressedDataDownloadPath;
    std::unique_ptr<QFile> m_fileDownloadOutputStream;
    std::unique_ptr<QFile> m_inflatedFileDownloadOutputStream;
    bool m_complete = false;
    bool m_finished = false;
    bool m_cancelled = false;
    std::optional<platform::Error> m_error;
    std::optional<platform::Error> m_underlyingError;
    QString m_username, m_password, m_userAgentString, m_domain;
    QString m_proxyUsername, m_proxyPassword, m_proxyDomain;
    std::weak_ptr<KPProgressDelegate> m_uploadProgressDelegate;
    std::weak_ptr<KPProgressDelegate> m_downloadProgressDelegate;
    QByteArray m_rawResponseData;
    std::unique_ptr<platform::HTTPStream> m_readStream;
    int m_responseStatusCode = 0;
    QString m_responseStatusMessage;
    quint64 m_contentLength = 0;
    quint64 m_partialDownloadSize = 0;
    quint64 m_postLength = 0;
    quint64 m_totalBytesRead = 0;
    quint64 m_totalBytesSent = 0;
    quint64 m_lastBytesRead = 0;
    quint64 m_lastBytesSent = 0;
    std::optional<double> m_lastActivityTime;
    double m_timeOutSeconds = defaultTimeOutSeconds();
    double m_totalTimeOutSeconds = DefaultTotalTimeOutSeconds;
    std::optional<double> m_startTime; // when the first attempt started
    quint64 m_maxResponseBodySize = DefaultMaxResponseBodySize;
    quint64 m_peakResponseBodyMemory = 0;
    // The inflated body, made once when a compressed response ended.
    std::optional<QByteArray> m_inflatedResponseData;
    bool m_shouldResetUploadProgress = true;
    bool m_shouldResetDownloadProgress = true;
    std::weak_ptr<KPHTTPRequest> m_mainRequest;
    bool m_showAccurateProgress = true;
    bool m_updatedProgress = false;
    bool m_haveBuiltPostBody = false;
    quint64 m_uploadBufferSize = 0;
    QByteArray m_defaultResponseEncoding = "ISO-8859-1";
    QByteArray m_responseEncoding = "ISO-8859-1";
    bool m_allowResumeForFileDownloads = false;
    QVariantMap m_userInfo;
    qint64 m_tag = 0;
    bool m_useHTTPVersionOne = false;
    bool m_shouldRedirect = true;
    bool m_needsRedirect = false;
    int m_redirectCount = 0;
    bool m_validatesSecureCertificate = true;
    QString m_clientCertificateIdentity;
    QString m_clientCertificatePassword;
    int m_authenticationNeeded = 0;
    bool m_inProgress = false;
    bool m_readStreamIsScheduled = false;
    int m_numberOfTimesToRetryOnTimeout = 0;
    int m_retryCount = 0;
    bool m_willRetryRequest = false;
    bool m_shouldAttemptPersistentConnection = true;
    double m_persistentConnectionTimeoutSeconds = 60.0;
    bool m_connectionCanBeReused = false;
    bool m_shouldUseRFC2616RedirectBehaviour = false;
    bool m_downloadComplete = false;
    bool m_isSynchronous = false;
    std::unique_ptr<KPDataDecompressor> m_dataDecompressor;
    bool m_shouldWaitToInflateCompressedResponses = true;
    bool m_rangeSent = false;
    std::shared_ptr<KPDownloadCache> m_downloadCache;
    int m_cachePolicy = 0;
    int m_cacheStoragePolicy = 0;
    bool m_didUseCachedResponse = false;
    double m_secondsToCache = 0;
    std::shared_ptr<KPConnectionRecord> m_connectionInfo;
    QList<platform::HTTPCookie> m_requestCookies;
    QString m_proxyHost;
    int m_proxyPort = 0;
    QString m_proxyType;
    QUrl m_PACurl;
    bool m_isPACFileRequest = false;
    std::shared_ptr<KPHTTPRequest> m_PACFileRequest;
    std::shared_ptr<KPHTTPRequestDelegate> m_PACFileDelegate; // the script request's delegate
    QString m_proxyScript; // while waiting for another request's run of it
    std::shared_ptr<platform::HTTPAuthentication> m_proxyAuthentication;
    QString m_proxyAuthorization;
    int m_proxyAuthenticationRetryCount = 0;
    QList<platform::HTTPCookie> m_responseCookies;
    quint32 m_requestID = 0;
    std::shared_ptr<platform::HTTPAuthentication> m_requestAuthentication;
    std::optional<KPCredentials> m_requestCredentials;
    int m_authenticationRetryCount = 0;
    QString m_authenticationScheme;
    QString m_authenticationRealm;
    bool m_shouldPresentCredentialsBeforeChallenge = true;

    platform::HTTPRunLoop* m_loop = nullptr;
    int m_statusTimer = 0;
    std::function<void(const QString&)> m_stateObserver;
    std::vector<std::weak_ptr<KPHTTPRequest>> m_dependencies;

    Block m_startedBlock;
    HeadersBlock m_headersReceivedBlock;
    Block m_completionBlock;
    Block m_failureBlock;
    ProgressBlock m_bytesReceivedBlock;
    ProgressBlock m_bytesSentBlock;
    SizeBlock m_downloadSizeIncrementedBlock;
    SizeBlock m_uploadSizeIncrementedBlock;
    DataBlock m_dataReceivedBlock;
    Block m_authenticationNeededBlock;
    Block m_proxyAuthenticationNeededBlock;
    Block m_requestRedirectedBlock;

    // The queue's thread waits here until the request is finished.
    std::condition_variable_any m_finishedChanged;
};

// The client end of the peer exchange: one request per connection, run once with a completion.
//
// Every request completes exactly once: with its result, with the error of a refusal or a broken
// exchange, with the socket's error when the connection ends early (time-out, refusal, reset,
// close), or with nothing when cancelled. Completions run on the request kind's queue
// ("TWDataRequest_Queue" for data requests, "Client_Request_Queue" for the others), except for a
// connect that cannot start, which completes on the caller's thread.
#pragma once

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "TWService/Server/TWWire.h"
#include "TWService/Socket/KPAsyncSocket.h"

#include <QFile>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

struct TWServerInfo {
    QString address; // dotted IPv4 text
    int port = 0;    // the low 16 bits are used
    QString GUID;
};

class TWBaseRequest : public KPAsyncSocketDelegate, public std::enable_shared_from_this<TWBaseRequest> {
public:
    TWBaseRequest(TWServerInfo serverInfo, QVariantMap paramater);
    ~TWBaseRequest() override;

    const TWServerInfo& serverInfo() const { return m_serverInfo; }
    bool isCancel() const { return m_isCancel; }
    // Disconnects and completes at once with no result and no error (unless already complete).
    void cancel();

protected:
    // Connects and runs the exchange; false (after completing with code 0) when the connect
    // cannot start.
    bool start(TWRequestType type, double connectTimeout, const platform::DispatchQueue& queue);
    // Runs the completion of the concrete request once; later calls do nothing.
    bool claimCompletion();
    virtual void complete(const std::optional<platform::Error>& error) = 0;
    virtual QString errorDomain() const = 0;
    virtual long answerTag() const = 0;
    virtual long bodyTag() const = 0;
    virtual void onAnswer(const QByteArray& data, long tag) = 0;
    platform::Error error(int code, const QString& text) const { return platform::Error{errorDomain(), code, text}; }
    void failWith(const platform::Error& e);
    // Completes once (with nothing when cancelled) and lets the request go.
    void finish(const std::optional<platform::Error>& e);

    void didConnectToHost(const KPAsyncSocketPtr& sock, const QString& host, quint16 port) override;
    void didReadData(const KPAsyncSocketPtr& sock, const QByteArray& data, long tag) override;
    void socketDidDisconnect(const KPAsyncSocketPtr& sock, const std::optional<platform::Error>& error) override;
    // A wait for the peer's answer does not time out while this end is still sending.
    double shouldTimeoutReadWithTag(const KPAsyncSocketPtr& sock, long tag, double elapsed,
                                    std::uint64_t bytesDone) override;
    void didWritePartialDataOfLength(const KPAsyncSocketPtr& sock, std::uint64_t length, long tag) override;
    void didWriteDataWithTag(const KPAsyncSocketPtr& sock, long tag) override;

    TWServerInfo m_serverInfo;
    QVariantMap m_paramater;
    KPAsyncSocketPtr m_asyncSocket;
    std::atomic<bool> m_isCancel{false};
    std::atomic<bool> m_completed{false};
    TWRequestType m_type = TWRequestTypeDataInfo;
    bool m_replied = false;
    std::uint64_t m_progress = 0;      // bytes read or written so far
    std::uint64_t m_progressAtAsk = 0; // … when the last time-out was asked about
};

class TWDataRequest : public TWBaseRequest {
public:
    using Completed = std::function<void(TWDataRequest*, const QByteArray& data, const std::optional<platform::Error>&)>;
    static std::shared_ptr<TWDataRequest> create(TWServerInfo serverInfo, QVariantMap paramater);
    TWDataRequest(TWServerInfo serverInfo, QVariantMap paramater);
    void requestWithCompltedBlock(Completed block);
    static platform::DispatchQueue queue();

protected:
    void complete(const std::optional<platform::Error>& error) override;
    QString errorDomain() const override { return QStringLiteral("TWDataRequest"); }
    long answerTag() const override { return TWWire::TagDataReply; }
    long bodyTag() const override { return TWWire::TagDataBody; }
    void onAnswer(const QByteArray& data, long tag) override;

private:
    Completed m_compltedBlock;
    QByteArray m_requestData;
    quint32 m_requestDataLenght = 0;
    bool m_bReadedRequestDataHeader = false;
};

class TWFileRequest : public TWBaseRequest {
public:
    using Completed = std::function<void(TWFileRequest*, const QString& path, const std::optional<platform::Error>&)>;
    static std::shared_ptr<TWFileRequest> create(TWServerInfo serverInfo, QVariantMap paramater);
    TWFileRequest(TWServerInfo serverInfo, QVariantMap paramater);
    ~TWFileRequest() override;
    void requestWithCompltedBlock(Completed block);

protected:
    void complete(const std::optional<platform::Error>& error) override;
    QString errorDomain() const override { return QStringLiteral("TWFileRequest"); }
    long answerTag() const override { return TWWire::TagFileHeader; }
    long bodyTag() const override { return TWWire::TagFileBody; }
    void onAnswer(const QByteArray& data, long tag) override;

private:
    void readPiece();
    Completed m_compltedBlock;
    QString m_outputPath;
    QFile m_outputStream;
    qint64 m_requestDataLength = 0;
    qint64 m_readedDataLength = 0;
    qint64 m_packageDataLength = 0;
    qint64 m_packageDataReaded = 0;
    bool m_bPackageHeaderReaded = false;
    bool m_done = false;
};

// An upload completes with no error only once the receiver acknowledged the whole file, which it
// does after storing it; the wait for that last acknowledgement grows with the size sent and a
// folder's entries. Uploads to one peer run a few at a time (one fewer than its server takes at
// once, so that another sender finds a slot free); the others wait for their turn instead of
// being turned away as too many, and open their file only when it comes.
//
// A receiver that makes way for another sender (it stops the upload with kUploadGaveWay), turns
// the connection away as busy, or closes it or stays silent before answering has not lost the
// document: the request sends it again, up to resend().tries times, from the front of the line
// once one of this program's uploads to that peer ends, or after resend().pause when none runs.
// Each such answer also lowers by one how many uploads go to that peer at once (never below
// one) until one is delivered. The completion comes once, with the outcome of the last try;
// cancelling applies to the try under way, not to the ones it passed the document to.
class TWFileUploadRequest : public TWBaseRequest {
public:
    using Completed = std::function<void(TWFileUploadRequest*, const std::optional<platform::Error>&)>;
    // The codes of the errors of this domain.
    enum ErrorCode {
        CannotStart = 0, // the connect cannot start
        Busy = 1,        // turned away: too many connections, or closed before it answered
        Broken = 3,      // the exchange ended early or went wrong
        GaveWay = 4,     // stopped by the receiver to let another sender in
        Unreadable = 5,  // the file to send cannot be read
        Refused = 6,     // the receiver refused the upload record (no room for it)
        Empty = 7,       // an empty file, which the receiver refuses
        NoAnswer = 8,    // connected, but the receiver never said whether it takes the upload
    };
    struct Resend {
        int tries = 3;      // times a document is sent again
        double pause = 3;   // seconds before a try when no other upload to that peer runs
    };
    static constexpr int kUploadsPerPeer = 4;
    static Resend& resend();
    static std::shared_ptr<TWFileUploadRequest> create(TWServerInfo serverInfo, QVariantMap info, QString filePath);
    TWFileUploadRequest(TWServerInfo serverInfo, QVariantMap info, QString filePath);
    void requestWithCompltedBlock(Completed block);
    // The next chunk of at most 1 MiB from where the last one ended; a short read of the file
    // is an error (nullopt), never a smaller chunk counted as whole.
    std::optional<QByteArray> readNextData();
    // How long the sender waits for the last acknowledgement of an upload of this many bytes
    // (for a folder, an archive of this many entries).
    static double storeWait(qint64 bytes, bool folder, qint64 entries);
    // A folder's archive holds this many entries (before the request starts): the receiver
    // writes each as a file, and the wait for it to store them grows with them.
    void setArchiveEntries(qint64 entries);
    // Why an upload that ended with error did not arrive, in words for the sender's user.
    static QString reasonForUser(const platform::Error& error);

protected:
    void complete(const std::optional<platform::Error>& error) override;
    QString errorDomain() const override { return QStringLiteral("TWFileUploadRequest"); }
    long answerTag() const override { return TWWire::TagUploadInfo; }
    long bodyTag() const override { return TWWire::TagUploadInfo; }
    void onAnswer(const QByteArray& data, long tag) override;
    void didConnectToHost(const KPAsyncSocketPtr& sock, const QString& host, quint16 port) override;
    void socketDidDisconnect(const KPAsyncSocketPtr& sock, const std::optional<platform::Error>& error) override;

private:
    friend struct UploadTurns;
    void begin();
    void sendNextHeader();
    QString peerKey() const;
    Completed m_compltedBlock;
    bool m_requested = false;
    bool m_holdsTurn = false; // guarded by the turns' lock
    int m_tries = 0;          // times the document was sent again before this try
    std::atomic<bool> m_connected{false};
    QString m_filePath;
    QFile m_fileHandle;
    qint64 m_dataLength = -1;
    qint64 m_archiveEntries = 0;
    qint64 m_dataSendedLength = 0;
    QByteArray m_currentPartData;
    bool m_infoAnswered = false;
};

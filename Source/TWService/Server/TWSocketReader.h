// The server's side of one accepted request: a reader per request type runs the rest of the
// exchange on its connection, as that connection's socket delegate. Each connection calls back on
// a serial queue of its own, so one reader never runs two callbacks at once; the reader's state
// belongs to that queue.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FreeSpaceLedger.h"
#include "TWService/Server/TWWire.h"
#include "TWService/Socket/KPAsyncSocket.h"

#include <QFile>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

class TWServer;
class TWDataReader;
class TWSocketFileUpload;

// Time limits of the exchange, in seconds (rates in bytes per second); tests shorten them.
struct TWTimeouts {
    double read = 15;      // inactivity of any read, chunks included
    double closeWait = 15; // how long the server waits for the client's close after an answer
    double connect = 15;   // a client's connect
    // Server: from the accepted request type until the request's body is whole. A body is at
    // most 256 KiB; a peer that trickles it holds a slot for nothing.
    double requestDeadline = 30;
    // Server: an upload that, after a grace period, averages less than this rate gives its
    // slot up while another upload connection waits for one, and its room on the disk while an
    // upload that does not fit waits for room; while nobody waits, a slow link may take its time.
    double uploadMinimumRate = 16 * 1024;
    double uploadRateGrace = 15;
    // Server: … but not for ever. An upload holds room for all it declared from the moment it
    // is taken; one that, after the grace period, averages less than this rate trickles and
    // gives way whether or not anyone waits.
    double uploadTrickleRate = 1024;
    // Server: how long an upload connection that found every slot taken waits for one, and an
    // upload that does not fit waits for room, before it is refused; below the sender's wait
    // for the answer (the read limit above).
    double uploadSlotWait = 10;
    // Sender: after the last chunk the receiver unpacks and stores the file before its last
    // acknowledgement; the wait grows with what was sent: its size, and for a folder the
    // entries of its archive, each of which the receiver writes as a file of its own (a
    // twentieth of a second each leaves room to spare for a receiver held to a tenth of a CPU,
    // which took several thousandths per entry).
    double storeWait = 60;
    double storeWaitPerMiB = 1;
    double storeWaitPerMiBFolder = 8;
    double storeWaitPerEntry = 0.05;
    // Server: the most connections it keeps open at once, waiting ones and readers alike;
    // 0 takes a quarter of the process's descriptor limit, so that a flood of connections
    // leaves the rest of the program its files.
    int connectionLimit = 0;
    static TWTimeouts& shared();
};

class TWSocketReader : public KPAsyncSocketDelegate, public std::enable_shared_from_this<TWSocketReader> {
public:
    TWSocketReader(KPAsyncSocketPtr socket, QString type, std::weak_ptr<TWServer> server);
    ~TWSocketReader() override;
    KPAsyncSocketPtr socket() const { return m_socket; }
    QString socketReadType() const { return m_type; }

    // Queues the body read and answers the request type as accepted.
    virtual void startReader();
    // Whether the reader counts against its kind's limit; any thread.
    virtual bool holdsSlot() const { return true; }

protected:
    virtual long bodyTag() const = 0;
    virtual void onBodyTooLong() = 0;
    virtual void onBodyUnreadable() = 0;
    virtual void onBody(const QVariantMap& body) = 0;
    virtual void doReadData(const QByteArray& data, long tag) {}
    virtual void socketDidDisconnectWithError(const std::optional<platform::Error>& error) {}
    virtual void onReadTimeout(long tag) {}
    // Whether the reader, asked about a read still moving, gave its slot up and ended the
    // exchange itself (pending is what the current read holds so far); the read then runs on
    // until the reader closes the connection.
    virtual bool givesWay(long tag, std::uint64_t pending) { return false; }
    double secondsSinceStart() const;

    void didReadData(const KPAsyncSocketPtr& sock, const QByteArray& data, long tag) override;
    double shouldTimeoutReadWithTag(const KPAsyncSocketPtr& sock, long tag, double elapsed,
                                    std::uint64_t bytesDone) override;
    void socketDidDisconnect(const KPAsyncSocketPtr& sock, const std::optional<platform::Error>& error) override;

    KPAsyncSocketPtr m_socket;
    const QString m_type;
    std::weak_ptr<TWServer> m_server;
    quint32 m_commandLength = 0;
    bool m_bReadedCommandDataHeader = false;
    std::uint64_t m_lastBytesDone = 0;
    long m_lastTimeoutTag = -1;
    std::chrono::steady_clock::time_point m_startedAt = std::chrono::steady_clock::now();
};

class TWSocketDataInfoReader : public TWSocketReader {
public:
    TWSocketDataInfoReader(KPAsyncSocketPtr socket, std::weak_ptr<TWServer> server);

protected:
    long bodyTag() const override { return TWWire::TagDataBody; }
    void onBodyTooLong() override;
    void onBodyUnreadable() override;
    void onBody(const QVariantMap& body) override;
    void doReadData(const QByteArray& data, long tag) override;
};

class TWSocketFileReader : public TWSocketReader {
public:
    TWSocketFileReader(KPAsyncSocketPtr socket, std::weak_ptr<TWServer> server);

protected:
    long bodyTag() const override { return TWWire::TagFileBody; }
    void onBodyTooLong() override;
    void onBodyUnreadable() override;
    void onBody(const QVariantMap& body) override;
    void doReadData(const QByteArray& data, long tag) override;

private:
    std::shared_ptr<TWDataReader> m_dataReader;
    qint64 m_dataLength = 0;
    qint64 m_dataSendedLength = 0;
};

// What the receive side hears of an upload; the calls come on the upload's connection queue.
class TWSocketFileUploadDelegate {
public:
    virtual ~TWSocketFileUploadDelegate() = default;
    virtual void onClientWillUploadFile(const std::shared_ptr<TWSocketFileUpload>& reader) {}
    // The complete file, in the upload's own staging folder; the receiver removes the folder.
    // Answers whether the file is kept: only then does the sender hear the upload is done, so a
    // file the receiver could not store is never reported delivered.
    virtual bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& reader, const QString& path)
    {
        return true;
    }
    // The upload ended without a complete file; its partial file is already gone.
    virtual void onClientUploadedFileError(const std::shared_ptr<TWSocketFileUpload>& reader,
                                           const platform::Error& error) {}
};

class TWSocketFileUpload : public TWSocketReader {
public:
    static inline const QString ErrorDomain = QStringLiteral("TWSocketRead");
    // Room an upload must leave free on the staging file system besides its own bytes.
    static inline qint64 freeSpaceMargin = qint64(256) * 1024 * 1024;

    TWSocketFileUpload(KPAsyncSocketPtr socket, std::weak_ptr<TWServer> server, QString stagingRoot);
    ~TWSocketFileUpload() override;

    void setDelegate(std::weak_ptr<TWSocketFileUploadDelegate> delegate);
    // The upload record; valid from onClientWillUploadFile on.
    TWWire::TWUploadFileInfo fileInfo() const;
    QString stagingFolder() const;
    // From onClientUploadedFile on the same queue: the room the upload still holds (for a
    // folder, what its unpacking may take), for the receiver to keep while it stores the file.
    platform::FreeSpaceLedger::Reservation takeRoom();
    void startReader() override;
    bool holdsSlot() const override { return !m_gaveWay.load(); }

    // How the upload keeps up with the minimum and the trickle rate, from any thread; pending
    // counts bytes received but not yet written. Neither before it is accepted or within the
    // grace.
    struct Pace {
        bool behind = false;
        bool trickles = false;
        double rate = 0; // bytes per second since it was accepted
    };
    Pace pace(std::uint64_t pending) const;
    // Why an upload ends early and tells its sender kUploadGaveWay.
    enum class GiveWay {
        No,
        Trickles,            // below the trickle rate
        SlowWhileSlotWanted, // below the minimum rate while a connection waits for a slot
        SlowWhileRoomWanted, // below the minimum rate while an upload waits for room
        AddressHoldsMost,    // its address holds the most slots while another address waits
    };
    // On the connection's queue: the server picked this upload to give way (its slot is gone
    // already).
    void onChosenToGiveWay(GiveWay why);
    // Room on the disk the upload still holds, from any thread.
    qint64 roomHeld() const { return m_roomHeld.load(); }

protected:
    long bodyTag() const override { return TWWire::TagUploadInfo; }
    void onBodyTooLong() override;
    void onBodyUnreadable() override;
    void onBody(const QVariantMap& body) override;
    void doReadData(const QByteArray& data, long tag) override;
    void socketDidDisconnectWithError(const std::optional<platform::Error>& error) override;
    void onReadTimeout(long tag) override;
    bool givesWay(long tag, std::uint64_t pending) override;

private:
    friend class TWServer; // marks the upload giving way, under the server's lock
    void readNextPiece();
    void fail(const QString& text);
    // Ends the upload (staging and room given back, the receive side told); false when it had
    // ended already.
    bool end(const QString& text);
    // Takes the room the upload declared, waiting until deadline while uploads that fall short
    // of the minimum rate give theirs up; refuses the upload when none comes.
    void reserveRoom(std::chrono::steady_clock::time_point deadline);
    // Tells the sender why it is stopped; what it still sends is then read and dropped until it
    // closes (a close with unread bytes would reset the connection before the sender read why).
    void giveWay(GiveWay why, std::uint64_t pending);
    // Reads on after giving way; called when no read is pending.
    void drain();
    void removeStaging();
    std::shared_ptr<TWSocketFileUploadDelegate> lockedDelegate() const;
    std::shared_ptr<TWSocketFileUpload> self();

    mutable std::mutex m_mutex; // the delegate and the record, read from other threads
    std::weak_ptr<TWSocketFileUploadDelegate> m_delegate;
    TWWire::TWUploadFileInfo m_parameter;
    const QString m_stagingRoot;
    QString m_stagingFolder;
    QString m_outputPath;
    QFile m_outputStream;
    // Room on the staging file system for what is still to come, held against other uploads.
    platform::FreeSpaceLedger::Reservation m_room;
    qint64 m_dataLength = 0;
    qint64 m_dataReadedLength = 0;
    qint64 m_dataPackageLength = 0;
    qint64 m_dataPackageReadedLength = 0;
    bool m_bReadedDataPackageHeader = false;
    bool m_started = false;  // onClientWillUploadFile was sent
    bool m_ended = false;    // success or failure was reported
    // Read by the server from other threads: bytes received, when the upload was accepted
    // (steady clock ticks; 0 before), and whether it gave its slot up.
    std::atomic<qint64> m_receivedBytes{0};
    std::atomic<std::chrono::steady_clock::rep> m_acceptedAt{0};
    std::atomic<bool> m_gaveWay{false};
    std::atomic<qint64> m_roomHeld{0};
    std::chrono::steady_clock::time_point m_drainUntil;
};

// One logger: its settings, its record queue and the worker thread that empties the queue.
//
// Callers only number, build and queue records and then signal the worker; everything that
// touches a file or the viewer connection happens on the worker. The worker sleeps on a
// condition variable with four "signalled" flags (new records, buffer file changed, remote
// settings changed, viewer discovery events); it wakes once a second only while records wait
// in the queue (one held back by a gap in the numbering is then sent), and otherwise only for a
// signal or a deadline of the viewer connection. While a viewer stream or the network watch's
// socket exists it sleeps in poll() on them and an eventfd instead, which every wake-up also
// writes. Records go to a connected viewer, else to the buffer file while it is open, are
// printed while console printing is on, and otherwise wait in a bounded queue.
//
// The buffer file is capped: a record that would take it past the cap first moves it aside
// ("<name>.1", older ones one number up, the oldest beyond the kept count dropped) and starts a
// new one, which like every opened file begins with the client information. Lines logged as
// repeatable are gathered by key (KPLogRepeats); the worker also wakes when an interval ends and
// logs its summary, and logs every pending count before it stops.
//
// Threads: settings under m_settingsMutex; the queue under its own lock; the wake flags under
// m_wakeMutex; the buffer file descriptor and the viewer connection on the worker only (and in
// stop(), after the worker has been joined). Start and stop are serialised by m_workerMutex.
// The file cap is atomic; the repeat gathering has its own lock (KPLogRepeats).
#pragma once

#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/KPLogger/KPLogQueue.h"
#include "Utilities/KPLogger/KPLogRepeats.h"
#include "Utilities/KPLogger/KPLogViewerConnection.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct Logger {
public:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The next sequence number; the first record of a logger carries 1.
    int32_t nextSequence();

    // Queues a record and wakes the worker; prints at once when no worker can take it. The
    // record is handed over: a caller that kept a share of its bytes would free them after the
    // worker has written them, ordered only by Qt's reference count, which is counted inside the
    // Qt library where the thread sanitizer cannot see it.
    void push(QByteArray record);

    // A log record under the repeat gathering: written, counted, or preceded by the summary of
    // its key's interval that ended. Once the worker has stopped for good, written as it comes.
    void logRepeatable(const QString& key, const QString& domain, int level, const QString& text);
    void setRepeatInterval(std::chrono::milliseconds interval);

    // The default cap: what the program's start keeps of an old log file, and three files
    // before it, so the log takes at most 20 MiB however much is logged.
    static constexpr qint64 kDefaultBufferFileCap = 5 * 1024 * 1024;
    static constexpr int kDefaultOldBufferFiles = 3;
    // Smaller caps are raised to this: a new file must hold the client information and a
    // record standing in for one too large to keep.
    static constexpr qint64 kMinBufferFileCap = 4096;
    void setBufferFileCap(qint64 bytesPerFile, int oldFilesKept);

    // Starts the worker when none runs (and console capture with it). False when it could not.
    bool startWorker();
    // Ends the worker for good; what is still queued is written out or printed first.
    void stop();
    bool workerRunning() const { return m_workerRunning.load(); }

    void setBufferFilePath(const QString& path);
    QString bufferFilePath() const;
    void setRemoteHost(const QString& host, uint32_t port);
    void setBonjourService(const QString& type, const QString& name);
    void setOptions(uint32_t options);
    uint32_t options() const { return m_options.load(); }
    bool connected() const { return m_viewer.isConnected(); }

    struct RemoteSettings {
        QString host;
        uint32_t port = 0;
        QString serviceType;
        QString serviceName;
    };
    RemoteSettings remoteSettings() const;

    // Where viewers are looked for; the platform's shared discovery when never set. Only before
    // the worker first starts.
    void setServiceBackend(std::shared_ptr<platform::ServiceBackend> backend);

    KPLogQueue& queue() { return m_queue; }
    KPLogViewerConnection::Stats viewerStats() const { return m_viewer.stats(); }

private:
    friend class KPLogViewerConnection;

    enum Signal : unsigned {
        SignalMessage = 1,
        SignalBufferFile = 2,
        SignalRemote = 4,
        SignalNetwork = 8,
        SignalRepeats = 16,
    };

    void signal(unsigned which);
    void wakeDescriptor();
    unsigned waitForWork(std::chrono::milliseconds wait, short* streamEvents);
    void run();
    void sendQueued(bool pastGaps);
    void openBufferFile(bool pastGaps = false);
    void closeBufferFile();
    bool bufferFileOpen() const { return m_bufferFd >= 0; }
    void flushToBufferFile(bool pastGaps = false);
    bool writeWhole(const QByteArray& bytes);
    bool makeRoomFor(qsizetype size, bool startsAFile);
    bool rotateBufferFile(bool withClientInformation);
    void pushSummaries(const QList<KPLogRepeats::Summary>& summaries);
    void printQueue();

    // Settings.
    mutable std::mutex m_settingsMutex;
    QString m_bufferFile;
    QString m_host;
    uint32_t m_port = 0;
    QString m_serviceType;
    QString m_serviceName;
    std::atomic<uint32_t> m_options{kKPLogDefaultOptions};
    std::atomic<int32_t> m_sequence{0};

    std::atomic<qint64> m_bufferFileCap{kDefaultBufferFileCap};
    std::atomic<int> m_oldBufferFiles{kDefaultOldBufferFiles};

    KPLogQueue m_queue;
    KPLogRepeats m_repeats;

    // Worker life.
    std::mutex m_workerMutex;
    std::thread m_worker;
    std::atomic<bool> m_workerRunning{false};
    std::atomic<bool> m_quit{false};

    // Wake-ups: which sources were signalled, and whether the worker listens for them.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    unsigned m_signalled = 0;
    bool m_sourcesExist = false;
    // Written whenever a wake-up arrives, for waits that poll the viewer's socket too.
    int m_wakeFd = -1;

    // Worker-only state.
    int m_bufferFd = -1;
    qint64 m_bufferSize = 0; // bytes in the open buffer file
    bool m_bufferHasRecords = false; // more than the client information at its head
    QString m_openBufferPath;
    KPLogViewerConnection m_viewer;
};

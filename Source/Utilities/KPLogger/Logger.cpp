#include "Utilities/KPLogger/Logger.h"

#include "Utilities/KPLogger/KPLogClientInfo.h"
#include "Utilities/KPLogger/KPLogConsole.h"
#include "Utilities/KPLogger/KPLogConsoleCapture.h"
#include "Utilities/KPLogger/KPLogRecord.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The worker's waits: a short first one so early records leave soon after start-up, none
// right after handling a wake-up (more may be pending), and a one-second idle heartbeat.
constexpr auto kFirstWait = 100ms;
constexpr auto kWaitAfterWork = 0ms;
constexpr auto kIdleWait = 1000ms;

// Size of the buffer records are packed into for one write to a viewer.
constexpr qsizetype kSendBufferSize = 4096;

} // namespace

Logger::Logger()
{
    m_sendBuffer.reserve(kSendBufferSize);
    // Test programs must keep their own output: capture would swallow it into the log.
    if (qEnvironmentVariableIsSet(kNoCaptureVariable))
        m_options = kKPLogDefaultOptions & ~uint32_t(kKPLogOptionCaptureSystemConsole);
}

Logger::~Logger()
{
    stop();
}

int32_t Logger::nextSequence()
{
    return m_sequence.fetch_add(1, std::memory_order_seq_cst) + 1;
}

void Logger::push(const QByteArray& record)
{
    m_queue.push(record);
    bool listening;
    {
        std::lock_guard lock(m_wakeMutex);
        listening = m_sourcesExist;
        if (listening)
            m_signalled |= SignalMessage;
    }
    if (listening) {
        m_wake.notify_one();
        return;
    }
    if (!m_workerRunning.load() && (m_options.load() & kKPLogOptionLogToConsole))
        printQueue();
}

void Logger::printQueue()
{
    for (const QByteArray& record : m_queue.drain())
        KPLogConsole::print(record);
}

void Logger::signal(unsigned which)
{
    {
        std::lock_guard lock(m_wakeMutex);
        if (!m_sourcesExist)
            return;
        m_signalled |= which;
    }
    m_wake.notify_one();
}

bool Logger::startWorker()
{
    std::lock_guard lock(m_workerMutex);
    if (m_workerRunning.load() || m_quit.load())
        return m_workerRunning.load();
    if (m_worker.joinable())
        m_worker.join();
    {
        // Listening starts before the thread does, so no record pushed meanwhile is missed.
        std::lock_guard wakeLock(m_wakeMutex);
        m_sourcesExist = true;
        m_signalled |= SignalMessage;
    }
    m_workerRunning = true;
    try {
        m_worker = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        {
            std::lock_guard wakeLock(m_wakeMutex);
            m_sourcesExist = false;
        }
        m_workerRunning = false;
        m_options |= kKPLogOptionLogToConsole;
        printQueue();
        return false;
    }
    // Only once the worker runs: the console reader may log to this logger at once.
    const uint32_t opts = m_options.load();
    if ((opts & kKPLogOptionCaptureSystemConsole) && !(opts & kKPLogOptionLogToConsole))
        KPLogConsoleCapture::addLogger(this);
    return true;
}

void Logger::stop()
{
    KPLogConsoleCapture::removeLogger(this);
    std::lock_guard lock(m_workerMutex);
    m_quit = true;
    {
        std::lock_guard wakeLock(m_wakeMutex);
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void Logger::run()
{
    if (!bufferFilePath().isEmpty())
        openBufferFile();
    // The reachability watch and viewer connection start here once they exist; until then a
    // logger never connects and keeps to its buffer file.

    std::chrono::milliseconds wait = kFirstWait;
    while (!m_quit.load()) {
        unsigned fired;
        {
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_for(lock, wait, [&] { return m_signalled != 0 || m_quit.load(); });
            fired = m_signalled;
            m_signalled = 0;
        }
        if (fired & SignalBufferFile) {
            closeBufferFile();
            if (!bufferFilePath().isEmpty())
                openBufferFile();
        }
        if (fired & SignalMessage)
            sendQueued(false);
        else if (!fired && wait == kIdleWait && !m_queue.isEmpty())
            sendQueued(true); // a gap that outlived an idle second is not going to fill
        wait = fired ? kWaitAfterWork : kIdleWait;
    }

    {
        std::lock_guard lock(m_wakeMutex);
        m_sourcesExist = false;
        m_signalled = 0;
    }
    // Records logged since the last pass must reach the file before it closes.
    if (!m_queue.isEmpty() && !bufferFilePath().isEmpty()) {
        if (m_bufferFd < 0)
            openBufferFile(true);
        else
            flushToBufferFile(true);
    }
    closeBufferFile();
    m_options |= kKPLogOptionLogToConsole;
    // What nothing took is printed rather than silently lost with the logger.
    printQueue();
    m_workerRunning = false;
}

void Logger::sendQueued(bool pastGaps)
{
    // A connected viewer will take the records here before any of the choices below.
    const uint32_t opts = m_options.load();
    if (opts & kKPLogOptionLogToConsole) {
        m_queue.setDelivering(true);
        printQueue();
    } else if (m_bufferFd >= 0) {
        flushToBufferFile(pastGaps);
    } else if (opts & kKPLogOptionBufferLogsUntilConnection) {
        m_queue.setDelivering(false);
    } else {
        m_queue.drain();
    }
}

void Logger::openBufferFile(bool pastGaps)
{
    const QString path = bufferFilePath();
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        KPLogConsole::write(QStringLiteral("KPLogger Warning: failed opening buffer file for writing: %1\n").arg(path));
        m_queue.setDelivering(false);
        return;
    }
    m_bufferFd = fd;
    m_openBufferPath = path;
    m_queue.setDelivering(true);
    m_queue.pushFront(KPLogClientInfo::record());
    flushToBufferFile(pastGaps);
}

void Logger::closeBufferFile()
{
    if (m_bufferFd < 0)
        return;
    ::close(m_bufferFd);
    m_bufferFd = -1;
    m_openBufferPath.clear();
    m_queue.setDelivering(m_connected.load());
}

bool Logger::writeWhole(const QByteArray& bytes)
{
    struct stat st{};
    const off_t before = ::fstat(m_bufferFd, &st) == 0 ? st.st_size : -1;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_bufferFd, bytes.constData() + done,
                                  static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A torn record would make every later record of the file unreadable.
            if (before >= 0 && done > 0)
                (void)::ftruncate(m_bufferFd, before);
            return false;
        }
        done += n;
    }
    return true;
}

void Logger::flushToBufferFile(bool pastGaps)
{
    QList<QByteArray> records = m_queue.take(pastGaps);
    if (m_firstRecordPartlySent) {
        m_sendBuffer.clear();
        m_sendOffset = 0;
    }
    const QByteArray sendRest = m_sendBuffer.mid(m_sendOffset);
    qsizetype next = 0;
    bool ok = true;
    // A client-information record opens the file, ahead of anything left in the send buffer.
    if (!records.isEmpty() && !sendRest.isEmpty()) {
        const auto parts = KPLogRecord::parse(records.first());
        bool isClientInfo = false;
        for (const auto& p : parts.value_or(QList<KPLogRecord::Part>()))
            isClientInfo |= p.key == KPLogRecord::KeyType && p.number == KPLogRecord::TypeClientInfo;
        if (isClientInfo) {
            ok = writeWhole(records.first());
            next = ok ? 1 : 0;
        }
    }
    if (ok && !sendRest.isEmpty())
        ok = writeWhole(sendRest);
    for (; ok && next < records.size(); ++next) {
        if (!writeWhole(records[next]))
            ok = false;
    }
    if (!ok) {
        KPLogConsole::write(QStringLiteral("KPLogger Error: failed flushing the whole queue to buffer file: %1\n").arg(m_openBufferPath));
        if (next < records.size())
            records = records.mid(next);
        else
            records.clear();
    } else {
        records.clear();
    }
    m_sendBuffer.clear();
    m_sendOffset = 0;
    m_queue.setDelivering(ok);
    m_queue.giveBack(records);
}

void Logger::setBufferFilePath(const QString& path)
{
    {
        std::lock_guard lock(m_settingsMutex);
        if (path == m_bufferFile)
            return;
        m_bufferFile = path;
    }
    signal(SignalBufferFile);
}

QString Logger::bufferFilePath() const
{
    std::lock_guard lock(m_settingsMutex);
    return m_bufferFile;
}

void Logger::setRemoteHost(const QString& host, uint32_t port)
{
    {
        std::lock_guard lock(m_settingsMutex);
        const bool same = host.isEmpty() == m_host.isEmpty()
                          && host.compare(m_host, Qt::CaseInsensitive) == 0 && port == m_port;
        m_host = host;
        m_port = port;
        if (same)
            return;
    }
    signal(SignalRemote);
}

void Logger::setBonjourService(const QString& type, const QString& name)
{
    std::lock_guard lock(m_settingsMutex);
    m_serviceType = type;
    m_serviceName = name;
}

void Logger::setOptions(uint32_t options)
{
    if (options & kKPLogOptionLogToConsole)
        options &= ~uint32_t(kKPLogOptionCaptureSystemConsole);
    m_options = options;
    if (!(options & kKPLogOptionCaptureSystemConsole))
        KPLogConsoleCapture::removeLogger(this);
}

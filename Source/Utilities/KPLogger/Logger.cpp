#include "Utilities/KPLogger/Logger.h"

#include "Utilities/KPLogger/KPLogClientInfo.h"
#include "Utilities/KPLogger/KPLogConsole.h"
#include "Utilities/KPLogger/KPLogConsoleCapture.h"
#include "Utilities/KPLogger/KPLogRecord.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

// The worker's waits: a short first one so early records leave soon after start-up, none
// right after handling a wake-up (more may be pending), a one-second idle heartbeat while
// records wait behind a gap, and otherwise a rest that only a wake-up or a deadline ends.
constexpr auto kFirstWait = 100ms;
constexpr auto kWaitAfterWork = 0ms;
constexpr auto kIdleWait = 1000ms;
constexpr auto kRestWait = std::chrono::milliseconds(std::chrono::hours(1));
// Without an eventfd a wait on the viewer's socket cannot be interrupted, so it is kept short.
constexpr auto kUninterruptiblePollCap = 50ms;

// A log record of the same time, thread, sequence, domain and level that says what was left
// out, for a record no buffer file under the cap could hold.
QByteArray standInFor(const QByteArray& record)
{
    KPLogRecord::Stamp stamp;
    stamp.hasMicros = false;
    stamp.thread = QString();
    QString domain;
    int level = 0;
    for (const KPLogRecord::Part& part : KPLogRecord::parse(record).value_or(QList<KPLogRecord::Part>())) {
        switch (part.key) {
        case KPLogRecord::KeyTimestampSeconds:
            stamp.seconds = part.number;
            break;
        case KPLogRecord::KeyTimestampMicros:
            stamp.micros = part.number;
            stamp.hasMicros = true;
            break;
        case KPLogRecord::KeyThreadId:
            if (part.type == KPLogRecord::PartString)
                stamp.thread = QString::fromUtf8(part.bytes);
            else
                stamp.thread = part.number;
            break;
        case KPLogRecord::KeyTag:
            domain = QString::fromUtf8(part.bytes);
            break;
        case KPLogRecord::KeyLevel:
            level = int(part.number);
            break;
        default:
            break;
        }
    }
    return KPLogRecord::log(stamp, KPLogRecord::sequenceOf(record), KPLogRecord::Source{}, domain, level,
                            QStringLiteral("KPLogger: a record of %1 bytes is left out: it is larger than the log file may grow")
                                .arg(record.size()));
}

QByteArray numbered(const QString& path, int number)
{
    return QFile::encodeName(path + QLatin1Char('.') + QString::number(number));
}

} // namespace

Logger::Logger()
    : m_viewer(*this, [this] { signal(SignalNetwork); })
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Test programs must keep their own output: capture would swallow it into the log.
    if (qEnvironmentVariableIsSet(kNoCaptureVariable))
        m_options = kKPLogDefaultOptions & ~uint32_t(kKPLogOptionCaptureSystemConsole);
}

Logger::~Logger()
{
    stop();
    // A discovery answer can arrive on its queue at any moment; it must not write to the wake
    // descriptor once that is closed (or reused for another file).
    m_viewer.dropWake();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

int32_t Logger::nextSequence()
{
    return m_sequence.fetch_add(1, std::memory_order_seq_cst) + 1;
}

void Logger::push(QByteArray record)
{
    m_queue.push(std::move(record));
    bool listening;
    bool first = false;
    {
        std::lock_guard lock(m_wakeMutex);
        listening = m_sourcesExist;
        if (listening) {
            first = m_signalled == 0;
            m_signalled |= SignalMessage;
        }
    }
    if (listening) {
        m_wake.notify_one();
        if (first)
            wakeDescriptor();
        return;
    }
    if (!m_workerRunning.load() && (m_options.load() & kKPLogOptionLogToConsole))
        printQueue();
}

void Logger::logRepeatable(const QString& key, const QString& domain, int level, const QString& text)
{
    const KPLogRecord::Stamp stamp = KPLogRecord::Stamp::now();
    const QString message = text.isNull() ? QStringLiteral("") : text;
    // Only a running worker ever writes a summary, so without one every line is written.
    if (!m_workerRunning.load()) {
        push(KPLogRecord::log(stamp, nextSequence(), KPLogRecord::Source{}, domain, level, message));
        return;
    }
    const KPLogRepeats::Decision decision = m_repeats.note(
        key, KPLogRepeats::Line{domain, level, message, stamp.thread}, std::chrono::steady_clock::now());
    if (decision.before)
        pushSummaries({*decision.before});
    if (decision.write) {
        push(KPLogRecord::log(stamp, nextSequence(), KPLogRecord::Source{}, domain, level, message));
    } else if (!m_workerRunning.load()) {
        // Counted just as the worker stopped, perhaps after its last look: summarised here.
        pushSummaries(m_repeats.takeAll());
    }
}

void Logger::pushSummaries(const QList<KPLogRepeats::Summary>& summaries)
{
    for (const KPLogRepeats::Summary& summary : summaries) {
        KPLogRecord::Stamp stamp = KPLogRecord::Stamp::now();
        stamp.thread = summary.last.thread;
        push(KPLogRecord::log(stamp, nextSequence(), KPLogRecord::Source{}, summary.last.domain,
                              summary.last.level, summary.text()));
    }
}

void Logger::setRepeatInterval(std::chrono::milliseconds interval)
{
    m_repeats.setInterval(interval);
    signal(SignalRepeats); // the worker's wait may end sooner now
}

void Logger::setBufferFileCap(qint64 bytesPerFile, int oldFilesKept)
{
    m_bufferFileCap = std::max(bytesPerFile, kMinBufferFileCap);
    m_oldBufferFiles = std::max(oldFilesKept, 0);
}

void Logger::printQueue()
{
    for (const QByteArray& record : m_queue.drain())
        KPLogConsole::print(record);
}

void Logger::signal(unsigned which)
{
    bool first;
    {
        std::lock_guard lock(m_wakeMutex);
        if (!m_sourcesExist)
            return;
        first = m_signalled == 0;
        m_signalled |= which;
    }
    m_wake.notify_one();
    // One write per batch of wake-ups is enough: the worker takes all flags at once.
    if (first)
        wakeDescriptor();
}

void Logger::wakeDescriptor()
{
    if (m_wakeFd < 0)
        return;
    const uint64_t one = 1;
    (void)!::write(m_wakeFd, &one, sizeof one);
}

void Logger::setServiceBackend(std::shared_ptr<platform::ServiceBackend> backend)
{
    m_viewer.setServiceBackend(std::move(backend));
}

Logger::RemoteSettings Logger::remoteSettings() const
{
    std::lock_guard lock(m_settingsMutex);
    return RemoteSettings{m_host, m_port, m_serviceType, m_serviceName};
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
    wakeDescriptor();
    if (m_worker.joinable())
        m_worker.join();
    // Counted after the worker's last look; printed, as everything is once it has gone.
    pushSummaries(m_repeats.takeAll());
}

unsigned Logger::waitForWork(std::chrono::milliseconds wait, short* streamEvents)
{
    *streamEvents = 0;
    if (const auto deadline = m_viewer.nextDeadline()) {
        const auto untilDue = std::chrono::duration_cast<std::chrono::milliseconds>(
            *deadline - KPLogViewerConnection::Clock::now());
        wait = std::clamp(untilDue + 1ms, 0ms, wait);
    }
    if (const auto due = m_repeats.nextDue()) {
        const auto untilDue = std::chrono::duration_cast<std::chrono::milliseconds>(
            *due - std::chrono::steady_clock::now());
        wait = std::clamp(untilDue + 1ms, 0ms, wait);
    }
    const int streamFd = m_viewer.descriptor();
    // Network changes are waited for with the rest, but only where the wait can be interrupted.
    const int networkFd = m_wakeFd >= 0 ? m_viewer.reachabilityDescriptor() : -1;
    std::unique_lock lock(m_wakeMutex);
    if (streamFd < 0 && networkFd < 0) {
        m_wake.wait_for(lock, wait, [&] { return m_signalled != 0 || m_quit.load(); });
    } else if (m_signalled == 0 && !m_quit.load()) {
        lock.unlock();
        pollfd fds[3];
        nfds_t count = 0;
        if (streamFd >= 0)
            fds[count++] = {streamFd, m_viewer.pollEvents(), 0};
        if (networkFd >= 0)
            fds[count++] = {networkFd, POLLIN, 0};
        if (m_wakeFd >= 0)
            fds[count++] = {m_wakeFd, POLLIN, 0};
        const auto cap = m_wakeFd >= 0 ? wait : std::min<std::chrono::milliseconds>(wait, kUninterruptiblePollCap);
        if (::poll(fds, count, static_cast<int>(cap.count())) > 0 && streamFd >= 0)
            *streamEvents = fds[0].revents;
        // Wake-ups written while the worker slept on the condition variable are cleared here
        // too; at worst they cut one poll short.
        if (m_wakeFd >= 0) {
            uint64_t count;
            (void)!::read(m_wakeFd, &count, sizeof count);
        }
        lock.lock();
    }
    const unsigned fired = m_signalled;
    m_signalled = 0;
    return fired;
}

void Logger::run()
{
    if (!bufferFilePath().isEmpty())
        openBufferFile();
    m_viewer.start();

    std::chrono::milliseconds wait = kFirstWait;
    // A wait can end early with nothing signalled (a viewer's deadline, a wake-up whose record
    // was taken already), so an idle second is measured, not assumed from the wait asked for.
    auto lastWork = std::chrono::steady_clock::now();
    while (!m_quit.load()) {
        short streamEvents = 0;
        const unsigned fired = waitForWork(wait, &streamEvents);
        const auto now = std::chrono::steady_clock::now();
        // Summaries are queued like any record; their push wakes the next pass at once.
        pushSummaries(m_repeats.takeDue(now));
        if (fired & SignalBufferFile) {
            closeBufferFile();
            // While a viewer takes the records the file stays closed; it reopens on disconnect.
            if (!bufferFilePath().isEmpty() && !m_viewer.isConnected())
                openBufferFile();
        }
        if (fired & SignalRemote)
            m_viewer.remoteSettingsChanged();
        if (fired & SignalNetwork)
            m_viewer.discoveryEvents();
        m_viewer.advance(streamEvents);
        if (fired & SignalMessage)
            sendQueued(false);
        else if (!fired && !streamEvents && now - lastWork >= kIdleWait && !m_queue.isEmpty())
            sendQueued(true); // a gap that outlived an idle second is not going to fill
        if (fired || streamEvents) {
            wait = kWaitAfterWork;
            lastWork = now;
        } else {
            wait = m_queue.isEmpty() ? kRestWait : kIdleWait;
        }
    }

    {
        std::lock_guard lock(m_wakeMutex);
        m_sourcesExist = false;
        m_signalled = 0;
    }
    // Pending counts join the queue, which is written out below.
    pushSummaries(m_repeats.takeAll());
    // Records the viewer had not taken whole come back to the queue here.
    m_viewer.stop();
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
    if (m_viewer.isConnected()) {
        m_viewer.sendQueued(pastGaps);
        return;
    }
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
    struct stat st{};
    m_bufferSize = ::fstat(fd, &st) == 0 ? st.st_size : 0;
    m_bufferHasRecords = m_bufferSize > 0;
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
    m_queue.setDelivering(m_viewer.isConnected());
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
    // Read from the file, so another writer's records count against the cap too.
    m_bufferSize = (before >= 0 ? before : m_bufferSize) + bytes.size();
    return true;
}

bool Logger::makeRoomFor(qsizetype size, bool startsAFile)
{
    // A file that holds nothing but its head is not moved aside: a new one would be no roomier.
    if (!m_bufferHasRecords || m_bufferSize + size <= m_bufferFileCap.load())
        return true;
    return rotateBufferFile(!startsAFile);
}

bool Logger::rotateBufferFile(bool withClientInformation)
{
    const QString path = m_openBufferPath;
    const QByteArray native = QFile::encodeName(path);
    const int kept = m_oldBufferFiles.load();
    bool movedAside = false;
    if (kept > 0) {
        // The oldest kept file is replaced by the one before it; missing ones leave gaps.
        for (int i = kept - 1; i >= 1; --i)
            (void)::rename(numbered(path, i).constData(), numbered(path, i + 1).constData());
        movedAside = ::rename(native.constData(), numbered(path, 1).constData()) == 0;
        if (!movedAside)
            KPLogConsole::write(QStringLiteral("KPLogger Warning: failed moving the buffer file aside; it starts again empty: %1\n").arg(path));
    }
    if (movedAside) {
        ::close(m_bufferFd);
        m_bufferFd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (m_bufferFd < 0) {
            KPLogConsole::write(QStringLiteral("KPLogger Warning: failed opening buffer file for writing: %1\n").arg(path));
            m_openBufferPath.clear();
            return false;
        }
    } else if (::ftruncate(m_bufferFd, 0) != 0) {
        // Past the cap the file must not grow; the records wait in memory meanwhile.
        return false;
    }
    struct stat st{};
    m_bufferSize = ::fstat(m_bufferFd, &st) == 0 ? st.st_size : 0;
    m_bufferHasRecords = m_bufferSize > 0;
    if (withClientInformation)
        (void)writeWhole(KPLogClientInfo::record());
    return true;
}

void Logger::flushToBufferFile(bool pastGaps)
{
    // Records a viewer did not take whole were given back to the queue when its link dropped,
    // so only whole records are ever written here.
    QList<QByteArray> records = m_queue.take(pastGaps);
    const QString path = m_openBufferPath;
    qsizetype next = 0;
    for (; next < records.size(); ++next) {
        QByteArray& record = records[next];
        // Only a record without a sequence number (the client information) heads a file.
        const bool startsAFile = KPLogRecord::sequenceOf(record) == 0;
        if (!makeRoomFor(record.size(), startsAFile))
            break;
        if (!startsAFile && m_bufferSize + record.size() > m_bufferFileCap.load())
            record = standInFor(record);
        if (!writeWhole(record))
            break;
        if (!startsAFile)
            m_bufferHasRecords = true;
    }
    const bool ok = next == records.size();
    if (!ok) {
        KPLogConsole::write(QStringLiteral("KPLogger Error: failed flushing the whole queue to buffer file: %1\n").arg(path));
        records = records.mid(next);
    } else {
        records.clear();
    }
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

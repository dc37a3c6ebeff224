#include "Utilities/KPLogger/KPLogClient.h"

#include "Utilities/KPLogger/KPLogRecord.h"
#include "Utilities/KPLogger/Logger.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// How long KPLogWaitForQueue waits at most for a queue that nothing may ever drain.
constexpr std::chrono::milliseconds kWaitForQueueLimit{10000};

// The loggers made here, owned until KPLogShutdown, and the shared slot, which points at one of
// them or at a logger its caller owns.
struct Loggers {
    std::mutex mutex;
    std::vector<std::unique_ptr<Logger>> owned;
    Logger* shared = nullptr;
};

Loggers& loggers()
{
    // Never destroyed: a worker may still run while the process exits. Loggers end with
    // KPLogShutdown, in the order the program chooses, not in static destruction.
    static Loggers* all = new Loggers;
    return *all;
}

Logger* resolve(Logger* logger)
{
    Logger* l = logger ? logger : KPLogSharedLogger();
    if (!l->workerRunning())
        l->startWorker();
    return l;
}

void pushLog(Logger* logger, const char* file, int line, const char* function,
             const QString& domain, int level, const QString& text)
{
    Logger* l = resolve(logger);
    l->push(KPLogRecord::log(KPLogRecord::Stamp::now(), l->nextSequence(),
                             KPLogRecord::Source{file, line, function}, domain, level,
                             text.isNull() ? QStringLiteral("") : text));
}

} // namespace

void KPLogLogMessage(const QString& message)
{
    pushLog(nullptr, nullptr, 0, nullptr, QString(), 0, message);
}

void KPLogLogDomainMessage(const QString& domain, int level, const QString& message)
{
    pushLog(nullptr, nullptr, 0, nullptr, domain, level, message);
}

void KPLogLogSourceMessage(const char* file, int line, const char* function,
                           const QString& domain, int level, const QString& message)
{
    pushLog(nullptr, file, line, function, domain, level, message);
}

void KPLogLogDomainMessage(Logger* logger, const QString& domain, int level,
                           const QString& message)
{
    pushLog(logger, nullptr, 0, nullptr, domain, level, message);
}

void KPLogLogRepeatedMessage(const QString& key, const QString& domain, int level,
                             const QString& message)
{
    resolve(nullptr)->logRepeatable(key, domain, level, message);
}

void KPLogLogRepeatedMessage(Logger* logger, const QString& key, const QString& domain, int level,
                             const QString& message)
{
    resolve(logger)->logRepeatable(key, domain, level, message);
}

void KPLogSetRepeatInterval(Logger* logger, std::chrono::milliseconds interval)
{
    (logger ? logger : KPLogSharedLogger())->setRepeatInterval(interval);
}

void KPLogLogText(Logger* logger, const char* file, int line, const char* function,
                  const QString& domain, int level, const QString& text)
{
    pushLog(logger, file, line, function, domain, level, text);
}

void KPLogLogData(Logger* logger, const char* file, int line, const char* function,
                  const QString& domain, int level, const QByteArray& data)
{
    Logger* l = resolve(logger);
    l->push(KPLogRecord::data(KPLogRecord::Stamp::now(), l->nextSequence(),
                              KPLogRecord::Source{file, line, function}, domain, level,
                              KPLogRecord::Body::Binary, data));
}

void KPLogLogImageData(Logger* logger, const char* file, int line, const char* function,
                       const QString& domain, int level, int width, int height,
                       const QByteArray& imageData)
{
    Logger* l = resolve(logger);
    l->push(KPLogRecord::data(KPLogRecord::Stamp::now(), l->nextSequence(),
                              KPLogRecord::Source{file, line, function}, domain, level,
                              KPLogRecord::Body::Image, imageData, width, height));
}

void KPLogLogBlockStart(Logger* logger, const QString& message)
{
    Logger* l = resolve(logger);
    l->push(KPLogRecord::blockStart(KPLogRecord::Stamp::now(), l->nextSequence(), message));
}

void KPLogLogBlockEnd(Logger* logger)
{
    Logger* l = resolve(logger);
    if (l->options() & kKPLogOptionLogToConsole)
        return;
    l->push(KPLogRecord::blockEnd(KPLogRecord::Stamp::now(), l->nextSequence()));
}

void KPLogLogMarker(Logger* logger, const QString& text)
{
    Logger* l = resolve(logger);
    const int32_t sequence = l->nextSequence();
    QString body = text;
    if (body.isNull()) {
        const QLocale locale = QLocale::system();
        const QDateTime now = QDateTime::currentDateTime();
        // The medium time style shows seconds, which the locale's short time format lacks.
        QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
        if (!timeFormat.contains(QLatin1Char('s')))
            timeFormat.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
        body = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ')
               + locale.toString(now.time(), timeFormat);
    }
    l->push(KPLogRecord::marker(KPLogRecord::Stamp::now(), sequence, body));
}

Logger* KPLogSharedLogger()
{
    Loggers& all = loggers();
    {
        std::lock_guard lock(all.mutex);
        if (all.shared)
            return all.shared;
    }
    // Made outside the lock; a thread that loses the race lets its own go.
    auto fresh = std::make_unique<Logger>();
    std::lock_guard lock(all.mutex);
    if (all.shared)
        return all.shared;
    all.shared = fresh.get();
    all.owned.push_back(std::move(fresh));
    return all.shared;
}

void KPLogSetSharedLogger(Logger* logger)
{
    Loggers& all = loggers();
    std::lock_guard lock(all.mutex);
    all.shared = logger;
}

Logger* KPLogCreate()
{
    auto fresh = std::make_unique<Logger>();
    Logger* logger = fresh.get();
    Loggers& all = loggers();
    std::lock_guard lock(all.mutex);
    all.owned.push_back(std::move(fresh));
    if (!all.shared)
        all.shared = logger;
    return logger;
}

void KPLogSetBufferFilePath(Logger* logger, const QString& path)
{
    (logger ? logger : KPLogSharedLogger())->setBufferFilePath(path);
}

void KPLogSetBufferFileCap(Logger* logger, qint64 bytesPerFile, int oldFilesKept)
{
    (logger ? logger : KPLogSharedLogger())->setBufferFileCap(bytesPerFile, oldFilesKept);
}

void KPLogSetRemoteHost(Logger* logger, const QString& host, uint32_t port)
{
    (logger ? logger : KPLogSharedLogger())->setRemoteHost(host, port);
}

void KPLogSetBonjourService(Logger* logger, const QString& serviceType,
                            const QString& serviceName)
{
    (logger ? logger : KPLogSharedLogger())->setBonjourService(serviceType, serviceName);
}

void KPLogSetOptionFlags(Logger* logger, uint32_t options)
{
    (logger ? logger : KPLogSharedLogger())->setOptions(options);
}

uint32_t KPLogOptionFlags(Logger* logger)
{
    return (logger ? logger : KPLogSharedLogger())->options();
}

Logger* KPLogStartWorker(Logger* logger)
{
    Logger* l = logger ? logger : KPLogSharedLogger();
    if (!l->workerRunning())
        l->startWorker();
    return l;
}

void KPLogShutdown(Logger* logger)
{
    std::unique_ptr<Logger> ours;
    {
        Loggers& all = loggers();
        std::lock_guard lock(all.mutex);
        if (!logger)
            logger = all.shared;
        if (!logger)
            return;
        if (logger == all.shared)
            all.shared = nullptr;
        const auto it = std::find_if(all.owned.begin(), all.owned.end(),
                                     [logger](const std::unique_ptr<Logger>& l) { return l.get() == logger; });
        if (it != all.owned.end()) {
            ours = std::move(*it);
            all.owned.erase(it);
        }
    }
    // Outside the lock: stopping waits for the worker, and nobody who asks for the shared
    // logger meanwhile should wait for that. A logger of ours goes with `ours`.
    logger->stop();
}

void KPLogWaitForQueue(Logger* logger, bool waitForConnection)
{
    Logger* l = logger ? logger : KPLogSharedLogger();
    if (!l->connected() && l->bufferFilePath().isEmpty() && !waitForConnection)
        return;
    l->queue().waitForEmptied(kWaitForQueueLimit);
}

#include "Utilities/KPLogger/KPLogClient.h"

#include "Utilities/KPLogger/KPLogRecord.h"
#include "Utilities/KPLogger/Logger.h"

#include <QDateTime>
#include <QLocale>
#include <chrono>
#include <mutex>

namespace {

// How long KPLogWaitForQueue waits at most for a queue that nothing may ever drain.
constexpr std::chrono::milliseconds kWaitForQueueLimit{10000};

std::mutex g_sharedMutex;
Logger* g_shared = nullptr;

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
    {
        std::lock_guard lock(g_sharedMutex);
        if (g_shared)
            return g_shared;
    }
    // Made outside the lock; a thread that loses the race frees its own.
    auto* fresh = new Logger;
    std::lock_guard lock(g_sharedMutex);
    if (g_shared) {
        delete fresh;
        return g_shared;
    }
    g_shared = fresh;
    return g_shared;
}

void KPLogSetSharedLogger(Logger* logger)
{
    std::lock_guard lock(g_sharedMutex);
    g_shared = logger;
}

Logger* KPLogCreate()
{
    auto* logger = new Logger;
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared)
        g_shared = logger;
    return logger;
}

void KPLogSetBufferFilePath(Logger* logger, const QString& path)
{
    (logger ? logger : KPLogSharedLogger())->setBufferFilePath(path);
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
    {
        std::lock_guard lock(g_sharedMutex);
        if (!logger)
            logger = g_shared;
        if (!logger)
            return;
        if (logger == g_shared)
            g_shared = nullptr;
    }
    logger->stop();
    delete logger;
}

void KPLogWaitForQueue(Logger* logger, bool waitForConnection)
{
    Logger* l = logger ? logger : KPLogSharedLogger();
    if (!l->connected() && l->bufferFilePath().isEmpty() && !waitForConnection)
        return;
    l->queue().waitForEmptied(kWaitForQueueLimit);
}

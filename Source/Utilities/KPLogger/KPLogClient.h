// The logging client: every diagnostic line of the program goes through these free functions.
//
// A call turns its message into one binary log record on the caller's thread and appends it to
// the logger's queue under a short lock; the logger's own worker thread sends queued records to
// a log viewer on this machine when one is connected (after replaying the buffer file to it),
// else writes them to the buffer file (the program's log file) or prints them on the console.
// Nothing here waits for
// the disk or reports a failure to the caller: a record that cannot be made is simply not logged.
//
// Messages arrive already formatted (callers use QString::arg). A null Logger* everywhere means
// the shared logger, which is made on first use with the default options.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>

struct Logger;

// Option bits of a logger; a new logger has kKPLogDefaultOptions.
enum KPLogOption : uint32_t {
    kKPLogOptionLogToConsole = 0x01,      // print records on the console instead of keeping them
    kKPLogOptionBufferLogsUntilConnection = 0x02, // keep records in memory while nothing takes them
    kKPLogOptionBrowseBonjour = 0x04,
    kKPLogOptionBrowseOnlyLocalDomain = 0x08,
    kKPLogOptionUseSSL = 0x10,
    kKPLogOptionCaptureSystemConsole = 0x20, // log what the process writes to stdout and stderr
};
inline constexpr uint32_t kKPLogDefaultOptions = 0x3E;

// When this environment variable is set, new loggers start without console capture. Test
// programs set it so their own output is not swallowed into a log.
inline constexpr char kNoCaptureVariable[] = "FOLIVO_LOG_NO_CAPTURE";

// The program's three log calls; they always log to the shared logger.
void KPLogLogMessage(const QString& message);
void KPLogLogDomainMessage(const QString& domain, int level, const QString& message);
void KPLogLogSourceMessage(const char* file, int line, const char* function,
                           const QString& domain, int level, const QString& message);

// The same with an explicit logger.
void KPLogLogDomainMessage(Logger* logger, const QString& domain, int level,
                           const QString& message);

// A line that a peer or a flood can make repeat without end (a refused connection, a time-out),
// logged like KPLogLogDomainMessage but gathered by key: the first line of a key is written and
// opens an interval (10 s unless set); lines of the same key within it are only counted, and
// when it ends one line is written, the last of them with the count ("… (N more like this
// within 10 s)"), and the next interval opens. The count is also written before the key's
// next line when that comes first, and when the logger stops: nothing counted is dropped. A
// key names what repeats, such as the kind of event and the peer's address; lines of
// different keys are never gathered together.
void KPLogLogRepeatedMessage(const QString& key, const QString& domain, int level,
                             const QString& message);
void KPLogLogRepeatedMessage(Logger* logger, const QString& key, const QString& domain, int level,
                             const QString& message);
// How long lines of one key are gathered; intervals under way end by the new length.
void KPLogSetRepeatInterval(Logger* logger, std::chrono::milliseconds interval);

// A log record whose message is a ready text (a null text logs ""). file and function are
// zero-terminated byte strings taken as Latin-1; null or empty adds no part.
void KPLogLogText(Logger* logger, const char* file, int line, const char* function,
                  const QString& domain, int level, const QString& text);

// A record whose body is raw bytes; a null QByteArray adds no body, an empty one a 0-byte body.
void KPLogLogData(Logger* logger, const char* file, int line, const char* function,
                  const QString& domain, int level, const QByteArray& data);

// A record whose body is an image file's bytes (PNG, TIFF, …) with its pixel size.
void KPLogLogImageData(Logger* logger, const char* file, int line, const char* function,
                       const QString& domain, int level, int width, int height,
                       const QByteArray& imageData);

// Block start (with a title unless message is null) and block end records. A block end is not
// made while the logger prints on the console.
void KPLogLogBlockStart(Logger* logger, const QString& message = QString());
void KPLogLogBlockEnd(Logger* logger);

// A marker record: the given text, or the current date and time when text is null.
void KPLogLogMarker(Logger* logger, const QString& text = QString());

// The shared logger, made on first use. Setting it replaces the slot without stopping the old one.
Logger* KPLogSharedLogger();
void KPLogSetSharedLogger(Logger* logger);

// A new logger with the default options; it becomes the shared logger when there is none yet.
Logger* KPLogCreate();

// The file that records are appended to while no viewer takes them; a null or empty path means
// none. A changed path makes the worker close the old file and open the new one.
void KPLogSetBufferFilePath(Logger* logger, const QString& path);

// The buffer file's cap: a record that would take the file past bytesPerFile (at least 4 KiB)
// first moves it to "<path>.1", the older ones one number up to oldFilesKept, the oldest beyond
// that dropped, and a new file is begun. 5 MiB and 3 old files unless set. A record larger
// than a file may hold is replaced by one that says so. Where the file cannot be moved aside
// (or no old file is kept) it starts again empty rather than grow.
void KPLogSetBufferFileCap(Logger* logger, qint64 bytesPerFile, int oldFilesKept);

// A log viewer to connect to directly, retried every few seconds while it cannot be reached.
// Only a viewer on this machine is ever connected to: a loopback address, "localhost" or this
// machine's own name; any other host is refused with a warning. A changed host or port drops
// the current connection.
void KPLogSetRemoteHost(Logger* logger, const QString& host, uint32_t port);
// The service type browsed for (empty: the default for the TLS option) and the one service name
// accepted, compared ignoring case and accents (empty: any).
void KPLogSetBonjourService(Logger* logger, const QString& serviceType,
                            const QString& serviceName);

// Sets the option bits; setting kKPLogOptionLogToConsole clears kKPLogOptionCaptureSystemConsole.
void KPLogSetOptionFlags(Logger* logger, uint32_t options);
uint32_t KPLogOptionFlags(Logger* logger);

// Starts the worker thread when none runs; answers the logger (the shared one for null).
Logger* KPLogStartWorker(Logger* logger);

// Stops the worker (which writes out what is still queued), stops console capture for this
// logger and takes it out of the shared slot. A logger made here (KPLogCreate, the shared one)
// is freed; one its caller made stays the caller's to free. Null means the shared logger.
void KPLogShutdown(Logger* logger);

// From any thread but the worker: when the logger has somewhere to put records (a buffer file,
// or waitForConnection), waits until the queue has been emptied once. The wait is capped, so a
// logger that cannot deliver never hangs its caller.
void KPLogWaitForQueue(Logger* logger, bool waitForConnection);

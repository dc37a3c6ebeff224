// Where the log file lives and how it is kept small: it is deleted at start when it has grown
// past 5 MiB, so one run's records are never cut in the middle.
#pragma once

#include <QString>

namespace LogFileSetup {

// Largest log file that survives a start; one byte more and it is deleted.
inline constexpr qint64 kMaxLogFileSize = 5 * 1024 * 1024;

// "<application support>/<bundle id>/Logs".
QString logsFolder();

// Creates logsFolder (with intermediates), deletes "Folivo 2.log" in it when it is larger than
// kMaxLogFileSize, and answers the log file's path. Failures are not reported: logging then
// goes wherever the logging client can write.
QString prepareLogFile(const QString& logsFolder);

// prepareLogFile(logsFolder()), handed to the shared logger, whose worker is then started.
void setUpLogFile();

} // namespace LogFileSetup

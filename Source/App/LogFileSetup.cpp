#include "App/LogFileSetup.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Paths.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace LogFileSetup {

QString logsFolder()
{
    return QStringLiteral("%1/%2/Logs")
        .arg(platform::Paths::applicationSupportDirectory(),
             platform::Bundle::mainBundle().bundleIdentifier());
}

QString prepareLogFile(const QString& folder)
{
    QDir().mkpath(folder);
    const QString path = QStringLiteral("%1/Folivo 2.log").arg(folder);
    const QFileInfo info(path);
    // QFileInfo::size is 64-bit, so a file past 4 GiB is seen as large and rotated too.
    if (info.exists() && info.size() > kMaxLogFileSize)
        QFile::remove(path);
    return path;
}

void setUpLogFile()
{
    KPLogSetBufferFilePath(nullptr, prepareLogFile(logsFolder()));
    KPLogStartWorker(KPLogSharedLogger());
}

} // namespace LogFileSetup

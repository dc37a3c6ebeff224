// The memory figures the benchmarks report, from /proc/self/status.
#pragma once

#include <QByteArray>
#include <QFile>

// "VmHWM:" (peak) or "VmRSS:" (now) of this process (or of the process whose status file is
// named), in MB; 0 when it cannot be read.
inline double rssMb(const char* field = "VmHWM:", const QString& statusFile = QStringLiteral("/proc/self/status"))
{
    QFile status(statusFile);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

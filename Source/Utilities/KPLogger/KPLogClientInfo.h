// The client-information record that opens every log file and every viewer connection: who is
// logging (the program's name and version) and on what (system, release, machine).
//
// The system's name is the real one (uname), so a log read later says which platform wrote it.
#pragma once

#include <QByteArray>
#include <QString>

class KPLogClientInfo {
public:
    static QByteArray record();

    // "%d.%d.%d" from a kernel release such as "6.1.0-18-amd64"; missing numbers are 0.
    static QString osVersion(const QString& release);
    // The hardware model, " - %d * " with the processor count, then the architecture,
    // cut to at most 63 bytes of UTF-8.
    static QString machineDescription(const QString& model, int cpuCount,
                                      const QString& architecture);
};

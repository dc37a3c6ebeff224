// Printing records as text lines, the logger's last resort when nothing else takes them.
//
// Lines go to the process's original standard error. Once console capture has redirected
// descriptor 2 into a pipe, printing there would capture each printed line, log it and print it
// again forever; so capture hands over a duplicate of the original descriptor, and every line
// of the client (records and its own warnings) is written only to that one.
#pragma once

#include <QByteArray>
#include <QString>

class KPLogConsole {
public:
    // The line for a record, without its line feed; empty for records that are not printed
    // (anything but log and marker records).
    static QString formatLine(const QByteArray& record);

    // Prints the record's line, when it has one.
    static void print(const QByteArray& record);

    // Writes text as is (the client's warnings and errors).
    static void write(const QString& text);

    // The descriptor lines are written to: 2 until capture supplies the original's duplicate.
    static int outputDescriptor();
    static void setOutputDescriptor(int fd);

    // "Raw data, N bytes:" and the hex dump of a binary body.
    static QString hexDump(const QByteArray& data);
};

// The name a log record gives its thread: the thread's own name when it was given one,
// "Main thread" for the main thread, else "Thread N" numbered in the order threads first log.
//
// Linux threads inherit their creator's name, so a name equal to the process's own is no name
// at all; the number keeps unnamed threads apart in a viewer.
#pragma once

#include <QString>

class KPLogThreadName {
public:
    static QString current();
};

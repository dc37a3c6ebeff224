// What an object registered with FSEventsListener hears. Every operation is optional: the
// defaults do nothing. Only directoryWasChange has a producer; the others exist for objects
// that forward per-item reports.
//
// An object leaves every listener's lists when it is destroyed, so a listener never calls a
// destroyed object. Main thread only.
#pragma once

#include <QString>

class FSEventListenerDelegate {
public:
    virtual ~FSEventListenerDelegate();

    virtual void fileWasAdded(const QString& path) {}
    virtual void fileWasRemoved(const QString& path) {}
    virtual void fileWasRenamed(const QString& oldPath, const QString& newPath) {}
    virtual void fileWasModified(const QString& path) {}
    virtual void directoryWasAdded(const QString& path) {}
    virtual void directoryWasRemoved(const QString& path) {}
    virtual void directoryWasRenamed(const QString& oldPath, const QString& newPath) {}
    virtual void directoryWasChange(const QString& path) {}
};

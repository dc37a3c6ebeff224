// Tells when the entries directly inside one folder change, as soon as the kernel says so: an
// entry created, removed, renamed in or out, written or given new attributes. It is the light
// counterpart of FileEventStream for a flat folder whose owner reacts on a serial queue of its
// own: one inotify watch, no thread of its own (the process's descriptor reactor hands the
// events over), no gathering latency, and the watch is in place when the constructor returns,
// so a look at the folder made after it misses nothing.
//
// The handler gets the names that changed. An empty list means "look at everything": the
// kernel's queue overflowed, or the folder itself was removed, moved or unmounted — then
// folderGone is true and nothing more is reported until rewatch() succeeds.
//
// Threads: make and destroy on any thread; the handler and rewatch() run on the given serial
// queue. No handler starts once the destructor has returned (one already running finishes).
#pragma once

#include "Platform/Foundation/DispatchQueue.h"

#include <QByteArrayList>
#include <QString>
#include <functional>
#include <memory>

namespace platform {

class FolderWatch {
public:
    using Handler = std::function<void(const QByteArrayList& names, bool folderGone)>;

    FolderWatch(const QString& folder, DispatchQueue queue, Handler handler);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // False when the folder could not be watched (no inotify, no such folder, no watches left).
    bool isWatching() const;
    // Watches the folder again after it was reported gone (made anew by the owner); on the
    // watch's queue only.
    bool rewatch();

    struct Inner;

private:
    std::shared_ptr<Inner> m_inner;
};

} // namespace platform

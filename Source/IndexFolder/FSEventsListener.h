// The one file-system event stream over the index folders and sources, and the objects that
// want to hear of changes below a path.
//
// Each raw event is reduced to "this folder changed" and told to every object registered under
// a path that contains it. The reduction keeps to what the folder walk of a sync can see, so a
// report never sends a sync into places the full walk leaves out:
// - events whose path has a dot-component below its watched root, or lies inside the library
//   folder, or inside an excluded package (an application), are dropped;
// - an event inside a document package is reported as a change of the package's folder;
// - an event for a file of an unsupported kind is dropped; any other reports its folder;
// - when the stream cannot say what changed (lost events, a root removed or unmounted, a root
//   that is only looked at periodically) the root itself is reported, so it is synced whole.
// Paths compare exactly and by whole components: /A/Docs does not contain /A/Docs2.
//
// Threads: main thread only (the stream delivers there); the lists have no lock.
#pragma once

#include "IndexFolder/FSEventListenerDelegate.h"

#include "Platform/FileEvents/FileEventStream.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>

class FSEventsListener {
public:
    // Events are gathered this long before a batch is reported.
    static constexpr std::chrono::milliseconds kLatency{200};

    // The shared listener, made on first use with the library folder of "String_Library_Path"
    // (read once: a later change of the setting does not reach it).
    static FSEventsListener& instance();
    // Releases the shared listener, stopping its stream.
    static void destroy();

    explicit FSEventsListener(const QString& libraryPath);
    ~FSEventsListener();
    FSEventsListener(const FSEventsListener&) = delete;
    FSEventsListener& operator=(const FSEventsListener&) = delete;

    // Replaces the stream by one over exactly these folders; an empty list stops watching.
    // Changes made while no stream runs are never reported.
    void reloadWatchPaths(const QStringList& paths);

    // Registers object under path (less one trailing "/"); an object is held once per path.
    void addListener(FSEventListenerDelegate* object, const QString& path);
    void removeListener(FSEventListenerDelegate* object, const QString& path);
    // Removes object from every path.
    void removeListenerEverywhere(FSEventListenerDelegate* object);

    // The path less one trailing "/".
    static QString formatPath(const QString& path);
    // Every object registered under a path that contains path, once per such path.
    QList<FSEventListenerDelegate*> listenerByPath(const QString& path) const;

    void fileWasAdded(const QString& path);
    void fileWasRemoved(const QString& path);
    void fileWasRenamed(const QString& oldPath, const QString& newPath);
    void fileWasModified(const QString& path);
    void directoryWasAdded(const QString& path);
    void directoryWasRemoved(const QString& path);
    void directoryWasRenamed(const QString& oldPath, const QString& newPath);
    void directoryWasChange(const QString& path);

    // The folder to report for one event, or nothing when the event is dropped.
    std::optional<QString> folderToReport(const platform::FileEvent& event) const;
    void handleEvents(const platform::FileEventBatch& batch);

    const QString& libraryPath() const { return m_libraryPath; }
    // The running stream, if any (tests wait until it watches).
    platform::FileEventStream* eventStream() const { return m_fileStream.get(); }

private:
    template <class Call>
    void forward(const QString& path, Call call);
    bool isRegistered(const FSEventListenerDelegate* object) const;

    QString m_libraryPath;
    QMap<QString, QList<FSEventListenerDelegate*>> m_listeners;
    std::unique_ptr<platform::FileEventStream> m_fileStream;
};

// Remembers the files whose extended attributes (tags, rating, Finder data) this process itself
// has just written, so that the file-event listener can drop the attribute-only events they
// cause. Such an event would start a sync that reads the file's tags while the user may already
// be editing them again, and could put back the tags the user just replaced.
//
// It sits in front of the extended-attribute calls as a recording backend, so every writer
// (TagMeta, Finder tags, Finder info) is covered without knowing about it. Entries older than
// kRecentWindow count as not written and are dropped on the next write.
//
// Threads: any; one mutex guards the table.
#pragma once

#include <QHash>
#include <QString>
#include <chrono>
#include <mutex>

class KPAttributeWriteLog {
public:
    // Tuning: how long after a write its events count as our own (the event stream's latency
    // and the watcher's batching come on top of the write itself).
    static constexpr std::chrono::milliseconds kRecentWindow{3000};

    static KPAttributeWriteLog& shared();

    // Puts the recording backend in front of the extended-attribute backend in use, once.
    static void install();

    void noteWrite(const QString& path);
    bool wasWrittenRecently(const QString& path) const;

private:
    mutable std::mutex m_mutex;
    QHash<QString, std::chrono::steady_clock::time_point> m_written;
};

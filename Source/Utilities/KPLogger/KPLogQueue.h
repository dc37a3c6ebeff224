// The records of one logger waiting to be written, kept in sequence order.
//
// Callers on any thread number their records before they take the lock, so a later number can
// arrive first; insertion scans from the back for its place. Because a number can also arrive
// after the worker has written its successor, the worker takes records only up to the first gap
// in the numbering; the missing record is on its way and its push wakes the worker again. Only
// when the worker has been idle for a while (or stops) does it take records past a gap. The
// worker takes the queue
// out to write it without holding the lock (a log call must never wait for the disk) and gives
// back what it could not write; while records are out, the queue still counts as non-empty so
// that waiting for it to drain means "written". While nothing takes records (no file, no
// viewer), the queue is bounded and drops its oldest records.
//
// Threads: any. One mutex guards everything here; the emptied condition uses it too.
#pragma once

#include <QByteArray>
#include <QList>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

class KPLogQueue {
public:
    // How much a queue that nothing drains may hold before it drops its oldest records.
    static constexpr qsizetype kUndeliveredLimitBytes = 4 * 1024 * 1024;

    // Inserts in sequence order (a record without a sequence counts as 0), never in front of a
    // partly sent first record. The record is taken over, not shared with the caller.
    void push(QByteArray record);
    // Puts a record at the front (behind a partly sent first record): the client information.
    void pushFront(const QByteArray& record);

    // Takes the queued records out for writing, up to the first gap in the numbering unless
    // pastGaps; the queue counts as busy until giveBack.
    QList<QByteArray> take(bool pastGaps = false);
    // Returns the records that were not written to the front, ends the take and, when nothing
    // is left, wakes whoever waits for the queue to empty.
    void giveBack(const QList<QByteArray>& unwritten);

    // Puts records that a viewer did not take whole back at the front, in their order.
    void returnUnsent(const QList<QByteArray>& records);
    // Wakes whoever waits for the queue to empty, whatever it holds: the place records were
    // going to has gone away.
    void wakeWaiters();

    // Drops everything and wakes waiters: used when records are printed or discarded.
    QList<QByteArray> drain();

    bool isEmpty() const;
    QList<QByteArray> snapshot() const;
    qsizetype byteSize() const;
    uint64_t droppedCount() const;

    // Whether something currently takes the records; an untaken queue is bounded.
    void setDelivering(bool delivering);
    void setFirstPartlySent(bool partly);

    // Waits until the queue has been emptied once, or at most cap. Answers at once when empty.
    void waitForEmptied(std::chrono::milliseconds cap);

private:
    struct Entry {
        int32_t sequence;
        QByteArray bytes;
    };

    void insertLocked(Entry entry);
    void trimLocked();
    void notifyIfEmptyLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_emptied;
    std::deque<Entry> m_entries;
    qsizetype m_bytes = 0;
    int m_takers = 0;
    // The highest sequence number taken or dropped so far.
    int32_t m_lastTaken = 0;
    uint64_t m_emptiedCount = 0;
    uint64_t m_dropped = 0;
    bool m_delivering = false;
    bool m_firstPartlySent = false;
};

// Room on a file system promised to writers that run at the same time. A check of the free space
// alone lets every one of several writers see the same free bytes and each take them: five
// uploads that each fit filled the disk together. A writer instead reserves what it may still
// write; a reservation is granted only when the free space, less what other writers still hold,
// keeps the margin asked for. The writer gives back what it wrote as it goes (the disk's own
// figure counts it from then on), and the rest when it ends.
//
// Threads: any. One mutex guards the reservations and the figure source; the free space is asked
// for under it, so two reservations are never granted on the same figure.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

class FreeSpaceLedger {
public:
    // Bytes free for an unprivileged writer on the file system holding path; below 0 when it
    // cannot be told.
    using FreeBytes = std::function<qint64(const QString& path)>;

    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        ~Reservation();
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;

        explicit operator bool() const { return m_entry != nullptr; }
        // Bytes still held.
        qint64 held() const;
        // bytes were written: the disk's free figure shows them now.
        void wrote(qint64 bytes);
        // Holds bytes from now on: less gives the rest back; more is granted as a reservation of
        // the difference would be (false, and the hold unchanged, when it is not). An empty
        // reservation grows nothing.
        bool resize(qint64 bytes, qint64 margin);
        // Gives back everything still held; nothing once released.
        void release();

    private:
        friend class FreeSpaceLedger;
        struct Entry;
        std::shared_ptr<Entry> m_entry;
    };

    // The ledger of this process.
    static FreeSpaceLedger& shared();

    // Reserves bytes on the file system of path when, after them and every other reservation
    // there, margin bytes stay free; an empty reservation otherwise (or when the free space
    // cannot be told).
    Reservation reserve(const QString& path, qint64 bytes, qint64 margin);
    // What all reservations on the file system of path still hold.
    qint64 reservedOn(const QString& path) const;

    // The figure of free bytes; the system's own by default. Tests give a made-up one.
    void setFreeBytesSource(FreeBytes source);
    static qint64 systemFreeBytes(const QString& path);

private:
    struct State;
    FreeSpaceLedger();
    std::shared_ptr<State> m_state;
};

} // namespace platform

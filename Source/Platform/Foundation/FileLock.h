// An exclusive advisory lock (flock) on a file, held for as long as the object lives. The lock
// belongs to the open file, not to the process: a second FileLock on the same path is refused
// even in the same process, and the kernel drops the lock when its holder dies, so a lock file
// left by a killed process never blocks anyone.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>

namespace platform {

class FileLock {
public:
    // The code of the error tryLock answers when a live holder has the lock.
    static constexpr int kHeldElsewhere = 1;

    // Takes the lock on path (created, mode 0600, when missing) without waiting.
    static Result<FileLock> tryLock(const QString& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    QString path() const { return m_path; }
    // Lets the lock go now; nothing once released.
    void release();

private:
    FileLock(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

    int m_fd = -1;
    QString m_path;
};

} // namespace platform

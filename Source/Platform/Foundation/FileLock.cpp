#include "Platform/Foundation/FileLock.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

Result<FileLock> FileLock::tryLock(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("opening the lock file %1").arg(path)));
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return fail(QStringLiteral("FileLock"), kHeldElsewhere, QStringLiteral("%1 is locked by another process").arg(path));
        return std::unexpected(Error::posix(err, QStringLiteral("locking %1").arg(path)));
    }
    return FileLock(fd, path);
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(other.m_fd), m_path(std::move(other.m_path))
{
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        other.m_fd = -1;
    }
    return *this;
}

FileLock::~FileLock()
{
    release();
}

void FileLock::release()
{
    if (m_fd < 0)
        return;
    // Closing the only descriptor of the open file ends the lock.
    ::close(m_fd);
    m_fd = -1;
}

} // namespace platform

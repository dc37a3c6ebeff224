#include "Platform/Foundation/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct Opened {
    int fd = -1;
    qint64 size = 0;
};

Result<Opened> openChecked(const QString& path, qint64 maxBytes)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return std::unexpected(Error::posix(ENOENT, QStringLiteral("open an empty path")));
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("open %1").arg(path)));
    struct stat st {};
    int refusal = 0;
    if (::fstat(fd, &st) != 0)
        refusal = errno;
    else if (!S_ISREG(st.st_mode))
        refusal = ENODEV;
    else if (maxBytes >= 0 && st.st_size > maxBytes)
        refusal = EFBIG;
    else {
        // Regular files never block; a later read on a network file system should wait for
        // its data rather than answer EAGAIN.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            refusal = errno;
    }
    if (refusal != 0) {
        ::close(fd);
        const QString what = refusal == ENODEV ? QStringLiteral("read %1: not a regular file").arg(path)
            : refusal == EFBIG                 ? QStringLiteral("read %1: larger than %2 bytes").arg(path).arg(maxBytes)
                                               : QStringLiteral("read %1").arg(path);
        return std::unexpected(Error::posix(refusal, what));
    }
    return Opened{fd, qint64(st.st_size)};
}

} // namespace

void RegularFile::Closer::operator()(QFile* file) const
{
    const int fd = file->handle();
    file->close();
    delete file;
    if (fd >= 0)
        ::close(fd);
}

Result<RegularFile::File> RegularFile::open(const QString& path, qint64 maxBytes)
{
    auto opened = openChecked(path, maxBytes);
    if (!opened)
        return std::unexpected(opened.error());
    auto* file = new QFile;
    file->setFileName(path);
    if (!file->open(opened->fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        const QString why = file->errorString();
        delete file;
        ::close(opened->fd);
        return std::unexpected(Error::posix(EIO, QStringLiteral("read %1: %2").arg(path, why)));
    }
    return File(file);
}

Result<QByteArray> RegularFile::readAll(const QString& path, qint64 maxBytes)
{
    auto file = open(path, maxBytes);
    if (!file)
        return std::unexpected(file.error());
    // A file that grew after the check is still read within the cap.
    QByteArray bytes = maxBytes >= 0 ? (*file)->read(maxBytes) : (*file)->readAll();
    if ((*file)->error() != QFileDevice::NoError)
        return std::unexpected(Error::posix(EIO, QStringLiteral("read %1: %2").arg(path, (*file)->errorString())));
    return bytes;
}

Result<qint64> RegularFile::check(const QString& path, qint64 maxBytes)
{
    auto opened = openChecked(path, maxBytes);
    if (!opened)
        return std::unexpected(opened.error());
    ::close(opened->fd);
    return opened->size;
}

} // namespace platform

#include "Platform/Foundation/FakeXAttrBackend.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

void FakeXAttrBackend::setMaxValueSize(qsizetype maxValueSize, int tooLargeError)
{
    std::lock_guard lock(m_mutex);
    m_maxValueSize = maxValueSize;
    m_tooLargeError = tooLargeError;
}

void FakeXAttrBackend::setFailure(int error)
{
    std::lock_guard lock(m_mutex);
    m_failure = error;
}

QMap<QByteArray, QByteArray> FakeXAttrBackend::attributes(const QByteArray& path) const
{
    std::lock_guard lock(m_mutex);
    return m_values.value(path);
}

int FakeXAttrBackend::check(const QByteArray& path) const
{
    if (m_failure)
        return m_failure;
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 ? 0 : errno;
}

void FakeXAttrBackend::touch(const QByteArray& path)
{
    // A change of ownership to the same owner, which touches nothing but the change time.
    (void)::lchown(path.constData(), uid_t(-1), gid_t(-1));
}

int FakeXAttrBackend::get(const QByteArray& path, const QByteArray& name, QByteArray* value)
{
    std::lock_guard lock(m_mutex);
    if (const int err = check(path))
        return err;
    const auto file = m_values.constFind(path);
    if (file == m_values.cend() || !file->contains(name))
        return ENODATA;
    *value = file->value(name);
    return 0;
}

int FakeXAttrBackend::set(const QByteArray& path, const QByteArray& name, const QByteArray& value)
{
    std::lock_guard lock(m_mutex);
    if (const int err = check(path))
        return err;
    if (m_maxValueSize >= 0 && value.size() > m_maxValueSize)
        return m_tooLargeError;
    m_values[path][name] = value;
    touch(path);
    return 0;
}

int FakeXAttrBackend::remove(const QByteArray& path, const QByteArray& name)
{
    std::lock_guard lock(m_mutex);
    if (const int err = check(path))
        return err;
    auto file = m_values.find(path);
    if (file == m_values.end() || file->remove(name) == 0)
        return ENODATA;
    touch(path);
    return 0;
}

int FakeXAttrBackend::list(const QByteArray& path, QList<QByteArray>* names)
{
    std::lock_guard lock(m_mutex);
    if (const int err = check(path))
        return err;
    *names = m_values.value(path).keys();
    return 0;
}

} // namespace platform

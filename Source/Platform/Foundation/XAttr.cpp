#include "Platform/Foundation/XAttr.h"

#include "Platform/Foundation/XAttrBackend.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/xattr.h>

namespace platform {

namespace {

// The kernel's limit on a full attribute name ("user." included), in bytes.
constexpr qsizetype MaxNameBytes = 255;

const QByteArray UserPrefix = QByteArrayLiteral("user.");

class SystemXAttrBackend : public XAttrBackend {
public:
    int get(const QByteArray& path, const QByteArray& name, QByteArray* value) override
    {
        // The value can change between asking its size and reading it; ask again then.
        for (;;) {
            const ssize_t size = ::lgetxattr(path.constData(), name.constData(), nullptr, 0);
            if (size < 0)
                return errno;
            QByteArray buffer(size, '\0');
            const ssize_t got = ::lgetxattr(path.constData(), name.constData(), buffer.data(), size_t(buffer.size()));
            if (got < 0 && errno == ERANGE)
                continue;
            if (got < 0)
                return errno;
            buffer.truncate(got);
            *value = buffer;
            return 0;
        }
    }

    int set(const QByteArray& path, const QByteArray& name, const QByteArray& value) override
    {
        return ::lsetxattr(path.constData(), name.constData(), value.constData(), size_t(value.size()), 0) == 0 ? 0 : errno;
    }

    int remove(const QByteArray& path, const QByteArray& name) override
    {
        return ::lremovexattr(path.constData(), name.constData()) == 0 ? 0 : errno;
    }

    int list(const QByteArray& path, QList<QByteArray>* names) override
    {
        for (;;) {
            const ssize_t size = ::llistxattr(path.constData(), nullptr, 0);
            if (size < 0)
                return errno;
            QByteArray buffer(size, '\0');
            const ssize_t got = ::llistxattr(path.constData(), buffer.data(), size_t(buffer.size()));
            if (got < 0 && errno == ERANGE)
                continue;
            if (got < 0)
                return errno;
            names->clear();
            for (const QByteArray& name : QByteArray(buffer.constData(), got).split('\0')) {
                if (!name.isEmpty())
                    names->append(name);
            }
            return 0;
        }
    }
};

std::mutex g_backendMutex;
std::shared_ptr<XAttrBackend> g_backend;

std::shared_ptr<XAttrBackend> backend()
{
    std::lock_guard lock(g_backendMutex);
    if (!g_backend)
        g_backend = std::make_shared<SystemXAttrBackend>();
    return g_backend;
}

std::unexpected<Error> xattrError(int err, const QString& path, const QString& name, const QString& doing,
                                  qsizetype valueSize = -1)
{
    QString message;
    switch (err) {
    case ENOTSUP:
        message = QStringLiteral("The file system of %1 refuses user extended attributes, so %2 cannot be %3")
                      .arg(path, name, doing);
        break;
    case ENODATA:
        message = QStringLiteral("%1 has no extended attribute %2").arg(path, name);
        break;
    case E2BIG:
    case ENOSPC:
        message = QStringLiteral("The value of extended attribute %1 (%2 bytes) is too large for the file system of %3, or it is full")
                      .arg(name).arg(valueSize).arg(path);
        break;
    case ERANGE:
        message = valueSize >= 0
            ? QStringLiteral("Extended attribute %1 of %2 is too large (name or value)").arg(name, path)
            : QStringLiteral("Extended attribute %1 of %2 cannot be read: too large").arg(name, path);
        break;
    default:
        message = QStringLiteral("Extended attribute %1 of %2 cannot be %3: %4")
                      .arg(name, path, doing, QString::fromLocal8Bit(std::strerror(err)));
        break;
    }
    return std::unexpected(Error{QStringLiteral("XAttr"), err, message});
}

// The stored name, or an error for names the kernel would refuse or misread.
Result<QByteArray> checkedName(const QString& path, const QString& name, const QString& doing)
{
    if (name.isEmpty() || name.contains(QChar(0)))
        return std::unexpected(Error{QStringLiteral("XAttr"), EINVAL,
                                     QStringLiteral("\"%1\" is not a valid extended attribute name").arg(name)});
    const QByteArray full = XAttr::systemName(name);
    if (full.size() > MaxNameBytes)
        return std::unexpected(Error{QStringLiteral("XAttr"), ERANGE,
                                     QStringLiteral("Extended attribute name %1 is longer than %2 bytes, so it cannot be %3 on %4")
                                         .arg(name).arg(MaxNameBytes).arg(doing, path)});
    return full;
}

} // namespace

QByteArray XAttr::systemName(const QString& name)
{
    return UserPrefix + name.toUtf8();
}

Result<QByteArray> XAttr::get(const QString& path, const QString& name)
{
    const auto full = checkedName(path, name, QStringLiteral("read"));
    if (!full)
        return std::unexpected(full.error());
    QByteArray value;
    if (const int err = backend()->get(QFile::encodeName(path), *full, &value))
        return xattrError(err, path, name, QStringLiteral("read"));
    return value;
}

Result<void> XAttr::set(const QString& path, const QString& name, const QByteArray& value)
{
    const auto full = checkedName(path, name, QStringLiteral("stored"));
    if (!full)
        return std::unexpected(full.error());
    if (const int err = backend()->set(QFile::encodeName(path), *full, value))
        return xattrError(err, path, name, QStringLiteral("stored"), value.size());
    return {};
}

Result<void> XAttr::remove(const QString& path, const QString& name)
{
    const auto full = checkedName(path, name, QStringLiteral("removed"));
    if (!full)
        return std::unexpected(full.error());
    if (const int err = backend()->remove(QFile::encodeName(path), *full))
        return xattrError(err, path, name, QStringLiteral("removed"));
    return {};
}

Result<QStringList> XAttr::list(const QString& path)
{
    QList<QByteArray> raw;
    if (const int err = backend()->list(QFile::encodeName(path), &raw))
        return xattrError(err, path, QStringLiteral("names"), QStringLiteral("listed"));
    QStringList names;
    for (const QByteArray& full : raw) {
        if (full.startsWith(UserPrefix) && full.size() > UserPrefix.size())
            names.append(QString::fromUtf8(full.mid(UserPrefix.size())));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool XAttr::isNotSupported(const Error& error)
{
    return error.domain == QLatin1String("XAttr") && (error.code == ENOTSUP || error.code == EOPNOTSUPP);
}

bool XAttr::isMissing(const Error& error)
{
    return error.domain == QLatin1String("XAttr") && error.code == ENODATA;
}

bool XAttr::isTooLarge(const Error& error)
{
    return error.domain == QLatin1String("XAttr") && (error.code == E2BIG || error.code == ENOSPC || error.code == ERANGE);
}

std::shared_ptr<XAttrBackend> XAttr::setBackend(std::shared_ptr<XAttrBackend> replacement)
{
    std::lock_guard lock(g_backendMutex);
    auto previous = g_backend ? g_backend : std::make_shared<SystemXAttrBackend>();
    g_backend = std::move(replacement);
    return previous;
}

} // namespace platform

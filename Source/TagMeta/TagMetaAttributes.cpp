#include "TagMeta/TagMetaAttributes.h"

#include "Platform/Foundation/XAttr.h"

namespace {

int errnoOf(const platform::Error& error)
{
    // XAttr keeps the errno as its code; anything else is an I/O failure to the caller.
    return error.code > 0 ? error.code : EIO;
}

} // namespace

std::expected<QByteArray, int> TagMetaAttributes::get(const QString& path, const QString& name, qsizetype maxSize)
{
    auto value = platform::XAttr::get(path, name);
    if (!value)
        return std::unexpected(errnoOf(value.error()));
    if (value->size() > maxSize)
        return std::unexpected(ERANGE);
    return *value;
}

int TagMetaAttributes::set(const QString& path, const QString& name, const QByteArray& value)
{
    const auto result = platform::XAttr::set(path, name, value);
    return result ? 0 : errnoOf(result.error());
}

int TagMetaAttributes::remove(const QString& path, const QString& name)
{
    const auto result = platform::XAttr::remove(path, name);
    return result ? 0 : errnoOf(result.error());
}

std::expected<QStringList, int> TagMetaAttributes::list(const QString& path)
{
    auto names = platform::XAttr::list(path);
    if (!names)
        return std::unexpected(errnoOf(names.error()));
    return *names;
}

bool TagMetaAttributes::has(const QString& path, const QString& name)
{
    return platform::XAttr::get(path, name).has_value();
}

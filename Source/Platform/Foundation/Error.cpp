#include "Platform/Foundation/Error.h"

#include <cstring>

namespace platform {

Error Error::posix(int err, const QString& what)
{
    return Error{QStringLiteral("POSIX"), err,
                 QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(err)))};
}

} // namespace platform

// The error value every fallible call returns (never thrown): a domain word, a small code and
// a readable message. Results are std::expected<T, Error>.
#pragma once

#include <QString>
#include <expected>

namespace platform {

struct Error {
    QString domain;
    int code = 0;
    QString message;

    // "domain (code): message", the form written to the log.
    QString toString() const
    {
        return QStringLiteral("%1 (%2): %3").arg(domain).arg(code).arg(message);
    }

    // An error in the POSIX domain for errno value err, with what was being done.
    static Error posix(int err, const QString& what);
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(const QString& domain, int code, const QString& message)
{
    return std::unexpected<Error>(Error{domain, code, message});
}

} // namespace platform

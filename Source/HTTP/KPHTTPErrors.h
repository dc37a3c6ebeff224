// The error domain and codes of the HTTP client, shared by the request, its body and download
// files, the compressors and the cache.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>

namespace kphttp {

inline const QString ErrorDomain = QStringLiteral("KPHTTPRequestErrorDomain");

enum ErrorType {
    ConnectionFailureErrorType = 1,
    RequestTimedOutErrorType = 2,
    AuthenticationErrorType = 3,
    RequestCancelledErrorType = 4,
    UnableToCreateRequestErrorType = 5,
    InternalErrorWhileBuildingRequestType = 6,
    InternalErrorWhileApplyingCredentialsType = 7,
    FileManagementError = 8,
    TooMuchRedirectionErrorType = 9,
    UnhandledExceptionError = 10,
    CompressionError = 11,
    // A body kept in memory grew past the request's maxResponseBodySize.
    ResponseTooLargeErrorType = 12,
};

inline platform::Error error(int code, const QString& message)
{
    return platform::Error{ErrorDomain, code, message};
}

} // namespace kphttp

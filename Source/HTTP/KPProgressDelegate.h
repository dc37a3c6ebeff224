// Receivers of a request's progress. Every message is optional: an empty function means the
// receiver does not answer it. Requests hold receivers weakly and look again on the main thread
// before each message, so a receiver gone or cleared by then hears nothing.
#pragma once

#include <QtGlobal>
#include <functional>

class KPHTTPRequest;

struct KPProgressDelegate {
    std::function<void(double)> setDoubleValue;
    std::function<void(double)> setMaxValue;
    std::function<void(KPHTTPRequest&, qint64)> didReceiveBytes;
    std::function<void(KPHTTPRequest&, qint64)> didSendBytes;
    std::function<void(KPHTTPRequest&, qint64)> incrementDownloadSizeBy;
    std::function<void(KPHTTPRequest&, qint64)> incrementUploadSizeBy;
};

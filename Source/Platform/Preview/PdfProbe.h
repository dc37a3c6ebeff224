// Whether the preview's PDF library can open a file, asked of a helper process
// (folivo-pdfcheck, installed beside the program) that is killed when it does not answer in
// time. That library never returns on some hostile files (a page tree that lists itself) and
// then holds its process-wide lock for good: asked in-process, one such file would hang the
// reader, every PDF preview after it and the quit that waits for the reader.
//
// check() blocks its (worker) thread until the helper ends, the deadline passes, the caller's
// cancelled() says so, or cancelAll() is called (at quit); the helper is killed in the last
// three cases. Threads: any; cancelAll() from any thread.
#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <functional>

namespace platform {

class PdfProbe {
public:
    enum class Outcome { Readable, Protected, Damaged, TimedOut, Cancelled, Unavailable };

    // Tuning: a healthy PDF opens in well under a second; a slow disk gets some margin.
    static constexpr int kTimeoutMs = 10000;

    static Outcome check(const QString& path, QDeadlineTimer deadline,
                         const std::function<bool()>& cancelled = {});
    // Kills the helpers running now and those started from now on answer Cancelled.
    static void cancelAll();

    // The helper's path: beside the running program unless set (empty: back to that).
    static QString helperPath();
    static void setHelperPathForTesting(const QString& path);
};

} // namespace platform

// Opening files that a library or a watched folder holds, which anyone may have replaced: a FIFO,
// a device or a socket at a document's or a thumbnail's path would block its reader for good
// (opening a FIFO waits for a writer, reading it waits for data), and a file of gigabytes would
// exhaust memory. Only a regular file within the caller's cap opens: the path is opened
// non-blocking (a FIFO then opens at once), the descriptor itself is checked with fstat (so a
// swap after a check cannot slip through), and reads are made blocking again.
//
// Errors are in the POSIX domain: the open's own (ENOENT, EACCES…), ENODEV for what is no regular
// file, EFBIG for a file over the cap. Stateless; callable from any thread.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>

namespace platform {

class RegularFile {
public:
    // Closes the descriptor itself when the file goes: closed inside Qt, which the thread
    // sanitizer does not watch, the number's next owner on another thread would look like a race.
    struct Closer {
        void operator()(QFile* file) const;
    };
    using File = std::unique_ptr<QFile, Closer>;

    // A read-only QFile over the regular file at path, at most maxBytes long; it owns the
    // descriptor.
    static Result<File> open(const QString& path, qint64 maxBytes);
    // The whole file, through open().
    static Result<QByteArray> readAll(const QString& path, qint64 maxBytes);
    // The size of the regular file at path when open() would take it; for readers that must be
    // handed a path (a library that opens the file itself).
    static Result<qint64> check(const QString& path, qint64 maxBytes);
};

} // namespace platform

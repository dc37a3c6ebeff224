// An in-memory stand-in for the file system's extended attributes, for tests: attributes live
// in a table keyed by path (the file itself must exist, as on disk), and the limits that decide
// the edge cases are set by the test: the largest value accepted, and the error a refusing file
// system gives. As on disk, a change moves the file's status-change time. Thread-safe (one
// mutex).
#pragma once

#include "Platform/Foundation/XAttrBackend.h"

#include <QHash>
#include <QMap>
#include <mutex>

namespace platform {

class FakeXAttrBackend : public XAttrBackend {
public:
    // Values larger than maxValueSize are refused with tooLargeError (ENOSPC as a full inode
    // gives, or E2BIG as the kernel's own limit gives). Negative: no limit.
    void setMaxValueSize(qsizetype maxValueSize, int tooLargeError);
    // When not 0, every call fails with this error (ENOTSUP: a file system without user
    // attributes).
    void setFailure(int error);
    // Names set through this backend, per path, for inspection.
    QMap<QByteArray, QByteArray> attributes(const QByteArray& path) const;

    int get(const QByteArray& path, const QByteArray& name, QByteArray* value) override;
    int set(const QByteArray& path, const QByteArray& name, const QByteArray& value) override;
    int remove(const QByteArray& path, const QByteArray& name) override;
    int list(const QByteArray& path, QList<QByteArray>* names) override;

private:
    int check(const QByteArray& path) const;
    static void touch(const QByteArray& path);

    mutable std::mutex m_mutex;
    QHash<QByteArray, QMap<QByteArray, QByteArray>> m_values;
    qsizetype m_maxValueSize = -1;
    int m_tooLargeError = 0;
    int m_failure = 0;
};

} // namespace platform

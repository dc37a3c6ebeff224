// The raw extended-attribute calls behind XAttr, so that tests can swap the file system for a
// fake with chosen limits. Names here are the system names ("user.…"), paths are native bytes,
// and every call answers 0 or an errno value; XAttr turns those into readable errors.
#pragma once

#include <QByteArray>
#include <QList>

namespace platform {

class XAttrBackend {
public:
    virtual ~XAttrBackend() = default;

    // None of these follow a symbolic link at path.
    virtual int get(const QByteArray& path, const QByteArray& name, QByteArray* value) = 0;
    virtual int set(const QByteArray& path, const QByteArray& name, const QByteArray& value) = 0;
    virtual int remove(const QByteArray& path, const QByteArray& name) = 0;
    // Every attribute name of the item, in any namespace.
    virtual int list(const QByteArray& path, QList<QByteArray>* names) = 0;
};

} // namespace platform

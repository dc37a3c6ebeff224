// Extended attributes of files, as the program's tags, ratings and Finder data use them.
//
// The program's attribute names ("com.apple.metadata:_kMDItemUserTags") are those its tagged
// files already carry, so they stay; Linux only lets ordinary users write the "user." namespace, so every name is stored as
// "user." + name and listed back without the prefix (attributes of other namespaces are not
// shown). Links are never followed. Failures keep their errno as the code (domain "XAttr")
// with a message that says what went wrong in words: a file system that refuses user
// attributes, a missing attribute, a value too large. The calls go through a replaceable
// backend so tests can run against an in-memory fake with chosen limits.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

namespace platform {

class XAttrBackend;

class XAttr {
public:
    static Result<QByteArray> get(const QString& path, const QString& name);
    static Result<void> set(const QString& path, const QString& name, const QByteArray& value);
    static Result<void> remove(const QString& path, const QString& name);
    // The item's attribute names without the "user." prefix, sorted.
    static Result<QStringList> list(const QString& path);

    // "user." + name, as stored.
    static QByteArray systemName(const QString& name);

    // Kinds of failure callers act on.
    static bool isNotSupported(const Error& error); // the file system refuses user attributes
    static bool isMissing(const Error& error);      // no such attribute
    static bool isTooLarge(const Error& error);     // value (or name) over the file system's limit

    // Replaces the backend for every later call (tests); nullptr restores the real one.
    // Answers the backend that was in use.
    static std::shared_ptr<XAttrBackend> setBackend(std::shared_ptr<XAttrBackend> backend);
};

} // namespace platform

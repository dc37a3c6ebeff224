// The raw attribute calls of the TagMeta layer, answering plain errno values so that the
// TagMeta error rules (which errno means "absent", which goes to the caller) stay in one place.
// Names are the TagMeta names; the "user." mapping and the backend are XAttr's.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <expected>
#include <optional>

class TagMetaAttributes {
public:
    // What the kernel answers for an attribute the file does not have.
    static constexpr int kNoAttribute = ENODATA;

    // The value, or the errno; a value larger than maxSize fails with ERANGE, as a read into a
    // buffer of that size would.
    static std::expected<QByteArray, int> get(const QString& path, const QString& name, qsizetype maxSize);
    static int set(const QString& path, const QString& name, const QByteArray& value);
    static int remove(const QString& path, const QString& name);
    static std::expected<QStringList, int> list(const QString& path);
    // Whether the attribute is there at all, whatever it holds.
    static bool has(const QString& path, const QString& name);

    TagMetaAttributes() = delete;
};

// A record that finds a file again after it was moved or renamed within its folder, kept in a
// backup's "bu_alias".
//
// It holds the file's device, inode, birth time, size and path. A file "matches" when device
// and inode agree and, so that a recycled inode is not mistaken for the old file, the birth
// times agree (or, where the file system records none, the sizes do). Resolution tries the
// recorded path and then the recorded folder; a system-wide look-up by inode would need
// privileges a desktop program does not have.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class TagMetaAlias {
public:
    // The record of the item at path (a link itself, not its target); nothing when it is gone.
    static std::optional<TagMetaAlias> forPath(const QString& path);
    // Nothing for missing or damaged data.
    static std::optional<TagMetaAlias> fromData(const QByteArray& data);
    QByteArray toData() const;

    bool matchesFile(const QString& path) const;
    // The path the file has now, or an empty string when it cannot be found.
    QString resolve() const;

    quint64 device = 0;
    quint64 inode = 0;
    qint64 birthTimeNs = 0; // 0: the file system records none
    qint64 size = 0;
    QString path;
};

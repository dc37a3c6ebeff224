// The "key file" text format shared by desktop entries, mimeapps.list, ".directory" and
// ".trashinfo" files: "[Group]" headers, "Key=Value" lines, "#" comments.
//
// Reading is lenient (a bad line is skipped, as every desktop does) but lossless enough to
// write a file back: groups, keys and comment lines keep their order, so updating one key of a
// ".directory" file another program also writes keeps that program's settings. Values are
// stored raw; unescape() and splitList() apply the format's escapes where a key wants them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

class KeyFile {
public:
    struct Line {
        QString key;   // empty for a comment or blank line kept as text
        QString value; // raw, escapes not applied; the whole text for a comment line
    };
    struct Group {
        QString name;
        QList<Line> lines;
    };

    static KeyFile parse(const QByteArray& data);

    // The raw value of key in group; a null QString when absent. A repeated key: the first.
    QString value(const QString& group, const QString& key) const;
    bool hasGroup(const QString& group) const;
    // Every key of a group in file order (comments left out).
    QList<Line> entries(const QString& group) const;
    QStringList groupNames() const;

    // Sets (or adds) the raw value of key, adding the group at the end when missing.
    void setValue(const QString& group, const QString& key, const QString& rawValue);
    QByteArray serialize() const;

    // "\s" "\n" "\t" "\r" "\\" of string values; an unknown escape keeps its backslash.
    static QString unescape(const QString& raw);
    // The reverse, for writing a value that may hold any character.
    static QString escape(const QString& text);
    // A ";"-separated list ("\;" is a literal semicolon); each item unescaped, empty ones dropped.
    static QStringList splitList(const QString& raw);

private:
    QList<Line> m_leading; // comments before the first group
    QList<Group> m_groups;
};

} // namespace platform

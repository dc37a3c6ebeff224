#include "Platform/Workspace/KeyFile.h"

namespace platform {

KeyFile KeyFile::parse(const QByteArray& data)
{
    KeyFile file;
    Group* current = nullptr;
    const QString text = QString::fromUtf8(data);
    // The newline that ends the last line starts no line of its own; kept, it would come back as
    // one more blank line each time the file is written.
    QStringView all(text);
    if (all.isEmpty())
        return file;
    if (all.endsWith(QLatin1Char('\n')))
        all.chop(1);
    for (QStringView line : all.split(QLatin1Char('\n'))) {
        // Every carriage return that ends the line goes: with one kept, a comment or blank line
        // "\r\r" would be written back as "\r" and read the next time as empty.
        while (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) {
            Line kept{QString(), line.toString()};
            (current ? current->lines : file.m_leading).append(kept);
            continue;
        }
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'))) {
            file.m_groups.append(Group{trimmed.mid(1, trimmed.size() - 2).toString(), {}});
            current = &file.m_groups.last();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || !current)
            continue; // not a key line, or a key outside any group: ignored as desktops do
        const QStringView key = line.left(eq).trimmed();
        // A key of only blanks is no key: ignored like the lines above. Kept, its empty name
        // would mark it as a text line, and its value alone would be written back in its place.
        if (key.isEmpty())
            continue;
        current->lines.append(Line{key.toString(), line.mid(eq + 1).trimmed().toString()});
    }
    return file;
}

QString KeyFile::value(const QString& group, const QString& key) const
{
    for (const Group& g : m_groups) {
        if (g.name != group)
            continue;
        for (const Line& l : g.lines)
            if (l.key == key)
                return l.value.isNull() ? QStringLiteral("") : l.value;
        return QString(); // the first group of a name wins, as with keys
    }
    return QString();
}

bool KeyFile::hasGroup(const QString& group) const
{
    for (const Group& g : m_groups)
        if (g.name == group)
            return true;
    return false;
}

QList<KeyFile::Line> KeyFile::entries(const QString& group) const
{
    QList<Line> result;
    for (const Group& g : m_groups) {
        if (g.name != group)
            continue;
        for (const Line& l : g.lines)
            if (!l.key.isEmpty())
                result.append(l);
        break;
    }
    return result;
}

QStringList KeyFile::groupNames() const
{
    QStringList names;
    for (const Group& g : m_groups)
        names.append(g.name);
    return names;
}

void KeyFile::setValue(const QString& group, const QString& key, const QString& rawValue)
{
    for (Group& g : m_groups) {
        if (g.name != group)
            continue;
        for (Line& l : g.lines) {
            if (l.key == key) {
                l.value = rawValue;
                return;
            }
        }
        // New keys go after the group's last key, ahead of trailing blank lines.
        qsizetype at = g.lines.size();
        while (at > 0 && g.lines[at - 1].key.isEmpty())
            --at;
        g.lines.insert(at, Line{key, rawValue});
        return;
    }
    m_groups.append(Group{group, {Line{key, rawValue}}});
}

QByteArray KeyFile::serialize() const
{
    QString out;
    for (const Line& l : m_leading)
        out += l.value + QLatin1Char('\n');
    for (const Group& g : m_groups) {
        out += QLatin1Char('[') + g.name + QLatin1String("]\n");
        for (const Line& l : g.lines)
            out += (l.key.isEmpty() ? l.value : l.key + QLatin1Char('=') + l.value) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QString KeyFile::unescape(const QString& raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar n = raw[++i];
        switch (n.unicode()) {
        case 's': out += QLatin1Char(' '); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case '\\': out += QLatin1Char('\\'); break;
        default: out += QLatin1Char('\\'); out += n; break;
        }
    }
    return out;
}

QString KeyFile::escape(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case ' ': out += QLatin1String("\\s"); break; // readers trim plain edge spaces
        default: out += c; break;
        }
    }
    return out;
}

QStringList KeyFile::splitList(const QString& raw)
{
    QStringList items;
    QString item;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c == QLatin1Char('\\') && i + 1 < raw.size()) {
            if (raw[i + 1] == QLatin1Char(';')) {
                item += QLatin1Char(';');
            } else {
                item += c;
                item += raw[i + 1];
            }
            ++i;
        } else if (c == QLatin1Char(';')) {
            if (!item.isEmpty())
                items.append(unescape(item));
            item.clear();
        } else {
            item += c;
        }
    }
    if (!item.isEmpty())
        items.append(unescape(item));
    return items;
}

} // namespace platform

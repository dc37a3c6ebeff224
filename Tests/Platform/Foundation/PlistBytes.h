// Hand-built binary property lists, so that tests can make what no writer would: shared
// references that fan out, self-references, bad offsets, odd widths and odd objects.
#pragma once

#include <QByteArray>
#include <QList>

namespace plisttest {

inline QByteArray bigEndian(quint64 v, int width)
{
    QByteArray b(width, '\0');
    for (int i = width - 1; i >= 0; --i, v >>= 8)
        b[i] = char(v & 0xFF);
    return b;
}

struct Layout {
    int offsetSize = 2;
    int refSize = 1;
    quint64 top = 0;
    // Offsets of further objects, pointing wherever the test likes (into another object, …).
    QList<quint64> extraOffsets = {};
};

// The objects laid end to end after the header, then the offset table and the trailer.
inline QByteArray binaryPlist(const QList<QByteArray>& objects, const Layout& layout = {})
{
    QByteArray out("bplist00");
    QList<quint64> offsets;
    for (const QByteArray& o : objects) {
        offsets.append(quint64(out.size()));
        out += o;
    }
    offsets += layout.extraOffsets;
    const quint64 tableAt = quint64(out.size());
    for (quint64 off : offsets)
        out += bigEndian(off, layout.offsetSize);
    out += QByteArray(6, '\0');
    out += char(layout.offsetSize);
    out += char(layout.refSize);
    out += bigEndian(quint64(offsets.size()), 8);
    out += bigEndian(layout.top, 8);
    out += bigEndian(tableAt, 8);
    return out;
}

// An ASCII string object of up to 14 characters.
inline QByteArray ascii(const QByteArray& s)
{
    return char(0x50 | s.size()) + s;
}

// A one-byte integer object.
inline QByteArray smallInt(int v)
{
    return QByteArray(1, '\x10') + char(v);
}

// An array or dictionary (type 0xA or 0xD) of one-byte references, up to 14 of them (or pairs).
inline QByteArray container(int type, const QList<int>& refs)
{
    QByteArray o(1, char((type << 4) | (type == 0xD ? refs.size() / 2 : refs.size())));
    for (int r : refs)
        o += char(r);
    return o;
}

} // namespace plisttest

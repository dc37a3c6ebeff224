#include "Platform/Metadata/MailAddresses.h"

#include "Platform/Content/MailText.h"

namespace platform {

namespace {

// Tuning: comments nest, but no mailer nests them this deep; deeper ones are read as text.
constexpr int kMaxCommentDepth = 32;

bool isFoldingSpace(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView withoutCarriageReturn(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// One mailbox being read: the words before an angle address (or the whole bare address), the
// address inside the angle brackets, and the last comment (the old form's name).
struct Pending {
    QByteArray phrase;
    QByteArray angle;
    QByteArray comment;
    bool hasAngle = false;

    bool isEmpty() const { return phrase.trimmed().isEmpty() && !hasAngle; }
};

QString decodeName(const QByteArray& raw)
{
    return MailText::decodeHeader(raw.trimmed());
}

void finish(Pending& pending, QList<MailAddresses::Mailbox>& out)
{
    if (!pending.isEmpty()) {
        MailAddresses::Mailbox box;
        if (pending.hasAngle) {
            box.name = decodeName(pending.phrase);
            box.address = QString::fromUtf8(pending.angle.trimmed());
            // A source route ("<@relay:user@host>") is not part of the address.
            if (box.address.startsWith(u'@') && box.address.contains(u':'))
                box.address = box.address.mid(box.address.indexOf(u':') + 1);
        } else {
            box.address = QString::fromUtf8(pending.phrase.simplified());
            box.name = decodeName(pending.comment);
        }
        if (!box.name.isEmpty() || !box.address.isEmpty())
            out.append(box);
    }
    pending = Pending();
}

} // namespace

std::optional<QByteArray> MailAddresses::headerField(QByteArrayView message, QByteArrayView name)
{
    std::optional<QByteArray> found;
    qsizetype pos = 0;
    while (pos < message.size()) {
        const qsizetype end = message.indexOf('\n', pos);
        const qsizetype lineEnd = end < 0 ? message.size() : end;
        const QByteArrayView line = withoutCarriageReturn(message.sliced(pos, lineEnd - pos));
        pos = lineEnd + 1;
        if (line.isEmpty())
            break; // the end of the header block
        if (isFoldingSpace(line.front())) {
            if (found)
                found->append(line);
            continue;
        }
        if (found)
            break; // the field ended with the previous line
        const qsizetype colon = line.indexOf(':');
        // Lines without a colon (an mbox "From " separator) are not fields.
        if (colon <= 0)
            continue;
        if (line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            found = line.sliced(colon + 1).toByteArray();
    }
    if (found)
        *found = found->trimmed();
    return found;
}

QList<MailAddresses::Mailbox> MailAddresses::parse(QByteArrayView value)
{
    QList<Mailbox> out;
    Pending pending;
    qsizetype i = 0;
    const qsizetype n = value.size();
    while (i < n) {
        const char c = value[i];
        if (c == '"') {
            // A quoted name: separators inside it are text; a backslash quotes the next byte.
            ++i;
            while (i < n && value[i] != '"') {
                if (value[i] == '\\' && i + 1 < n)
                    ++i;
                pending.phrase.append(value[i]);
                ++i;
            }
            ++i;
            continue;
        }
        if (c == '(') {
            int depth = 1;
            QByteArray comment;
            ++i;
            while (i < n && depth > 0) {
                const char d = value[i];
                if (d == '\\' && i + 1 < n) {
                    comment.append(value[i + 1]);
                    i += 2;
                    continue;
                }
                if (d == '(' && depth < kMaxCommentDepth)
                    ++depth;
                else if (d == ')')
                    --depth;
                if (depth > 0)
                    comment.append(d);
                ++i;
            }
            pending.comment = comment;
            pending.phrase.append(' ');
            continue;
        }
        if (c == '<') {
            const qsizetype close = value.indexOf('>', i + 1);
            const qsizetype stop = close < 0 ? n : close;
            pending.angle = value.sliced(i + 1, stop - i - 1).toByteArray();
            pending.hasAngle = true;
            i = stop + 1;
            continue;
        }
        if (c == ':' && !pending.hasAngle) {
            // A group: what came before is its name, not a mailbox.
            pending = Pending();
            ++i;
            continue;
        }
        if (c == ',' || c == ';') {
            finish(pending, out);
            ++i;
            continue;
        }
        pending.phrase.append(c == '\r' || c == '\n' || c == '\t' ? ' ' : c);
        ++i;
    }
    finish(pending, out);
    return out;
}

QStringList MailAddresses::senderNames(QByteArrayView value)
{
    QStringList names;
    for (const Mailbox& box : parse(value))
        names.append(box.name.isEmpty() ? box.address : box.name);
    return names;
}

} // namespace platform

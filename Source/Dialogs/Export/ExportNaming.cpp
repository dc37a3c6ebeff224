#include "Dialogs/Export/ExportNaming.h"

#include "Platform/Foundation/FileManager.h"

namespace ExportNaming {

namespace {

// The longest prefix of text whose UTF-8 form fits in maxBytes, never splitting a surrogate
// pair.
QString cutToBytes(const QString& text, int maxBytes)
{
    if (text.toUtf8().size() <= maxBytes)
        return text;
    int bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = text.at(end).isHighSurrogate() && end + 1 < text.size() && text.at(end + 1).isLowSurrogate();
        const qsizetype len = pair ? 2 : 1;
        const int size = int(text.mid(end, len).toUtf8().size());
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        end += len;
    }
    return text.left(end);
}

QString replaceUnsafe(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        out.append(u == u'/' || u < 0x20 || u == 0x7F ? QChar(u'-') : c);
    }
    return out;
}

} // namespace

QString sanitizedComponent(const QString& title)
{
    // Leading dots go as they do for a name placed into the library: a hidden file or folder
    // is one the user does not see in the export (and "." and ".." are nothing but dots).
    return cutToBytes(platform::FileManager::usableFileName(replaceUnsafe(title), QStringLiteral("_")), kMaxBaseBytes);
}

QString sanitizedExtension(const QString& extension)
{
    return cutToBytes(replaceUnsafe(extension), kMaxExtensionBytes);
}

QString numberedFileName(const QString& base, const QString& ext, int number)
{
    QString name = number <= 1 ? base : QStringLiteral("%1_%2").arg(base, QString::number(number));
    if (!ext.isEmpty())
        name += QLatin1Char('.') + ext;
    return name;
}

QString numberedPath(const QString& path, int number)
{
    return number <= 1 ? path : QStringLiteral("%1_%2").arg(path, QString::number(number));
}

} // namespace ExportNaming

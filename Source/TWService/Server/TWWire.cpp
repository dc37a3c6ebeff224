#include "TWService/Server/TWWire.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/KeyedUnarchiver.h"

#include <QtEndian>

namespace TWWire {

QByteArray u32(quint32 value)
{
    QByteArray out(4, Qt::Uninitialized);
    qToLittleEndian(value, out.data());
    return out;
}

QByteArray i64(qint64 value)
{
    QByteArray out(8, Qt::Uninitialized);
    qToLittleEndian(value, out.data());
    return out;
}

std::optional<quint32> readU32(const QByteArray& bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    return qFromLittleEndian<quint32>(bytes.constData());
}

std::optional<qint64> readI64(const QByteArray& bytes)
{
    if (bytes.size() < 8)
        return std::nullopt;
    return qFromLittleEndian<qint64>(bytes.constData());
}

platform::Result<QByteArray> frameBody(const QVariantMap& body)
{
    auto archive = platform::KeyedArchiver::archivedData(body);
    if (!archive)
        return std::unexpected(archive.error());
    if (archive->isEmpty() || archive->size() > qsizetype(kMaxBodyLength))
        return platform::fail(QStringLiteral("TWWire"), 0, QStringLiteral("request body of %1 bytes").arg(archive->size()));
    return u32(quint32(archive->size())) + *archive;
}

platform::Result<QVariantMap> decodeBody(const QByteArray& archive)
{
    if (archive.size() > qsizetype(kMaxBodyLength))
        return platform::fail(QStringLiteral("TWWire"), 0, QStringLiteral("request body too long"));
    auto value = platform::KeyedUnarchiver::unarchiveObject(archive);
    if (!value)
        return std::unexpected(value.error());
    if (value->typeId() != QMetaType::QVariantMap)
        return platform::fail(QStringLiteral("TWWire"), 0, QStringLiteral("the body is not a dictionary"));
    return value->toMap();
}

QString cutToBytes(const QString& text, int maxBytes)
{
    if (text.toUtf8().size() <= maxBytes)
        return text;
    QString out;
    int used = 0;
    for (qsizetype i = 0; i < text.size();) {
        // A surrogate pair is one character: never split it.
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString piece = text.mid(i, len);
        const int bytes = int(piece.toUtf8().size());
        if (used + bytes > maxBytes)
            break;
        out += piece;
        used += bytes;
        i += len;
    }
    return out;
}

namespace {

// The peer's name as the library may keep it: never hidden, never one of the program's working
// names that a clean-up removes (those all start with a dot), so the document stays visible and stored.
QString safeName(const QString& raw)
{
    QString name;
    name.reserve(raw.size());
    for (QChar c : raw) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            name += QLatin1Char('_');
        else
            name += c;
    }
    return platform::FileManager::usableFileName(name);
}

QString withoutControls(const QString& raw)
{
    QString out;
    for (QChar c : raw) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            out += c;
    }
    return out;
}

} // namespace

std::optional<TWUploadFileInfo> TWUploadFileInfo::fromDictionary(const QVariantMap& d)
{
    const QVariant size = d.value(QStringLiteral("Size"));
    if (!size.isValid())
        return std::nullopt;
    bool ok = false;
    TWUploadFileInfo info;
    info.size = size.toLongLong(&ok);
    if (!ok)
        return std::nullopt;

    QString extention;
    for (QChar c : d.value(QStringLiteral("Extention")).toString()) {
        if (c != QLatin1Char('/') && c != QLatin1Char('.') && c != QLatin1Char('\\') && c.unicode() >= 0x20
            && c.unicode() != 0x7F)
            extention += c;
    }
    info.extention = cutToBytes(extention, 32);
    const int room = 255 - (info.extention.isEmpty() ? 0 : int(info.extention.toUtf8().size()) + 1);
    info.name = cutToBytes(safeName(d.value(QStringLiteral("Name")).toString()), room);
    if (info.name.isEmpty())
        info.name = QStringLiteral("Untitled");
    info.from = cutToBytes(withoutControls(d.value(QStringLiteral("From")).toString()), 255);

    const QString tags = d.value(QStringLiteral("Tags")).toString();
    // Joined with ", " by the sender, but written by hand too: a comma alone also parts them.
    for (const QString& raw : tags.split(QLatin1Char(','))) {
        const QString tag = cutToBytes(withoutControls(raw).trimmed(), 255);
        if (!tag.isEmpty() && !info.tags.contains(tag))
            info.tags << tag;
        if (info.tags.size() == 64)
            break;
    }
    if (d.contains(QStringLiteral("IsFolder")))
        info.isFolder = d.value(QStringLiteral("IsFolder")).toBool();
    return info;
}

QString TWUploadFileInfo::fileName() const
{
    return extention.isEmpty() ? name : name + QLatin1Char('.') + extention;
}

} // namespace TWWire

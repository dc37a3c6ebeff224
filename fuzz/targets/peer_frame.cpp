// A peer's request as the server reads it: request type, body length, the archived body and, for
// an upload, the upload record. A length beyond the bound is refused before anything is read; a
// record that is accepted must be safe to use as a file name and as tags.
#include "FuzzSupport.h"

#include "TWService/Server/TWWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using namespace TWWire;
    const QByteArray bytes = fuzz::bytes(data, size);
    const auto type = readU32(bytes);
    const auto length = readU32(bytes.mid(4));
    if (!type || !length || *length > kMaxBodyLength)
        return 0;
    const QByteArray archive = bytes.mid(8, *length);
    if (archive.size() < qsizetype(*length))
        return 0; // the body never arrived whole
    const auto body = decodeBody(archive);
    if (!body || *type != TWRequestTypeFileUpload)
        return 0;
    const auto info = TWUploadFileInfo::fromDictionary(*body);
    if (!info)
        return 0;
    const QString name = info->fileName();
    if (name.toUtf8().size() > 255 || name.contains(QLatin1Char('/')) || name.contains(QChar(0))
        || name == QLatin1String(".") || name == QLatin1String("..") || name.isEmpty())
        fuzz::fail("an unsafe file name from a peer", fuzz::printable(name));
    if (info->extention.contains(QLatin1Char('.')) || info->extention.toUtf8().size() > 32)
        fuzz::fail("an unsafe extension from a peer", fuzz::printable(info->extention));
    if (info->tags.size() > 64 || info->from.toUtf8().size() > 255)
        fuzz::fail("unbounded tags or sender from a peer");
    for (const QString& tag : info->tags) {
        if (tag.isEmpty() || tag.toUtf8().size() > 255)
            fuzz::fail("an empty or oversized tag from a peer", fuzz::printable(tag));
        for (QChar c : tag) {
            if (c.unicode() < 0x20)
                fuzz::fail("a control character in a tag from a peer", fuzz::printable(tag));
        }
    }
    return 0;
}

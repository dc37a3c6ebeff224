// A pairing request as the listener reads it: a bounded length word, then the archive. What is
// accepted must be bounded, free of control characters, and its code must be the number the
// text says.
#include "FuzzSupport.h"

#include "TWService/Mobile/TWMatchWire.h"
#include "TWService/Server/TWWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using namespace TWMatchWire;
    const QByteArray bytes = fuzz::bytes(data, size);
    const auto length = TWWire::readU32(bytes);
    if (!length || *length == 0 || *length > kMaxRequestLength)
        return 0;
    const QByteArray archive = bytes.mid(4, *length);
    if (archive.size() < qsizetype(*length))
        return 0;
    const auto request = TWMatchRequest::fromArchive(archive);
    if (!request)
        return 0;
    for (const QString& text : {request->name, request->guid}) {
        if (text.toUtf8().size() > kMaxTextBytes)
            fuzz::fail("an unbounded name from a pairing device", fuzz::printable(text));
        for (QChar c : text) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                fuzz::fail("a control character from a pairing device", fuzz::printable(text));
        }
    }
    if (request->code) {
        const QString text = QString::number(*request->code);
        if (parseCode(text) != request->code)
            fuzz::fail("a code that does not read back", text);
    }
    return 0;
}

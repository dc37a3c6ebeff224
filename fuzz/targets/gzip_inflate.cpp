// Compressed response bodies: inflated whole and piece by piece, the two must agree, and the
// output stays within what deflate can make of the input.
#include "FuzzSupport.h"

#include "HTTP/KPDataDecompressor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QByteArray input = fuzz::bytes(data, size);
    const auto whole = KPDataDecompressor::uncompressData(input);
    if (whole && whole->size() > input.size() * 1100 + 4096)
        fuzz::fail("more output than deflate can make");

    auto d = KPDataDecompressor::decompressor();
    QByteArray pieces;
    bool ok = true;
    for (qsizetype at = 0; at < input.size() && ok; at += 13) {
        auto out = d->uncompressBytes(input.constData() + at, std::min<qsizetype>(13, input.size() - at));
        ok = bool(out);
        if (out)
            pieces += *out;
    }
    if (whole && ok && d->streamEnded() && pieces != *whole)
        fuzz::fail("piece by piece differs from whole");
    return 0;
}

// Compressed response bodies: inflated whole and piece by piece, the two must agree, and the
// output stays within what deflate can make of the input. The output limit is tried at its
// edge on every input that inflates: a limit of exactly the output's size lets it through
// unchanged, one byte less refuses it as over the limit, whole and piece by piece (a piece's
// limit is per call: the largest piece's output passes, one byte less does not).
#include "FuzzSupport.h"

#include "HTTP/KPDataDecompressor.h"

#include <algorithm>

namespace {

constexpr qsizetype kPiece = 13;

struct Pieces {
    QByteArray output;
    qsizetype largest = 0; // the most one call gave out
    bool ok = true;
    bool limitReached = false;
    bool ended = false;
};

Pieces inflatePieces(const QByteArray& input, qsizetype limitPerCall)
{
    Pieces result;
    auto d = KPDataDecompressor::decompressor();
    if (!d) {
        fuzz::abortRun("no zlib stream");
    }
    for (qsizetype at = 0; at < input.size() && result.ok; at += kPiece) {
        auto out = d->uncompressBytes(input.constData() + at, std::min(kPiece, input.size() - at), limitPerCall);
        result.ok = bool(out);
        if (out) {
            result.output += *out;
            result.largest = std::max(result.largest, out->size());
        }
    }
    result.limitReached = d->outputLimitReached();
    result.ended = d->streamEnded();
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QByteArray input = fuzz::bytes(data, size);
    bool limitReached = false;
    const auto whole = KPDataDecompressor::uncompressData(input, KPDataDecompressor::MaxOutputPerCall, &limitReached);
    if (whole && whole->size() > input.size() * 1100 + 4096)
        fuzz::fail("more output than deflate can make");
    if (limitReached)
        fuzz::fail("a body far under the limit was refused as over it");

    const Pieces pieces = inflatePieces(input, KPDataDecompressor::MaxOutputPerCall);
    if (whole && pieces.ok && pieces.ended && pieces.output != *whole)
        fuzz::fail("piece by piece differs from whole");
    if (pieces.limitReached)
        fuzz::fail("a piece far under the limit was refused as over it");

    if (whole) {
        const qsizetype n = whole->size();
        bool atLimit = false;
        const auto exact = KPDataDecompressor::uncompressData(input, n, &atLimit);
        if (!exact || *exact != *whole || atLimit)
            fuzz::fail("a body of exactly the limit was not let through unchanged", QString::number(n));
        if (n > 0) {
            bool over = false;
            const auto under = KPDataDecompressor::uncompressData(input, n - 1, &over);
            if (under || !over)
                fuzz::fail("a body one byte over the limit was not refused as over it", QString::number(n));
        }
    }
    if (pieces.ok && pieces.largest > 0) {
        const Pieces exact = inflatePieces(input, pieces.largest);
        if (!exact.ok || exact.output != pieces.output || exact.limitReached)
            fuzz::fail("pieces within the per-call limit were not let through unchanged");
        const Pieces under = inflatePieces(input, pieces.largest - 1);
        if (under.ok || !under.limitReached)
            fuzz::fail("a piece one byte over the per-call limit was not refused as over it");
    }
    return 0;
}

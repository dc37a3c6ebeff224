// The scan count of a JPEG stream, walked marker by marker before anything is decoded (a dropped
// page of too many scans is refused on it). Whatever the bytes: the count stopped early agrees
// with the full count, and no count exceeds what the bytes can hold (four bytes a scan at least).
#include "FuzzSupport.h"

#include "Platform/Content/JpegScans.h"

#include <QBuffer>
#include <algorithm>
#include <limits>

namespace {

int scansOf(const QByteArray& bytes, int stopAbove)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return platform::JpegScans::count(buffer, stopAbove);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QByteArray bytes = fuzz::bytes(data, size);
    const int all = scansOf(bytes, std::numeric_limits<int>::max() - 1);
    const int early = scansOf(bytes, 3);
    if (all < -1 || all > bytes.size() / 4)
        fuzz::fail("a count the bytes cannot hold", QStringLiteral("%1 scans in %2 bytes").arg(all).arg(bytes.size()));
    if (early != std::min(all, 4))
        fuzz::fail("the count stopped early disagrees", QStringLiteral("%1 of %2").arg(early).arg(all));
    return 0;
}

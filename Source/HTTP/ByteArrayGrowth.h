// Growing a buffer that has a cap. QByteArray's own growth rounds its allocation up to the next
// power of two, so a body that reaches a cap of 1 GiB holds 2 GiB; reserveWithin grows the same
// way (doubling, so appends stay cheap) but never past the cap.
#pragma once

#include <QByteArray>
#include <algorithm>

namespace kphttp {

// Room for needed bytes in bytes, allocating at most limit bytes unless needed is more. A
// shared array is copied here, exactly: left to the append, its copy would be rounded up.
inline void reserveWithin(QByteArray& bytes, qsizetype needed, qsizetype limit)
{
    if (bytes.isDetached() && needed <= bytes.capacity())
        return;
    bytes.reserve(std::max(needed, std::min(bytes.size() * 2, limit)));
}

} // namespace kphttp

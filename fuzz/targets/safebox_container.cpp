// SafeBox containers ("safebox.db": anyone who can write the library can replace it), opened with
// the fixed pass phrase "fuzz" the seeds were made with. Whatever the bytes, the reader fails
// clearly or recreates a tree inside its target folder: nothing lands beside it.
#include "FuzzSupport.h"

#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/DiskImage/SbxContainer.h"

#include <QBuffer>
#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using namespace platform::sbx;
    const QByteArray bytes = fuzz::bytes(data, size);
    const auto header = parseHeader(bytes);
    if (!header)
        return 0;
    const auto key = unlock(header->current(), QByteArrayLiteral("fuzz"));
    if (!key)
        return 0;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    buffer.seek(kHeaderSize);
    OpenReader reader(&buffer, header->current().uuid, key->bytes());
    if (!reader.begin())
        return 0;
    const fuzz::ScratchFolder scratch;
    const QString target = scratch.path() + QStringLiteral("/out");
    QDir().mkpath(target);
    const ArchiveRead read = [&reader](char* out, qsizetype n) { return reader.read(out, n); };
    (void)extractArchive(read, QFile::encodeName(target));
    const QStringList top = QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (top != QStringList{QStringLiteral("out")})
        fuzz::fail("a container wrote outside its folder", top.join(QLatin1Char(' ')));
    return 0;
}

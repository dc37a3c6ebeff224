// The archive inside a SafeBox container, fed directly (behind the container's authentication a
// fuzzer could never reach it). Paths that are absolute, climb out, pass through a link or
// collide with the tool's own records must be refused; nothing may land beside the target folder,
// and no more bytes are written than the archive holds.
#include "FuzzSupport.h"

#include "Platform/DiskImage/SbxArchive.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using namespace platform::sbx;
    const QByteArray bytes = fuzz::bytes(data, size);
    qsizetype position = 0;
    const ArchiveRead read = [&](char* out, qsizetype n) -> platform::Result<void> {
        if (n > bytes.size() - position)
            return std::unexpected(platform::Error{QStringLiteral("fuzz"), 1, QStringLiteral("the archive ends early")});
        memcpy(out, bytes.constData() + position, size_t(n));
        position += n;
        return {};
    };
    const fuzz::ScratchFolder scratch;
    const QString target = scratch.path() + QStringLiteral("/out");
    QDir().mkpath(target);
    (void)extractArchive(read, QFile::encodeName(target));
    const QStringList top = QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (top != QStringList{QStringLiteral("out")})
        fuzz::fail("an archive wrote outside its folder", top.join(QLatin1Char(' ')));
    if (fuzz::bytesBelow(target) > qint64(size))
        fuzz::fail("an archive wrote more bytes than it holds");
    return 0;
}

// Zip archives as peers send folders: extracted into a scratch folder that is removed after
// each input. Whatever the archive says, nothing may land outside the target folder, no link may
// be made, and the bytes written cannot exceed what deflate can make of the archive's size
// (about 1032:1); more than that means entries share their compressed bytes.
#include "FuzzSupport.h"

#include "Utilities/KPZipFile.h"

#include <QDir>
#include <QDirIterator>
#include <csignal>
#include <sys/resource.h>

namespace {

constexpr qint64 kDeflateMaxRatio = 1032;

void boundFileSizes()
{
    static const bool done = [] {
        // A single file past this fails to write instead of filling the disk while fuzzing.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t bound = 256LL * 1024 * 1024;
        const struct rlimit limit{bound, bound};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return true;
    }();
    (void)done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    boundFileSizes();
    const fuzz::ScratchFolder scratch;
    const QString archivePath = scratch.write(QStringLiteral("input.zip"), fuzz::bytes(data, size));
    const QString target = scratch.path() + QStringLiteral("/out");
    QDir().mkpath(target);

    KPZipFile zip;
    zip.setDelegate(KPZipFileDelegate{[](const QString&) {}, [](const QString&) { return true; }});
    if (zip.UnzipOpenFile(archivePath, QStringLiteral("fuzz"))) {
        zip.UnzipFileTo(target, true);
        zip.UnzipCloseFile();
    }

    const QStringList top = QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                           | QDir::NoDotAndDotDot);
    if (top != QStringList{QStringLiteral("input.zip"), QStringLiteral("out")})
        fuzz::fail("extraction wrote outside its folder", top.join(QLatin1Char(' ')));
    QDirIterator it(target, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        if (it.nextFileInfo().isSymLink())
            fuzz::fail("extraction made a link", it.filePath());
    const qint64 written = fuzz::bytesBelow(target);
    if (written > qint64(size) * kDeflateMaxRatio + 4096)
        fuzz::fail("extraction wrote more than the archive can hold",
                   QStringLiteral("%1 bytes from %2").arg(written).arg(size));
    return 0;
}

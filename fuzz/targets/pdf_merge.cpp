// PDFs as the merge tool reads them: the pages of the input taken over twice into a new file
// through qpdf. No exception may leave the merge; a failed merge leaves nothing behind, and a
// merged file opens again with its pages.
#include "FuzzSupport.h"

#include "Tools/PDFMerge.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/WrittenPdf.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    // The merge logs the inputs it skips: neither keep those records nor look for a log viewer,
    // and leave the console to the replay's own messages.
    static const bool quiet = [] {
        KPLogSetOptionFlags(KPLogSharedLogger(), 0);
        return true;
    }();
    (void)quiet;
    const fuzz::ScratchFolder scratch;
    // The merge writes into the program's temporary folder, which follows the runtime folder.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(scratch.path()));
    const QString input = scratch.write(QStringLiteral("input.pdf"), fuzz::bytes(data, size));
    const QString merged = PDFMerge({input, input}).mergeDocuments();
    const QStringList left = QDir(scratch.path() + QStringLiteral("/Folivo 2")).entryList(QDir::Files | QDir::Hidden);
    if (merged.isEmpty()) {
        if (!left.isEmpty())
            fuzz::fail("a failed merge left files behind", left.join(QStringLiteral(", ")));
        return 0;
    }
    if (left != QStringList{QStringLiteral("input(merge).pdf")})
        fuzz::fail("the merge left other files behind", left.join(QStringLiteral(", ")));
    // Opened again through qpdf, whose exceptions stay inside.
    const long long pages = WrittenPdf::pageCount(merged);
    if (pages < 0)
        fuzz::fail("the merged file does not open");
    else if (pages % 2 != 0)
        fuzz::fail("the merged file does not hold the input's pages twice");
    return 0;
}

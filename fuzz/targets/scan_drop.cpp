// Files dropped on the scan window: an image file becomes one page, a PDF one page per PDF page
// at 72 dpi. Whatever the bytes, no page may pass the pixel caps and no more PDF pages come back
// than the page cap allows, and the window's pixel budget keeps exactly the share of the pages
// handed over.
#include "FuzzSupport.h"

#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Content/PdfContent.h"
#include "Scanner/KPScannerDropReader.h"
#include "Scanner/KPScannerPixelBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    // The decoder limit the program runs with; the reader must keep its own bounds within it.
    platform::ImageDecodeLimit::install();
    const fuzz::ScratchFolder scratch;
    const QString path = scratch.write(QStringLiteral("dropped"), fuzz::bytes(data, size));
    const auto budget = std::make_shared<KPScannerPixelBudget>();
    const auto read = KPScannerDropReader::read({path}, budget);
    if (budget->used() != read.reserved)
        fuzz::fail("the budget keeps pixels of pages not handed over",
                   QStringLiteral("%1 taken, %2 handed over").arg(budget->used()).arg(read.reserved));
    if (read.images.size() > KPScannerDropReader::kMaxPdfPages)
        fuzz::fail("more pages than the cap", QString::number(read.images.size()));
    for (const QImage& image : read.images)
        if (image.isNull() || qint64(image.width()) * image.height() > KPScannerDropReader::kMaxImagePixels)
            fuzz::fail("a page past the pixel cap", QStringLiteral("%1×%2").arg(image.width()).arg(image.height()));
    platform::PdfContent::waitForJobs(QDeadlineTimer::Forever);
    return 0;
}

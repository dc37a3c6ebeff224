// PDFs as previews, the full-text index and the author look-up read them: the text, the first
// page drawn small and the document information, each its own job under the readers' caps.
#include "ContentLimits.h"
#include "FuzzSupport.h"

#include "Platform/Content/PdfContent.h"

using platform::ExtractionContext;
using platform::PdfContent;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QByteArray pdf = fuzz::bytes(data, size);

    ExtractionContext textJob(fuzz::contentLimits());
    const auto text = PdfContent::extractText(pdf, textJob);
    if (text && text->text.size() > fuzz::contentLimits().maxTextChars)
        fuzz::fail("more text than the cap", QString::number(text->text.size()));

    const QSize box(128, 128);
    ExtractionContext pictureJob(fuzz::contentLimits());
    const auto picture = PdfContent::renderFirstPage(pdf, box, pictureJob);
    if (picture && (picture->isNull() || picture->width() > box.width() || picture->height() > box.height()))
        fuzz::fail("a picture not within the box", QStringLiteral("%1×%2").arg(picture->width()).arg(picture->height()));

    const fuzz::ScratchFolder scratch;
    ExtractionContext infoJob(fuzz::contentLimits());
    (void)PdfContent::infoField(scratch.write(QStringLiteral("input.pdf"), pdf), QStringLiteral("Author"), infoJob);
    // A job given up on still runs; the next input starts without it, and so does the exit.
    PdfContent::waitForJobs(QDeadlineTimer::Forever);
    return 0;
}

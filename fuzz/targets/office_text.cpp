// Zipped office documents: every reader of Office Open XML, OpenDocument and iWork packages runs
// on the same package, each as its own job.
#include "ContentLimits.h"
#include "FuzzSupport.h"

#include "Platform/Content/IWorkPackage.h"
#include "Platform/Content/OfficeText.h"

using platform::ExtractionContext;
using platform::OfficeText;
using platform::PackageReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const fuzz::ScratchFolder scratch;
    const auto package = PackageReader::open(scratch.write(QStringLiteral("document.zip"), fuzz::bytes(data, size)));
    if (!package)
        return 0;
    for (auto reader : {&OfficeText::extractWord, &OfficeText::extractSpreadsheet,
                        &OfficeText::extractPresentation, &OfficeText::extractOpenDocument,
                        &platform::IWorkPackage::extractText}) {
        ExtractionContext ctx(fuzz::contentLimits());
        reader(*package, ctx);
    }
    return 0;
}

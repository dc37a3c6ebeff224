// The text of Pages, Numbers and Keynote documents, which are folders or zip files.
//
// Documents from before 2013 keep everything in one XML file ("index.xml", Keynote's
// "index.apxl", either possibly gzipped); that is read directly. Newer ones store a binary
// object archive that nothing here decodes, but most carry the PDF that Quick Look shows,
// whose text stands in for the document's.
#pragma once

#include "Platform/Content/PackageReader.h"

namespace platform {

class IWorkPackage {
public:
    static Result<ExtractedText> extractText(const PackageReader& package, ExtractionContext& ctx);

    // The package's own preview images and PDF, most useful first.
    static QStringList previewImageNames();
    static QString previewPdfName();
};

} // namespace platform

// The text of zipped office documents: Office Open XML (Word, Excel, PowerPoint) and
// OpenDocument (text, spreadsheet, presentation, drawing).
//
// Only the parts that hold the document's own words are read: the Word body with its foot- and
// endnotes, the spreadsheet's shared strings resolved through its sheets, the slides in slide
// order, ODF's content.xml. Styles, relationships and embedded media are never inflated, which
// keeps a large deck with big pictures cheap.
#pragma once

#include "Platform/Content/PackageReader.h"

namespace platform {

class OfficeText {
public:
    static Result<ExtractedText> extractWord(const PackageReader& package, ExtractionContext& ctx);
    static Result<ExtractedText> extractSpreadsheet(const PackageReader& package, ExtractionContext& ctx);
    static Result<ExtractedText> extractPresentation(const PackageReader& package, ExtractionContext& ctx);
    static Result<ExtractedText> extractOpenDocument(const PackageReader& package, ExtractionContext& ctx);

    // Entry names under `folder` named prefix<N>.xml, in numeric order (slide2 before slide10).
    static QStringList numberedParts(const PackageReader& package, const QString& folder, const QString& prefix);
};

} // namespace platform

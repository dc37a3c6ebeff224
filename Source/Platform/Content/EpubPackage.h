// What an EPUB book's package document says: where its chapters are, in reading order, which
// image is its cover, and its title. Text extraction reads the chapters; the preview shows the
// cover.
//
// Chapters are XHTML, which in the wild is often not well-formed, so they go through the
// forgiving HTML reader rather than an XML parser.
#pragma once

#include "Platform/Content/PackageReader.h"

namespace platform {

class EpubPackage {
public:
    struct Manifest {
        QString packagePath;  // the OPF file inside the zip
        QString title;
        QStringList spine;    // chapter entry names in reading order
        QString coverImage;   // entry name of the cover image; empty when none is named
    };

    static Result<Manifest> readManifest(const PackageReader& package, ExtractionContext& ctx);
    static Result<ExtractedText> extractText(const PackageReader& package, ExtractionContext& ctx);

    // An href inside the package resolved against the folder of `base`, without its fragment
    // and percent escapes; empty when it leaves the package.
    static QString resolve(const QString& base, const QString& href);
};

} // namespace platform

// PDF text and first-page pictures through QtPdf.
//
// QPdfDocument is used on the calling thread only and never shown, so it is safe off the main
// thread; QtPdf serialises its engine internally, which makes concurrent jobs correct but not
// parallel. A page's text cannot be interrupted, so the deadline is checked between pages.
// PDF bytes held in memory (an iWork package's Preview.pdf) go through a private temporary
// file, because QtPdf reads in-memory devices asynchronously.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QImage>
#include <QSize>

namespace platform {

class PdfContent {
public:
    static Result<ExtractedText> extractText(const QString& path, ExtractionContext& ctx);
    static Result<ExtractedText> extractText(const QByteArray& pdf, ExtractionContext& ctx);

    // The first page drawn to fit within box, aspect kept, on white.
    static Result<QImage> renderFirstPage(const QString& path, const QSize& box);
    static Result<QImage> renderFirstPage(const QByteArray& pdf, const QSize& box);
};

} // namespace platform

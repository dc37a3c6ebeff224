// PDF text, document information and first-page pictures through poppler.
//
// Every job opens a document of its own and uses it on the calling thread only, so jobs on
// different threads run side by side (one document per worker thread). Only opening and closing
// a document take a process-wide lock, because the binding sets up and tears down shared state
// there; parsing pages, drawing and reading text run outside it. What poppler shares between
// all pages without a lock of its own (its colour profiles) is made once, before the first job.
//
// PDFs come from anywhere: drawing and text reading ask the context's deadline as they go, so a
// page that would take forever is given up when the deadline passes (TimedOut, or the text read
// so far, marked truncated). Work that cannot be interrupted (one enormous image) runs on a
// thread of its own that the caller stops waiting for shortly after the deadline; it finishes
// alone and is dropped, and a fixed number of such jobs at most run at once. A file that needs
// a password to open is Encrypted; one that is damaged, empty or has no pages is Unreadable.
// Bytes held in memory (an iWork package's Preview.pdf) are read in place.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QList>
#include <QSize>
#include <functional>

namespace platform {

class PdfContent {
public:
    static Result<ExtractedText> extractText(const QString& path, ExtractionContext& ctx);
    static Result<ExtractedText> extractText(const QByteArray& pdf, ExtractionContext& ctx);

    // The first page drawn to fit within box, aspect kept, turned as the page asks, on white.
    static Result<QImage> renderFirstPage(const QString& path, const QSize& box, ExtractionContext& ctx);
    static Result<QImage> renderFirstPage(const QByteArray& pdf, const QSize& box, ExtractionContext& ctx);

    // Each page drawn at 72 dpi (one pixel per point), turned as it asks, on white, in order; at
    // most maxPages of them (truncated tells when there were more), and a page over maxPixels is
    // drawn smaller to fit that many pixels. The whole job shares the context's deadline.
    // admit, when given, is asked with each page's pixel size before the page is drawn; the first
    // page it refuses ends the drawing (truncated). It is called on the job's thread, also after
    // the call has given up on a late job, so it holds what it needs itself.
    struct PageImages {
        QList<QImage> pages;
        bool truncated = false;
    };
    static Result<PageImages> renderPages(const QString& path, int maxPages, qint64 maxPixels, ExtractionContext& ctx,
                                          std::function<bool(const QSize& pixels)> admit = {});

    // A text entry of the document information ("Author", "Title", …); empty when the
    // document has none.
    static Result<QString> infoField(const QString& path, const QString& key, ExtractionContext& ctx);

    // Jobs still running, those given up on included; and a wait for none to run, for a
    // shutdown (or a test) that should not leave one behind. False when the deadline passed.
    static int runningJobs();
    static bool waitForJobs(QDeadlineTimer deadline);
};

} // namespace platform

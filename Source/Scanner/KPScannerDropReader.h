// The pages of files dropped on the scan window: an image file gives one page, a PDF one page
// per PDF page drawn at 72 dpi. Files come from anywhere, so every read is capped: image files
// by their pixel count, PDFs by their page count, pixels per page and time. An encrypted or
// broken PDF, or a file that is not an image, gives no page and is named in the errors.
//
// Threads: any thread; the window reads off the main thread and adds the pages on it.
#pragma once

#include <QImage>
#include <QList>
#include <QStringList>

class KPScannerDropReader {
public:
    // Tuning: a 600-dpi A4 colour scan is ~35 Mpx; past this a file is refused, not shrunk.
    static constexpr qint64 kMaxImagePixels = 80'000'000;
    // Tuning: pages kept of one dropped PDF (the rest are dropped with a message).
    static constexpr int kMaxPdfPages = 200;
    // Tuning: pixels of one PDF page at 72 dpi (a poster page is drawn smaller).
    static constexpr qint64 kMaxPdfPagePixels = 14400LL * 1440;

    struct Result {
        QList<QImage> images;
        QStringList errors;
    };
    static Result read(const QStringList& paths);
    static QImage readImage(const QString& path, QString* error);
};

// The pages of files dropped on the scan window: an image file gives one page, a PDF one page
// per PDF page drawn at 72 dpi. Files come from anywhere, so every read is capped: image files
// by their pixel count, PDFs by their page count, pixels per page and time, and all of them
// together by the window's pixel budget, which each page takes from before it is decoded or
// drawn. An encrypted or broken PDF, or a file that is not an image, gives no page and is named
// in the errors; pages left out for the budget are named there too.
//
// Threads: any thread; the window reads off the main thread and adds the pages on it.
#pragma once

#include <QImage>
#include <QList>
#include <QStringList>
#include <memory>

class KPScannerPixelBudget;

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
        // The pixels of images taken from the budget: the caller gives them back as it hands
        // the images to the page list, which takes them again.
        qint64 reserved = 0;
    };
    // Without a budget only the caps above bound the read.
    static Result read(const QStringList& paths, const std::shared_ptr<KPScannerPixelBudget>& budget = nullptr);
    // One image file; with a budget, its pixels are taken from it (and the image refused when
    // they do not fit).
    static QImage readImage(const QString& path, QString* error, KPScannerPixelBudget* budget = nullptr);
};

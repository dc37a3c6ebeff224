// The pages of files dropped on the scan window: an image file gives one page, a PDF one page
// per PDF page drawn at 72 dpi. Files come from anywhere, so every read is capped: image files
// by their pixel count and, for progressive JPEGs, their scans, PDFs by their page count, pixels
// per page and time, and all of them together by the window's pixel budget, which each page
// takes from before it is decoded or drawn. An encrypted or broken PDF, or a file that is not an
// image, gives no page and is named in the errors with the reason; pages left out for the budget
// are named there too.
//
// An image file is bounded twice: by the size its header gives (a GIF's by its logical screen,
// which the decoder draws whatever frame size the header reports), before anything is decoded;
// and by the decoded image's own size, for formats whose header tells no size or a wrong one.
// Neither touches the process's decoder limit (platform::ImageDecodeLimit), which other readers
// share; it stays high enough for the largest page.
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
    // The most bytes a page may take decoded: the pixel cap at 16 bits a channel.
    static constexpr qint64 kMaxImageBytes = kMaxImagePixels * 8;
    // Tuning: scans of one progressive JPEG. Each scan is a pass over the whole picture, so a
    // few hundred kilobytes of thousands of scans took a minute to decode; encoders write 6 to
    // 18. A large picture may have fewer: the scans times its pixels stay within the second cap
    // (20 scans of the largest page, about 3 s of decoding).
    static constexpr int kMaxJpegScans = 100;
    static constexpr qint64 kMaxJpegScanPixels = kMaxImagePixels * 20;

    // The caps of an image file (tests make them small).
    struct Caps {
        qint64 maxImagePixels = kMaxImagePixels;
        int maxJpegScans = kMaxJpegScans;
        qint64 maxJpegScanPixels = kMaxJpegScanPixels;
    };

    struct Result {
        QList<QImage> images;
        QStringList errors;
        // The pixels of images taken from the budget: the caller gives them back as it hands
        // the images to the page list, which takes them again.
        qint64 reserved = 0;
    };
    // Without a budget only the caps above bound the read.
    static Result read(const QStringList& paths, const std::shared_ptr<KPScannerPixelBudget>& budget = nullptr)
    {
        return read(paths, budget, Caps{});
    }
    static Result read(const QStringList& paths, const std::shared_ptr<KPScannerPixelBudget>& budget, const Caps& caps);
    // One image file; with a budget, its pixels are taken from it (and the image refused when
    // they do not fit).
    static QImage readImage(const QString& path, QString* error, KPScannerPixelBudget* budget = nullptr)
    {
        return readImage(path, error, budget, Caps{});
    }
    static QImage readImage(const QString& path, QString* error, KPScannerPixelBudget* budget, const Caps& caps);
};

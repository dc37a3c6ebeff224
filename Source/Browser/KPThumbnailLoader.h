// Loads the thumbnails of the documents shown in the grid off the main thread, newest request
// first, so the items that just scrolled into view load before those that scrolled past.
//
// A request (addResourceToQueue, main thread) snapshots everything the work needs into the queue
// entry: the thumbnail and file paths, the path the library names the thumbnail by, the item's
// frame sizes, the display mode and the screen scale. A request for an item already loading does
// nothing; a request for another display model of a document already waiting takes the waiting
// one's place at the newest end. The worker, a serial dispatch queue draining the list from its
// newest end, works on QImage only: it reads the stored thumbnail or, when there is none or it
// cannot be decoded, makes a 512 × 512 preview and stores it (KPLibraryFileManager's thumbnail
// writer: a temporary name, then a rename; PNG only with transparent pixels), fits it to the item
// and hands the image with its original size back on the main thread. There the display model
// takes it and "GraphicResourceDidLoadNotification" is posted with the model as object. The
// worker never touches a display model; a model that went away meanwhile is skipped.
//
// A thumbnail that could not be written is still delivered. When the library stored the
// document's thumbnail under another name (or none), the record is pointed at the one written.
// A document for which no picture at all can be made stays marked as loading and is not asked
// for again (the skip is logged).
//
// shutdown() drops the waiting requests and waits for the one being worked on; the shared loader
// is shut down at aboutToQuit, and a loader shuts down when destroyed.
//
// Locking: m_mutex guards the queue and the worker's state flags; m_idle is signalled when the
// worker stops. Requests, clearImageQueue, delivery and shutdown run on the main thread.
#pragma once

#include "Browser/KPItemData.h"

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class KPLibraryFileManager;

namespace platform {
class DispatchQueue;
}

// What the worker needs of one request, copied on the main thread.
struct ThumbnailRequest {
    QString thumbPath;  // absolute path of the stored thumbnail; empty when the record has none
    QString filePath;   // absolute path of the document
    QString storedPath; // the record's path, which the library names thumbnails by (documents)
    QSizeF frameSize;
    QSizeF frameImageSize;
    bool isListView = false;
    double screenScale = 1;
    bool safeBox = false;                  // SafeBox file: thumbnail kept in the volume
    const KPLibraryFileManager* files = nullptr; // where documents' thumbnails are written
};

// What the worker hands back.
struct ThumbnailResult {
    QImage image;             // fitted; null when no picture could be made
    QSize originalSize;       // pixel size of the source before fitting
    QString writtenThumbPath; // relative path of a thumbnail written through the library
};

class KPThumbnailLoader {
public:
    static inline const QString kGraphicResourceDidLoadNotification = QStringLiteral("GraphicResourceDidLoadNotification");
    // The preview size of documents without a stored thumbnail.
    static constexpr int kPreviewSide = 512;
    // Stored thumbnails larger than this many pixels are decoded straight at their fitted size.
    static constexpr qint64 kFullDecodeLimit = 4096 * 4096;
    // Tuning: stored thumbnails are a few hundred kilobytes; a larger file there is no thumbnail.
    static constexpr qint64 kStoredThumbnailMaxBytes = 64LL * 1024 * 1024;

    using PreviewProvider = std::function<QImage(const QString& filePath)>;
    struct Options {
        const KPLibraryFileManager* files = nullptr; // null: the shared manager
        std::function<double()> screenScale;         // null: the primary screen's pixel ratio
        PreviewProvider preview;                     // null: imageWithPreviewOfFileAtPath at 512 × 512
    };

    // The program's loader, made on first use on the main thread; shut down at aboutToQuit.
    static KPThumbnailLoader& shared();

    KPThumbnailLoader();
    explicit KPThumbnailLoader(Options options);
    ~KPThumbnailLoader();
    KPThumbnailLoader(const KPThumbnailLoader&) = delete;
    KPThumbnailLoader& operator=(const KPThumbnailLoader&) = delete;

    // Requests item's thumbnail at the sizes of the current display settings (the item view's
    // addResourceToQueue); they are also left in the item's info.
    void addResourceToQueue(const KPItemDataPtr& item);
    // The same with the item view's own frame sizes and mode.
    void addResourceToQueue(const KPItemDataPtr& item, const QSizeF& frameSize, const QSizeF& frameImageSize,
                            bool isListView);
    // Drops every waiting request (the grid is about to show other documents); their items may
    // be requested again.
    void clearImageQueue();
    // Drops the waiting requests and waits for the one in progress; later requests are ignored.
    void shutdown();

    // Test hook: while paused the worker takes no new request (one in progress finishes).
    void setPaused(bool paused);
    qsizetype pendingCount() const;

    // The fitted size of a source of sourceSize pixels: the frame width (less the inset) for
    // wide sources, the image-area height (less the inset) for tall ones; never enlarged; at
    // least 1 × 1; doubled on screens of scale 2 or more, at most 512 wide.
    static QSize fittedSize(const QSize& sourceSize, const QSizeF& frameSize, const QSizeF& frameImageSize,
                            double inset, double screenScale);
    // The whole work of one request (worker thread; also for tests).
    static ThumbnailResult loadThumbnail(const ThumbnailRequest& request, const PreviewProvider& preview);

private:
    struct Entry {
        std::weak_ptr<KPItemData> item;
        ThumbnailRequest request;
    };

    ThumbnailRequest snapshot(KPItemData& item, const QSizeF& frameSize, const QSizeF& frameImageSize,
                              bool isListView) const;
    void startWorkerLocked();
    void drain();
    static void deliver(const std::weak_ptr<KPItemData>& target, const ThumbnailResult& result);

    Options m_options;
    std::unique_ptr<platform::DispatchQueue> m_queue;

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::vector<Entry> m_entries; // newest at the back
    bool m_draining = false;
    bool m_paused = false;
    bool m_stopped = false;
};

#include "Browser/KPThumbnailLoader.h"

#include "Browser/KPViewSizeManager.h"
#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Content/ImagePreview.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RegularFile.h"
#include "Store/DBHelper.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/ImageQuickLook.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>
#include <cmath>

namespace {

const QString kLogDomain = QStringLiteral("Thumbnail");

constexpr double kIconInset = 20;

double inset(const ThumbnailRequest& request)
{
    return request.safeBox || !request.isListView ? kIconInset : 0;
}

double effectiveScale(const ThumbnailRequest& request)
{
    // SafeBox thumbnails are drawn at their own size.
    return request.safeBox ? 1 : request.screenScale;
}

// The stored thumbnail and its full pixel size; a null image when it cannot be decoded.
QImage readStoredThumbnail(const ThumbnailRequest& request, QSize* originalSize)
{
    // Anything but a regular file of a thumbnail's size (a FIFO planted at its path would block
    // this reader and every request after it) is made again instead.
    auto file = platform::RegularFile::open(request.thumbPath, KPThumbnailLoader::kStoredThumbnailMaxBytes);
    if (!file)
        return {};
    QImageReader reader(file->get());
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    // A huge file is decoded at the size it will be shown at: a thumbnail never needs more,
    // and a full decode could take gigabytes. A format that can only decode whole is bounded as
    // a full-size preview is; the process's decoder limit is set for the largest image any
    // reader takes.
    if (!platform::ImageDecodeLimit::decodesScaled(reader)
        && platform::ImageDecodeLimit::decodedBytes(size, reader.imageFormat()) > platform::ImagePreview::kMaxFullDecodeBytes)
        return {};
    if (size.isValid() && qint64(size.width()) * size.height() > KPThumbnailLoader::kFullDecodeLimit)
        reader.setScaledSize(KPThumbnailLoader::fittedSize(size, request.frameSize, request.frameImageSize,
                                                           inset(request), effectiveScale(request)));
    QImage image = reader.read();
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    *originalSize = size.isValid() ? size : image.size();
    return image;
}

QImage defaultPreview(const QString& filePath)
{
    return imageWithPreviewOfFileAtPath(filePath, QSize(KPThumbnailLoader::kPreviewSide, KPThumbnailLoader::kPreviewSide),
                                        false);
}

} // namespace

KPThumbnailLoader& KPThumbnailLoader::shared()
{
    // Lives for the run and is shut down at quit, never by static destruction.
    static KPThumbnailLoader* const loader = [] {
        auto* made = new KPThumbnailLoader();
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [made] { made->shutdown(); });
        return made;
    }();
    return *loader;
}

KPThumbnailLoader::KPThumbnailLoader()
    : KPThumbnailLoader(Options())
{
}

KPThumbnailLoader::KPThumbnailLoader(Options options)
    : m_options(std::move(options))
    , m_queue(std::make_unique<platform::DispatchQueue>(
          platform::DispatchQueue::serial(QStringLiteral("com.norlith.folivo2.thumbnails"), platform::QueuePriority::Default)))
{
    if (!m_options.preview)
        m_options.preview = defaultPreview;
}

KPThumbnailLoader::~KPThumbnailLoader()
{
    shutdown();
}

void KPThumbnailLoader::addResourceToQueue(const KPItemDataPtr& item)
{
    const KPViewSizeManager& settings = KPViewSizeManager::instance();
    addResourceToQueue(item, settings.itemSize(), settings.itemImageSize(), settings.isListMode());
}

void KPThumbnailLoader::addResourceToQueue(const KPItemDataPtr& item, const QSizeF& frameSize,
                                           const QSizeF& frameImageSize, bool isListView)
{
    if (!item || item->bLoadingResource() || (!item->bNeedReloadResource() && item->bLoadedResource()))
        return;
    item->loadDataContent();
    item->setObject(frameSize, KPItemData::kFrameSizeKey);
    item->setObject(frameImageSize, KPItemData::kFrameImageSizeKey);
    item->setObject(isListView, KPItemData::kIsListViewKey);
    Entry entry{item, snapshot(*item, frameSize, frameImageSize, isListView)};
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        // Another model of the same document waiting: the new one takes its place at the
        // newest end, and the one dropped may be asked for again.
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            const KPItemDataPtr waiting = it->item.lock();
            if (!waiting || waiting->isEqual(*item)) {
                if (waiting)
                    waiting->setBLoadingResource(false);
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
        m_entries.push_back(std::move(entry));
        startWorkerLocked();
    }
    item->setBLoadingResource(true);
}

ThumbnailRequest KPThumbnailLoader::snapshot(KPItemData& item, const QSizeF& frameSize, const QSizeF& frameImageSize,
                                             bool isListView) const
{
    ThumbnailRequest request;
    request.thumbPath = item.thumbPath();
    request.filePath = item.filePath();
    request.storedPath = item.data().path();
    request.frameSize = frameSize;
    request.frameImageSize = frameImageSize;
    request.isListView = isListView;
    request.safeBox = item.isSafeBoxItem();
    if (m_options.screenScale) {
        request.screenScale = m_options.screenScale();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        request.screenScale = screen->devicePixelRatio();
    }
    request.files = m_options.files ? m_options.files : &KPLibraryFileManager::defaultManager();
    return request;
}

void KPThumbnailLoader::startWorkerLocked()
{
    if (m_draining || m_paused || m_stopped || m_entries.empty())
        return;
    m_draining = true;
    m_queue->async([this] { drain(); });
}

void KPThumbnailLoader::drain()
{
    for (;;) {
        Entry entry;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopped || m_paused || m_entries.empty()) {
                m_draining = false;
                m_idle.notify_all();
                return;
            }
            entry = std::move(m_entries.back());
            m_entries.pop_back();
        }
        if (entry.item.expired())
            continue; // nobody shows it any more
        ThumbnailResult result = loadThumbnail(entry.request, m_options.preview);
        if (result.image.isNull()) {
            KPLogLogDomainMessage(kLogDomain, 1, QStringLiteral("no picture for %1").arg(entry.request.filePath));
            continue;
        }
        platform::Dispatch::main([target = std::move(entry.item), result = std::move(result)] { deliver(target, result); });
    }
}

void KPThumbnailLoader::deliver(const std::weak_ptr<KPItemData>& target, const ThumbnailResult& result)
{
    const KPItemDataPtr item = target.lock();
    if (!item)
        return;
    item->setSourceImage(result.image);
    item->setImageOriginalSize(result.originalSize);
    item->setBLoadingResource(false);
    item->setBLoadedResource(true);
    item->setBNeedReloadResource(false);
    // The library keeps thumbnails under the name the writer gives them; a record that named
    // another (or none) would have its picture made again at every load.
    DBFileInfo record = item->data();
    if (!result.writtenThumbPath.isEmpty() && record && record.thumbPath() != result.writtenThumbPath) {
        record.setThumbPath(result.writtenThumbPath);
        item->setThumbPath(DBHelper::CombinThumbAbsolutePath(record));
    }
    platform::NotificationCenter::defaultCenter().post(kGraphicResourceDidLoadNotification, QVariant::fromValue(item));
}

void KPThumbnailLoader::clearImageQueue()
{
    std::vector<Entry> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_entries);
    }
    for (const Entry& entry : dropped) {
        if (const KPItemDataPtr item = entry.item.lock())
            item->setBLoadingResource(false);
    }
}

void KPThumbnailLoader::shutdown()
{
    std::vector<Entry> dropped;
    std::unique_lock lock(m_mutex);
    m_stopped = true;
    dropped.swap(m_entries);
    m_idle.wait(lock, [this] { return !m_draining; });
}

void KPThumbnailLoader::setPaused(bool paused)
{
    std::lock_guard lock(m_mutex);
    m_paused = paused;
    startWorkerLocked();
}

qsizetype KPThumbnailLoader::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return qsizetype(m_entries.size());
}

QSize KPThumbnailLoader::fittedSize(const QSize& sourceSize, const QSizeF& frameSize, const QSizeF& frameImageSize,
                                    double inset, double screenScale)
{
    const double W = sourceSize.width();
    const double H = sourceSize.height();
    if (W <= 0 || H <= 0)
        return {1, 1};
    const double r = W / H;
    double w = 0;
    double h = 0;
    if (W >= H) {
        w = std::round(frameSize.width() - inset);
        h = std::round(w / r);
    } else {
        h = std::round(frameImageSize.height() - inset);
        w = std::round(r * h);
    }
    if (w > W && h > H) {
        w = W;
        h = H;
    }
    // Frames smaller than the inset, and extreme shapes, still give a drawable picture.
    w = std::max(w, 1.0);
    h = std::max(h, 1.0);
    if (screenScale >= 2.0) {
        if (2 * w > kPreviewSide) {
            w = kPreviewSide;
            h = std::max(1.0, std::round(kPreviewSide / r));
        } else {
            w *= 2;
            h *= 2;
        }
    }
    // The cap applies to the width only; keep the height of extremely tall sources within
    // what an image may hold.
    return QSize(int(std::min(w, 32767.0)), int(std::min(h, 32767.0)));
}

ThumbnailResult KPThumbnailLoader::loadThumbnail(const ThumbnailRequest& request, const PreviewProvider& preview)
{
    ThumbnailResult result;
    QImage source;
    if (!request.thumbPath.isEmpty() && QFileInfo::exists(request.thumbPath)) {
        source = readStoredThumbnail(request, &result.originalSize);
        if (source.isNull())
            KPLogLogDomainMessage(kLogDomain, 1,
                                  QStringLiteral("%1 cannot be decoded; made again").arg(request.thumbPath));
    }
    if (source.isNull()) {
        source = preview ? preview(request.filePath) : QImage();
        if (source.isNull() || source.width() <= 0 || source.height() <= 0)
            return {};
        result.originalSize = source.size();
        if (request.safeBox) {
            if (auto written = KPLibraryFileManager::writeThumbnailFile(request.thumbPath, source); !written)
                KPLogLogDomainMessage(kLogDomain, 1, written.error().toString());
        } else if (request.files && !request.storedPath.isEmpty()) {
            if (auto written = request.files->addThumbByFile(request.storedPath, source))
                result.writtenThumbPath = *written;
            else
                KPLogLogDomainMessage(kLogDomain, 1, written.error().toString());
        }
    }
    const QSize fitted = fittedSize(result.originalSize, request.frameSize, request.frameImageSize, inset(request),
                                    effectiveScale(request));
    result.image = (source.size() == fitted ? source : source.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return result;
}

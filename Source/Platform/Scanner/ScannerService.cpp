#include "Platform/Scanner/ScannerService.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Scanner/SaneFrameAssembler.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <sane/sane.h>
#include <sane/saneopts.h>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("Scanner");
// Tuning: bytes asked of sane_read at a time.
constexpr SANE_Int kReadChunk = 64 * 1024;

std::unexpected<Error> saneError(SANE_Status status, const QString& what)
{
    return fail(kDomain, int(status), QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sane_strstatus(status))));
}

QString text(SANE_String_Const s)
{
    return s ? QString::fromUtf8(s) : QString();
}

template <class T>
void onMain(const ScannerService::Guard& guard, std::function<void(T)> callback, T value)
{
    if (!callback)
        return;
    Dispatch::main([guard, callback = std::move(callback), value = std::move(value)]() mutable {
        if (!guard.expired())
            callback(std::move(value));
    });
}

void postProgress(bool running)
{
    Dispatch::main([running] {
        NotificationCenter::defaultCenter().post(ScannerService::ScannerIsProgressNotification, running);
    });
}

} // namespace

struct ScannerService::Worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> scanning{false};
    std::thread thread;

    // Worker thread only.
    bool initialised = false;
    SANE_Handle handle = nullptr;

    Worker()
    {
        thread = std::thread([this] { run(); });
    }

    void run()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !tasks.empty(); });
                if (tasks.empty())
                    break;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
        closeHandle();
        if (initialised)
            sane_exit();
        initialised = false;
    }

    bool post(std::function<void()> task)
    {
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return false;
            tasks.push_back(std::move(task));
        }
        wake.notify_one();
        return true;
    }

    void stop()
    {
        cancelRequested = true;
        {
            std::lock_guard lock(mutex);
            if (stopping && !thread.joinable())
                return;
            stopping = true;
        }
        wake.notify_one();
        if (thread.joinable())
            thread.join();
    }

    Result<void> ensureInit()
    {
        if (initialised)
            return {};
        SANE_Int version = 0;
        const SANE_Status status = sane_init(&version, nullptr);
        if (status != SANE_STATUS_GOOD)
            return saneError(status, QStringLiteral("Scanners cannot be used"));
        initialised = true;
        return {};
    }

    void closeHandle()
    {
        if (handle) {
            sane_cancel(handle);
            sane_close(handle);
            handle = nullptr;
        }
    }

    // ---- options ----
    int findOption(const char* name) const
    {
        SANE_Int count = 0;
        if (sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
            return -1;
        for (SANE_Int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
            if (d && d->name && qstrcmp(d->name, name) == 0)
                return i;
        }
        return -1;
    }

    QStringList stringList(int index) const
    {
        QStringList out;
        const SANE_Option_Descriptor* d = index > 0 ? sane_get_option_descriptor(handle, index) : nullptr;
        if (d && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
            for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s)
                out.append(text(*s));
        return out;
    }

    double numberValue(const SANE_Option_Descriptor* d, SANE_Word word) const
    {
        return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : double(word);
    }

    ScannerOptions readOptions() const
    {
        ScannerOptions out;
        out.sources = stringList(findOption(SANE_NAME_SCAN_SOURCE));
        out.modes = stringList(findOption(SANE_NAME_SCAN_MODE));
        const int res = findOption(SANE_NAME_SCAN_RESOLUTION);
        if (const SANE_Option_Descriptor* d = res > 0 ? sane_get_option_descriptor(handle, res) : nullptr) {
            if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
                for (SANE_Int i = 1; i <= d->constraint.word_list[0]; ++i)
                    out.resolutions.append(numberValue(d, d->constraint.word_list[i]));
            } else if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
                out.resolutionIsRange = true;
                out.resolutions = {numberValue(d, d->constraint.range->min), numberValue(d, d->constraint.range->max)};
            }
        }
        const auto left = range(SANE_NAME_SCAN_TL_X), top = range(SANE_NAME_SCAN_TL_Y);
        const auto right = range(SANE_NAME_SCAN_BR_X), bottom = range(SANE_NAME_SCAN_BR_Y);
        if (left && top && right && bottom)
            out.maximumArea = QRectF(QPointF(left->first, top->first), QPointF(right->second, bottom->second));
        return out;
    }

    // The two ends of a numeric option's range, in the scanner's own units.
    std::optional<std::pair<double, double>> range(const char* name) const
    {
        const int index = findOption(name);
        const SANE_Option_Descriptor* d = index > 0 ? sane_get_option_descriptor(handle, index) : nullptr;
        if (!d || d->constraint_type != SANE_CONSTRAINT_RANGE || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED))
            return std::nullopt;
        return std::pair{numberValue(d, d->constraint.range->min), numberValue(d, d->constraint.range->max)};
    }

    Result<void> setOption(const char* name, const QVariant& value)
    {
        const int index = findOption(name);
        if (index < 0)
            return fail(kDomain, 10, QStringLiteral("The scanner has no option \"%1\"").arg(QString::fromUtf8(name)));
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, index);
        if (!d || !SANE_OPTION_IS_SETTABLE(d->cap) || !SANE_OPTION_IS_ACTIVE(d->cap))
            return fail(kDomain, 10, QStringLiteral("The option \"%1\" cannot be set now").arg(QString::fromUtf8(name)));
        SANE_Status status = SANE_STATUS_INVAL;
        switch (d->type) {
        case SANE_TYPE_BOOL: {
            SANE_Bool v = value.toBool() ? SANE_TRUE : SANE_FALSE;
            status = sane_control_option(handle, index, SANE_ACTION_SET_VALUE, &v, nullptr);
            break;
        }
        case SANE_TYPE_INT: {
            SANE_Int v = SANE_Int(qRound(value.toDouble()));
            status = sane_control_option(handle, index, SANE_ACTION_SET_VALUE, &v, nullptr);
            break;
        }
        case SANE_TYPE_FIXED: {
            SANE_Fixed v = SANE_FIX(value.toDouble());
            status = sane_control_option(handle, index, SANE_ACTION_SET_VALUE, &v, nullptr);
            break;
        }
        case SANE_TYPE_STRING: {
            QByteArray v = value.toString().toUtf8();
            v.resize(std::max<qsizetype>(v.size() + 1, d->size), '\0');
            status = sane_control_option(handle, index, SANE_ACTION_SET_VALUE, v.data(), nullptr);
            break;
        }
        default:
            break;
        }
        if (status != SANE_STATUS_GOOD)
            return saneError(status, QStringLiteral("The option \"%1\" was refused").arg(QString::fromUtf8(name)));
        return {};
    }

    Result<void> applySettings(const ScanSettings& s)
    {
        // Source and mode first: they change which of the others are active.
        if (!s.source.isEmpty())
            if (auto ok = setOption(SANE_NAME_SCAN_SOURCE, s.source); !ok)
                return ok;
        if (!s.mode.isEmpty())
            if (auto ok = setOption(SANE_NAME_SCAN_MODE, s.mode); !ok)
                return ok;
        for (auto it = s.extraOptions.begin(); it != s.extraOptions.end(); ++it)
            if (auto ok = setOption(it.key().toUtf8().constData(), it.value()); !ok)
                return ok;
        if (s.resolution > 0)
            if (auto ok = setOption(SANE_NAME_SCAN_RESOLUTION, s.resolution); !ok)
                return ok;
        if (!s.area.isEmpty()) {
            // Opened to the whole bed first: some backends refuse a top-left corner past the
            // bottom-right one the last scan left, whichever order the four are set in.
            for (const char* name : {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y})
                if (const auto r = range(name))
                    (void)setOption(name, r->first);
            for (const char* name : {SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y})
                if (const auto r = range(name))
                    (void)setOption(name, r->second);
            for (auto [name, v] : {std::pair{SANE_NAME_SCAN_TL_X, s.area.left()}, std::pair{SANE_NAME_SCAN_TL_Y, s.area.top()},
                                   std::pair{SANE_NAME_SCAN_BR_X, s.area.right()}, std::pair{SANE_NAME_SCAN_BR_Y, s.area.bottom()}})
                if (auto ok = setOption(name, v); !ok)
                    return ok;
        }
        return {};
    }

    // ---- scanning ----
    static SaneFrameAssembler::Format formatOf(SANE_Frame frame)
    {
        switch (frame) {
        case SANE_FRAME_RGB: return SaneFrameAssembler::Format::RGB;
        case SANE_FRAME_RED: return SaneFrameAssembler::Format::Red;
        case SANE_FRAME_GREEN: return SaneFrameAssembler::Format::Green;
        case SANE_FRAME_BLUE: return SaneFrameAssembler::Format::Blue;
        default: return SaneFrameAssembler::Format::Gray;
        }
    }

    // One page, every frame of it. started: sane_start already answered GOOD for the first frame.
    Result<QImage> readPage()
    {
        SaneFrameAssembler assembler;
        std::vector<SANE_Byte> buffer(kReadChunk);
        for (bool first = true;; first = false) {
            if (!first) {
                const SANE_Status status = sane_start(handle);
                if (status != SANE_STATUS_GOOD)
                    return saneError(status, QStringLiteral("The scan stopped"));
            }
            SANE_Parameters p{};
            SANE_Status status = sane_get_parameters(handle, &p);
            if (status != SANE_STATUS_GOOD)
                return saneError(status, QStringLiteral("The scan stopped"));
            if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && p.format != SANE_FRAME_RED
                && p.format != SANE_FRAME_GREEN && p.format != SANE_FRAME_BLUE)
                return fail(kDomain, 21, QStringLiteral("The scanner sent a frame this program cannot read"));
            if (auto ok = assembler.beginFrame({formatOf(p.format), bool(p.last_frame), p.bytes_per_line,
                                                p.pixels_per_line, p.lines, p.depth});
                !ok)
                return std::unexpected(ok.error());
            for (;;) {
                if (cancelRequested)
                    return fail(kDomain, kCancelled, QStringLiteral("The scan was cancelled"));
                SANE_Int length = 0;
                status = sane_read(handle, buffer.data(), kReadChunk, &length);
                if (status == SANE_STATUS_EOF)
                    break;
                if (status != SANE_STATUS_GOOD)
                    return saneError(status, QStringLiteral("The scan stopped"));
                if (auto ok = assembler.append(reinterpret_cast<const char*>(buffer.data()), length); !ok)
                    return std::unexpected(ok.error());
            }
            if (p.last_frame)
                break;
        }
        return assembler.image();
    }

    static Result<QString> writePage(const QImage& image, const QString& folder)
    {
        // Unique names: several scans of one sheet write into the same folder.
        const QString path = QStringLiteral("%1/%2.png").arg(folder, newUUIDString());
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
            return fail(kDomain, 11, QStringLiteral("The scanned page could not be written to %1").arg(path));
        return path;
    }
};

namespace {
// Made on first use on the main thread and shut down at quit, never destroyed by static
// destruction: its worker may still be in a backend then.
std::atomic<ScannerService*> sharedService{nullptr};
} // namespace

ScannerService& ScannerService::shared()
{
    if (!sharedService.load())
        sharedService = new ScannerService();
    return *sharedService.load();
}

void ScannerService::shutdownShared()
{
    if (ScannerService* service = sharedService.load())
        service->shutdown();
}

ScannerService::ScannerService()
    : m_worker(std::make_unique<Worker>())
{
}

ScannerService::~ScannerService()
{
    shutdown();
}

void ScannerService::shutdown()
{
    m_worker->stop();
}

void ScannerService::listDevices(Guard guard, std::function<void(Result<QList<ScannerDevice>>)> done)
{
    Worker* w = m_worker.get();
    const bool queued = w->post([w, guard, done] {
        auto list = [w]() -> Result<QList<ScannerDevice>> {
            if (auto ok = w->ensureInit(); !ok)
                return std::unexpected(ok.error());
            const SANE_Device** list = nullptr;
            const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
            if (status != SANE_STATUS_GOOD)
                return saneError(status, QStringLiteral("The scanners could not be listed"));
            QList<ScannerDevice> devices;
            for (const SANE_Device** d = list; d && *d; ++d)
                devices.append({text((*d)->name), text((*d)->vendor), text((*d)->model), text((*d)->type)});
            return devices;
        };
        onMain(guard, done, list());
    });
    if (!queued)
        onMain<Result<QList<ScannerDevice>>>(guard, done, fail(kDomain, 1, QStringLiteral("Scanners are shut down")));
}

void ScannerService::openDevice(const QString& name, Guard guard, std::function<void(Result<ScannerOptions>)> done)
{
    Worker* w = m_worker.get();
    const bool queued = w->post([w, name, guard, done] {
        auto open = [&]() -> Result<ScannerOptions> {
            if (auto ok = w->ensureInit(); !ok)
                return std::unexpected(ok.error());
            w->closeHandle();
            SANE_Handle handle = nullptr;
            const SANE_Status status = sane_open(name.toUtf8().constData(), &handle);
            if (status != SANE_STATUS_GOOD)
                return saneError(status, QStringLiteral("The scanner %1 could not be opened").arg(name));
            w->handle = handle;
            return w->readOptions();
        };
        onMain(guard, done, open());
    });
    if (!queued)
        onMain<Result<ScannerOptions>>(guard, done, fail(kDomain, 1, QStringLiteral("Scanners are shut down")));
}

void ScannerService::closeDevice()
{
    Worker* w = m_worker.get();
    w->post([w] { w->closeHandle(); });
}

void ScannerService::scan(const ScanSettings& settings, const QString& folder, Guard guard,
                          std::function<void(const QImage&, const QString&)> onPage,
                          std::function<void(Result<int>)> onEnd)
{
    Worker* w = m_worker.get();
    w->scanning = true;
    w->cancelRequested = false;
    postProgress(true);
    const bool queued = w->post([w, settings, folder, guard, onPage, onEnd] {
        auto end = [&](Result<int> result) {
            if (w->handle)
                sane_cancel(w->handle);
            w->scanning = false;
            postProgress(false);
            onMain(guard, onEnd, std::move(result));
        };
        if (!w->handle)
            return end(fail(kDomain, 2, QStringLiteral("No scanner is open")));
        if (auto ok = w->applySettings(settings); !ok)
            return end(std::unexpected(ok.error()));
        int pages = 0;
        for (;;) {
            if (w->cancelRequested)
                return end(fail(kDomain, kCancelled, QStringLiteral("The scan was cancelled")));
            const SANE_Status status = sane_start(w->handle);
            if (status == SANE_STATUS_NO_DOCS && pages > 0)
                break; // the feeder is empty: the batch is complete
            if (status != SANE_STATUS_GOOD)
                return end(saneError(status, QStringLiteral("The scan could not start")));
            auto page = w->readPage();
            if (!page)
                return end(std::unexpected(page.error()));
            ++pages;
            QString path;
            if (!folder.isEmpty()) {
                auto written = Worker::writePage(*page, folder);
                if (!written)
                    return end(std::unexpected(written.error()));
                path = *written;
            }
            if (onPage)
                Dispatch::main([guard, onPage, image = *page, path] {
                    if (!guard.expired())
                        onPage(image, path);
                });
            if (!settings.batch)
                break;
        }
        end(pages);
    });
    if (!queued) {
        w->scanning = false;
        postProgress(false);
        onMain<Result<int>>(guard, onEnd, fail(kDomain, 1, QStringLiteral("Scanners are shut down")));
    }
}

void ScannerService::cancel()
{
    m_worker->cancelRequested = true;
}

bool ScannerService::isScanning() const
{
    return m_worker->scanning;
}

} // namespace platform

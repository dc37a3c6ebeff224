#include "Platform/Content/PdfContent.h"

#include <QFileInfo>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include <poppler-qt6.h>

namespace platform {

namespace {

// Tuning: poppler jobs that may run at once, runaway ones included. When runaway files hold
// them all, new jobs wait for one to come free until their own deadline, so a folder full of
// them costs some cores for a while, never a thread per file.
int jobSlots()
{
    return std::max(8, QThread::idealThreadCount());
}

// Tuning: how long past its deadline a job may take to notice it before it is left behind.
constexpr qint64 kGraceMs = 1000;

// A runaway job may still end after main() has returned, so the state it touches on its way
// out is never destroyed.
struct SharedState {
    // Guards the creation and destruction of poppler documents, which set up and tear down
    // the binding's process-wide state; nothing else of a document needs it.
    std::mutex lifetime;
    std::mutex slotsLock;
    std::condition_variable slotFreed;
    int running = 0; // jobs holding a slot
    Poppler::Document* keptOpen = nullptr; // see preparePoppler(); never closed
};

SharedState& shared()
{
    static SharedState* state = new SharedState;
    return *state;
}

std::mutex& lifetimeLock()
{
    return shared().lifetime;
}

// A one-page PDF of a coloured square, its cross-reference table worked out here.
QByteArray warmUpPdf()
{
    const QByteArray content = "0.5 0.2 0.1 rg 0 0 8 8 re f";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 8 8] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// Damaged files make poppler describe every repair it tries; the caller gets one error instead.
// And poppler makes its colour-management profiles, which every page drawn or read shares, the
// first time it interprets a page, without a lock: two first pages interpreted at once make
// them twice, and one thread frees the profile the other is using. So before any job opens
// its document, one small page is drawn here, once, while every other job waits.
// That document then stays open for good: the binding tears its process-wide state down when
// the last document closes and builds it again with the next, which cost a job on its own
// (one file after the other) about a fifth more time than jobs that overlap.
void preparePoppler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
        std::unique_ptr<Poppler::Document> document;
        {
            std::lock_guard lock(lifetimeLock());
            document = Poppler::Document::loadFromData(warmUpPdf());
        }
        if (document) {
            if (const std::unique_ptr<Poppler::Page> page = document->page(0))
                page->renderToImage(72.0, 72.0);
        }
        shared().keptOpen = document.release();
    });
}

// One open document, used on one thread, closed under the lifetime lock.
class OpenedPdf {
public:
    explicit OpenedPdf(std::unique_ptr<Poppler::Document> document) : m_document(std::move(document)) {}
    OpenedPdf(OpenedPdf&&) = default;
    OpenedPdf& operator=(OpenedPdf&&) = delete;
    ~OpenedPdf()
    {
        if (!m_document)
            return;
        std::lock_guard lock(lifetimeLock());
        m_document.reset();
    }

    Poppler::Document& operator*() const { return *m_document; }
    Poppler::Document* operator->() const { return m_document.get(); }
    explicit operator bool() const { return m_document != nullptr; }

private:
    std::unique_ptr<Poppler::Document> m_document;
};

template <typename Load>
Result<OpenedPdf> openWith(const QString& label, Load load)
{
    preparePoppler();
    std::unique_ptr<Poppler::Document> loaded;
    {
        std::lock_guard lock(lifetimeLock());
        loaded = load();
    }
    OpenedPdf pdf(std::move(loaded));
    if (!pdf)
        return contentError(ContentError::Unreadable, QStringLiteral("not a readable PDF: %1").arg(label));
    if (pdf->isLocked())
        return contentError(ContentError::Encrypted, QStringLiteral("the PDF is protected: %1").arg(label));
    if (pdf->numPages() <= 0)
        return contentError(ContentError::Unreadable, QStringLiteral("a PDF without pages: %1").arg(label));
    pdf->setRenderHint(Poppler::Document::Antialiasing);
    pdf->setRenderHint(Poppler::Document::TextAntialiasing);
    return pdf;
}

Result<OpenedPdf> open(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return contentError(ContentError::NotFound, QStringLiteral("no such PDF: %1").arg(path));
    return openWith(path, [&] { return Poppler::Document::load(path); });
}

QString embeddedLabel()
{
    return QStringLiteral("the embedded PDF");
}

Result<OpenedPdf> open(const QByteArray& pdf)
{
    return openWith(embeddedLabel(), [&] { return Poppler::Document::loadFromData(pdf); });
}

// poppler asks this while it interprets a page; the closure carries the job's context.
bool deadlinePassed(const QVariant& closure)
{
    const auto* ctx = static_cast<const ExtractionContext*>(closure.value<void*>());
    return ctx && ctx->expired();
}

QVariant closureOf(const ExtractionContext& ctx)
{
    return QVariant::fromValue(static_cast<void*>(const_cast<ExtractionContext*>(&ctx)));
}

// Typeset text often stores "fi", "fl", "ffi"… as one ligature character, which a search for
// the plain letters would never find.
QString withoutLigatures(QString word)
{
    constexpr char16_t kFirst = 0xFB00, kLast = 0xFB06; // ﬀ ﬁ ﬂ ﬃ ﬄ ﬅ ﬆ
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char16_t c = word.at(i).unicode();
        if (c < kFirst || c > kLast)
            continue;
        const QString letters = QString(QChar(c)).normalized(QString::NormalizationForm_KC);
        word.replace(i, 1, letters);
        i += letters.size() - 1;
    }
    return word;
}

Result<ExtractedText> readText(const OpenedPdf& pdf, ExtractionContext& ctx)
{
    TextBuffer out(ctx);
    const int total = pdf->numPages();
    const int pages = qMin(total, ctx.limits().maxPdfPages);
    if (pages < total)
        ctx.markTruncated();
    for (int index = 0; index < pages && !out.done(); ++index) {
        const std::unique_ptr<Poppler::Page> page = pdf->page(index);
        if (!page)
            continue;
        out.newline();
        // Words come in reading order; a word without a next one ends its line.
        for (const auto& word : page->textList(Poppler::Page::Rotate0, deadlinePassed, closureOf(ctx))) {
            if (!out.append(withoutLigatures(word->text())))
                break;
            const bool more = word->nextWord() ? (!word->hasSpaceAfter() || out.append(QLatin1Char(' '))) : out.newline();
            if (!more)
                break;
        }
    }
    return finishExtraction(out, pdf->info(QStringLiteral("Title")));
}

// Paper is opaque; a transparent page would otherwise be stored with an alpha channel.
QImage onWhite(const QImage& page)
{
    if (!page.hasAlphaChannel())
        return page.convertToFormat(QImage::Format_RGB32);
    QImage opaque(page.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, page);
    painter.end();
    return opaque;
}

Result<QImage> drawFirstPage(const OpenedPdf& pdf, const QSize& box, ExtractionContext& ctx, const QString& label)
{
    const std::unique_ptr<Poppler::Page> page = pdf->page(0);
    // The size poppler reports is already turned the way the page asks to be shown.
    const QSizeF points = page ? page->pageSizeF() : QSizeF();
    if (!(points.width() > 0 && points.height() > 0 && std::isfinite(points.width() * points.height())) || box.isEmpty())
        return contentError(ContentError::Unreadable, QStringLiteral("the first page has no size: %1").arg(label));
    const QSize size = points.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1)).boundedTo(box);
    const double xres = 72.0 * size.width() / points.width();
    const double yres = 72.0 * size.height() / points.height();
    if (ctx.expired())
        return contentError(ContentError::TimedOut, QStringLiteral("ran out of time before drawing %1").arg(label));
    const QImage image = page->renderToImage(xres, yres, 0, 0, size.width(), size.height(), Poppler::Page::Rotate0,
                                             nullptr, nullptr, deadlinePassed, closureOf(ctx));
    // An interrupted drawing is half a page; better the kind's icon than that.
    if (ctx.expired())
        return contentError(ContentError::TimedOut, QStringLiteral("ran out of time drawing %1").arg(label));
    if (image.isNull())
        return contentError(ContentError::Unreadable, QStringLiteral("the first page cannot be drawn: %1").arg(label));
    return onWhite(image);
}

// A page of points drawn at 72 dpi, shrunk as a whole to at most maxPixels. The sides are bounded
// one by one, in floating point, before they become whole pixels: a page a trillion points long
// and two high would shrink by area to a side no int holds, and a side under one pixel is raised
// to one at the cost of the other.
QSize pagePixels(const QSizeF& points, qint64 maxPixels)
{
    const double limit = double(std::clamp<qint64>(maxPixels, 1, std::numeric_limits<int>::max()));
    const double shrink = std::min(1.0, std::sqrt(limit / (points.width() * points.height())));
    const double height = std::clamp(std::round(points.height() * shrink), 1.0, limit);
    const double width = std::clamp(std::round(points.width() * shrink), 1.0, std::floor(limit / height));
    return QSize(int(width), int(height));
}

Result<PdfContent::PageImages> drawPages(const OpenedPdf& pdf, int maxPages, qint64 maxPixels, ExtractionContext& ctx,
                                         const QString& label, const std::function<bool(const QSize&)>& admit)
{
    PdfContent::PageImages out;
    const int count = pdf->numPages();
    out.truncated = count > maxPages;
    for (int i = 0; i < std::min(count, maxPages); ++i) {
        const std::unique_ptr<Poppler::Page> page = pdf->page(i);
        const QSizeF points = page ? page->pageSizeF() : QSizeF();
        if (!(points.width() > 0 && points.height() > 0 && std::isfinite(points.width() * points.height())))
            return contentError(ContentError::Unreadable, QStringLiteral("page %1 has no size: %2").arg(i + 1).arg(label));
        const QSize size = pagePixels(points, maxPixels);
        if (admit && !admit(size)) {
            out.truncated = true;
            break;
        }
        if (ctx.expired())
            return contentError(ContentError::TimedOut, QStringLiteral("ran out of time drawing %1").arg(label));
        // Each side is scaled by its own factor: a sliver raised to one pixel keeps its length.
        const double xres = 72.0 * size.width() / points.width();
        const double yres = 72.0 * size.height() / points.height();
        const QImage image = page->renderToImage(xres, yres, 0, 0, size.width(), size.height(),
                                                 Poppler::Page::Rotate0, nullptr, nullptr, deadlinePassed, closureOf(ctx));
        if (ctx.expired())
            return contentError(ContentError::TimedOut, QStringLiteral("ran out of time drawing %1").arg(label));
        if (image.isNull())
            return contentError(ContentError::Unreadable, QStringLiteral("page %1 cannot be drawn: %2").arg(i + 1).arg(label));
        out.pages.append(onWhite(image));
    }
    return out;
}

// poppler reports trouble by its results; anything thrown (memory) must not leave the reader.
template <typename T, typename Job>
Result<T> guarded(const QString& label, Job&& job)
{
    try {
        return job();
    } catch (const std::exception& e) {
        return contentError(ContentError::Unreadable,
                            QStringLiteral("reading %1 failed: %2").arg(label, QString::fromLocal8Bit(e.what())));
    } catch (...) {
        return contentError(ContentError::Unreadable, QStringLiteral("reading %1 failed").arg(label));
    }
}

template <typename Predicate>
bool waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, const QDeadlineTimer& deadline,
               Predicate done)
{
    if (deadline.isForever()) {
        condition.wait(lock, done);
        return true;
    }
    return condition.wait_until(lock, deadline.deadline<std::chrono::steady_clock>(), done);
}

void releaseSlot()
{
    SharedState& state = shared();
    std::lock_guard lock(state.slotsLock);
    --state.running;
    state.slotFreed.notify_all();
}

template <typename T>
using Job = std::function<Result<T>(ExtractionContext&)>;

// Runs the job on a thread of its own and waits for it until the context's deadline (and a
// grace). Most work notices the deadline itself; what does not (one enormous image, a repair
// of a huge damaged file) is left to finish alone, its result dropped, holding its slot.
// The job works on a copy of the context, which comes back when it returns in time.
template <typename T>
Result<T> runBounded(ExtractionContext& ctx, const QString& label, const Job<T>& job)
{
    struct Run {
        explicit Run(const ExtractionContext& context) : ctx(context) {}
        ExtractionContext ctx;
        std::mutex mutex;
        std::condition_variable finished;
        std::optional<Result<T>> result;
    };
    QDeadlineTimer giveUp = ctx.deadline();
    if (!giveUp.isForever())
        giveUp += kGraceMs;
    {
        SharedState& state = shared();
        std::unique_lock lock(state.slotsLock);
        if (!waitUntil(state.slotFreed, lock, giveUp, [&] { return state.running < jobSlots(); }))
            return contentError(ContentError::TimedOut, QStringLiteral("no PDF reader came free in time for %1").arg(label));
        ++state.running;
    }
    const auto run = std::make_shared<Run>(ctx);
    const auto body = [run, job, label] {
        Result<T> result = guarded<T>(label, [&] { return job(run->ctx); });
        {
            std::lock_guard lock(run->mutex);
            run->result = std::move(result);
        }
        run->finished.notify_all();
        releaseSlot();
    };
    try {
        std::thread(body).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the job runs here, bounded only by what it notices itself.
        releaseSlot();
        return guarded<T>(label, [&] { return job(ctx); });
    }
    std::unique_lock lock(run->mutex);
    if (!waitUntil(run->finished, lock, giveUp, [&] { return run->result.has_value(); }))
        return contentError(ContentError::TimedOut, QStringLiteral("gave up on %1: the reader did not return in time").arg(label));
    ctx = run->ctx;
    return std::move(*run->result);
}

// The source is copied into the job (cheaply: Qt shares the data), which may outlive the call.
template <typename Source>
Result<ExtractedText> textOf(const Source& source, const QString& label, ExtractionContext& ctx)
{
    return runBounded<ExtractedText>(ctx, label, [source](ExtractionContext& jobCtx) -> Result<ExtractedText> {
        auto pdf = open(source);
        if (!pdf)
            return std::unexpected(pdf.error());
        return readText(*pdf, jobCtx);
    });
}

template <typename Source>
Result<QImage> firstPageOf(const Source& source, const QString& label, const QSize& box, ExtractionContext& ctx)
{
    return runBounded<QImage>(ctx, label, [source, label, box](ExtractionContext& jobCtx) -> Result<QImage> {
        auto pdf = open(source);
        if (!pdf)
            return std::unexpected(pdf.error());
        return drawFirstPage(*pdf, box, jobCtx, label);
    });
}

} // namespace

Result<ExtractedText> PdfContent::extractText(const QString& path, ExtractionContext& ctx)
{
    return textOf(path, path, ctx);
}

Result<ExtractedText> PdfContent::extractText(const QByteArray& pdf, ExtractionContext& ctx)
{
    return textOf(pdf, embeddedLabel(), ctx);
}

Result<QImage> PdfContent::renderFirstPage(const QString& path, const QSize& box, ExtractionContext& ctx)
{
    return firstPageOf(path, path, box, ctx);
}

Result<QImage> PdfContent::renderFirstPage(const QByteArray& pdf, const QSize& box, ExtractionContext& ctx)
{
    return firstPageOf(pdf, embeddedLabel(), box, ctx);
}

Result<PdfContent::PageImages> PdfContent::renderPages(const QString& path, int maxPages, qint64 maxPixels,
                                                      ExtractionContext& ctx, std::function<bool(const QSize&)> admit)
{
    return runBounded<PageImages>(ctx, path,
                                  [path, maxPages, maxPixels, admit = std::move(admit)](ExtractionContext& jobCtx) -> Result<PageImages> {
        auto pdf = open(path);
        if (!pdf)
            return std::unexpected(pdf.error());
        return drawPages(*pdf, std::max(0, maxPages), std::max<qint64>(1, maxPixels), jobCtx, path, admit);
    });
}

Result<QString> PdfContent::infoField(const QString& path, const QString& key, ExtractionContext& ctx)
{
    return runBounded<QString>(ctx, path, [path, key](ExtractionContext&) -> Result<QString> {
        auto pdf = open(path);
        if (!pdf)
            return std::unexpected(pdf.error());
        return (*pdf)->info(key);
    });
}

int PdfContent::runningJobs()
{
    SharedState& state = shared();
    std::lock_guard lock(state.slotsLock);
    return state.running;
}

bool PdfContent::waitForJobs(QDeadlineTimer deadline)
{
    SharedState& state = shared();
    std::unique_lock lock(state.slotsLock);
    return waitUntil(state.slotFreed, lock, deadline, [&] { return state.running == 0; });
}

} // namespace platform

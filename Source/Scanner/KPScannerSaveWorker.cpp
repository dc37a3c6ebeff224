#include "Scanner/KPScannerSaveWorker.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBFileInfo.h"
#include "Store/DBNode.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/WrittenPdf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

const QString kDomain = QStringLiteral("Scanner");
// ".pdf" plus room for a "_12345" collision suffix within a 255-byte file name.
constexpr int kMaxNameBytes = 255 - 4 - 7;

struct StreamCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

void logSave(const QString& message)
{
    KPLogLogDomainMessage(kDomain, 0, message);
}

} // namespace

KPScannerSaveWorker::KPScannerSaveWorker(Environment environment)
    : m_env(std::move(environment))
{
}

QString KPScannerSaveWorker::sanitizedFileName(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name)
        out.append(c == u'/' || c.category() == QChar::Other_Control ? QChar(u'_') : c);
    out = out.trimmed();
    while (out.toUtf8().size() > kMaxNameBytes) {
        int cut = int(out.size()) - 1;
        if (cut > 0 && out.at(cut).isLowSurrogate())
            --cut;
        out.truncate(cut);
    }
    return out;
}

QString KPScannerSaveWorker::nameError(const QString& name)
{
    const QString fileName = sanitizedFileName(name);
    if (fileName.isEmpty())
        return QStringLiteral("The document needs a name");
    // A name with a leading dot would hide the file, and folder walks skip hidden files, so the
    // document would drop out of its library; the other ways of naming a file refuse it too.
    if (!platform::FileManager::isUsableFileName(fileName + QStringLiteral(".pdf")))
        return platform::localizedString(QStringLiteral("The name \"%@\" cannot be used as a file name."))
            .replace(QStringLiteral("%@"), name.trimmed());
    return {};
}

QSize KPScannerSaveWorker::pageSize(const QList<KPCGImageStoreObj::Ptr>& pages)
{
    QSize size(0, 0);
    for (const auto& page : pages) {
        const QSize turned = page->turnedSize();
        size = size.expandedTo(turned.isValid() ? turned : QSize(0, 0));
    }
    return size;
}

platform::Result<bool> KPScannerSaveWorker::writePdf(const QList<KPCGImageStoreObj::Ptr>& pages,
                                                     const QString& path, const std::atomic<bool>& cancel)
{
    const QSize largest = pageSize(pages);
    if (largest.isEmpty())
        return platform::fail(kDomain, 1, QStringLiteral("There is no scanned page to save"));
    const double fitScale = std::min(1.0, double(kMaxPageSide) / std::max(largest.width(), largest.height()));
    const QSizeF pagePoints(largest.width() * fitScale, largest.height() * fitScale);

    // The writer goes through a stream of our own, so that what it wrote can be flushed, synced
    // and checked: it reports success even when the disk filled under it.
    std::unique_ptr<std::FILE, StreamCloser> stream(std::fopen(QFile::encodeName(path).constData(), "wb"));
    if (!stream)
        return platform::fail(kDomain, 2, QStringLiteral("The PDF file could not be made"));
    bool cancelled = false;
    long long drawn = 0;
    {
        QFile device;
        if (!device.open(stream.get(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            return platform::fail(kDomain, 2, QStringLiteral("The PDF file could not be made"));
        QPdfWriter writer(&device);
        writer.setResolution(72);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setPageSize(QPageSize(pagePoints, QPageSize::Point, QString(), QPageSize::ExactMatch));
        QPainter painter;
        for (const auto& page : pages) {
            const QImage image = page->CGImage();
            if (image.isNull())
                continue;
            if (drawn == 0) {
                if (!painter.begin(&writer))
                    return platform::fail(kDomain, 2, QStringLiteral("The PDF file could not be made"));
                // Scans must not be re-encoded as JPEG.
                painter.setRenderHint(QPainter::LosslessImageRendering);
            } else if (!writer.newPage()) {
                painter.end();
                return platform::fail(kDomain, 2, QStringLiteral("The PDF file could not be written"));
            }
            ++drawn;
            const int a = KPQuarterTurn(page->angle());
            painter.save();
            painter.translate(pagePoints.width() / 2, pagePoints.height() / 2);
            painter.scale(fitScale, fitScale);
            // A counter-clockwise turn on the page is a negative one in the painter's y-down space.
            painter.rotate(-a);
            painter.drawImage(QPointF(-image.width() / 2.0, -image.height() / 2.0), image);
            painter.restore();
            if (cancel.load()) {
                cancelled = true;
                break;
            }
        }
        if (painter.isActive() && !painter.end())
            return platform::fail(kDomain, 2, QStringLiteral("The PDF file could not be written"));
        device.close();
    }
    if (cancelled)
        return false;
    const QString failure = WrittenPdf::finish(stream.release(), path, drawn);
    if (!failure.isEmpty())
        return platform::fail(kDomain, 2, QStringLiteral("The PDF file could not be written: %1").arg(failure));
    return true;
}

KPScannerSaveWorker::Outcome KPScannerSaveWorker::run(const QList<KPCGImageStoreObj::Ptr>& pages,
                                                      const QString& name, quint64 nodeID,
                                                      const std::atomic<bool>& cancel) const
{
    Outcome outcome;
    auto fail = [&](const QString& error) {
        logSave(error);
        outcome.error = error;
        return outcome;
    };
    if (const QString refused = nameError(name); !refused.isEmpty())
        return fail(refused);
    const QString fileName = sanitizedFileName(name);
    if (!m_env.files || !m_env.insert)
        return fail(QStringLiteral("The library is not open"));

    const QString folder = m_env.temporaryFolder + QStringLiteral("/tmpScanner");
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("The folder %1 could not be made").arg(folder));
    const QString pdfPath = folder + u'/' + fileName + QStringLiteral(".pdf");
    // A leftover of a save that was killed half-way is not ours to keep.
    QFile::remove(pdfPath);

    const auto written = writePdf(pages, pdfPath, cancel);
    if (!written || !*written || cancel.load()) {
        QFile::remove(pdfPath);
        return written ? outcome : fail(written.error().message);
    }

    QString absolutePath;
    const auto moved = m_env.files->moveFile(pdfPath, &absolutePath);
    if (!moved) {
        QFile::remove(pdfPath);
        return fail(QStringLiteral("The PDF could not be moved into the library: %1").arg(moved.error().message));
    }
    auto takeBack = [&](const QString& thumbPath) {
        QFile::remove(absolutePath);
        if (!thumbPath.isEmpty())
            QFile::remove(m_env.files->workFolder() + thumbPath);
    };

    const QImage preview = m_env.preview ? m_env.preview(absolutePath) : QImage();
    if (preview.isNull()) {
        takeBack({});
        return fail(QStringLiteral("No preview could be made of the saved PDF"));
    }
    const auto thumb = m_env.files->addThumbByFile(*moved, preview);
    if (!thumb) {
        takeBack({});
        return fail(QStringLiteral("The thumbnail could not be stored: %1").arg(thumb.error().message));
    }
    if (cancel.load()) {
        takeBack(*thumb);
        return outcome;
    }

    ImportRecord record;
    record.insert(QStringLiteral("Path"), *moved);
    record.insert(QStringLiteral("Original"), absolutePath);
    record.insert(QStringLiteral("Thumb"), *thumb);
    record.insert(QStringLiteral("comment"), QString());
    record.insert(QStringLiteral("IsIndex"), false);
    const auto inserted = m_env.insert(record, nodeID);
    if (!inserted) {
        takeBack(*thumb);
        return fail(QStringLiteral("The document could not be stored: %1").arg(inserted.error().message));
    }
    outcome.returnCode = 1;
    outcome.relativePath = *moved;
    return outcome;
}

platform::Result<void> KPScannerSaveWorker::insertIntoLibrary(const ImportRecord& record, quint64 nodeID,
                                                              DataBaseEngine* engine)
{
    DataBaseEngine* db = engine ? engine : DataBaseEngine::dataBaseEngine();
    if (!db || !db->isOpen())
        return platform::fail(kDomain, 3, QStringLiteral("The library store is not open"));
    const platform::ContextPtr context =
        platform::ManagedObjectContext::create(platform::ConcurrencyType::PrivateQueue, db->coordinator());
    std::weak_ptr<platform::ManagedObjectContext> main = db->context();
    const platform::ObserverToken merge = context->addDidSaveObserver([main](const platform::SaveNotification& note) {
        platform::Dispatch::main([main, note] {
            if (auto context = main.lock())
                context->mergeChangesFromContextDidSaveNotification(note);
        });
    });
    QString error;
    bool saved = false;
    context->performAndWait([&] {
        DBNode node;
        if (nodeID != 0) {
            const auto predicate = platform::Predicate::format(QStringLiteral("nodeID == %@"), {QVariant(nodeID)});
            if (predicate) {
                const auto found = db->queryRecordByName(DBNode::entityName(), *predicate, std::nullopt, context);
                if (found && !found->isEmpty())
                    node = DBNode(found->first());
            }
        }
        const QList<DBFileInfo> files = db->insertRecords({record}, node, {}, nullptr, context);
        if (files.isEmpty()) {
            error = QStringLiteral("no document record was made");
            return;
        }
        for (DBFileInfo file : files)
            file.setExtendField(DBFileInfo::kExtendFromScanner);
        saved = KPContextHelper::saveWithErrorHandler(context, [&](const platform::Error& e) { error = e.message; });
    });
    if (!saved)
        return platform::fail(kDomain, 4, error);
    return {};
}

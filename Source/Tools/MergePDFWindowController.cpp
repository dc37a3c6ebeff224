#include "Tools/MergePDFWindowController.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Sheet.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBRecent.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Store/KPLibraryFileManager.h"
#include "Tools/PDFMerge.h"
#include "Utilities/ImageQuickLook.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("PDFMerge");

} // namespace

MergePDFWindowController::MergePDFWindowController(const QStringList& filePaths, const DBNode& dbNode,
                                                   const QList<DBTag>& tags)
    : m_filePaths(filePaths)
    , m_dbNode(dbNode)
    , m_tags(tags)
{
    buildMergePDFWindow(m_outlets);
    m_sheet = std::make_unique<kit::Sheet>(m_outlets.window);
    m_sheet->setCancelCode(kCancelCode);
    QObject::connect(m_outlets.btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    QObject::connect(m_outlets.btnFinished, &QPushButton::clicked, this, [this] { btnFinishedClick(); });
}

MergePDFWindowController::~MergePDFWindowController() = default;

void MergePDFWindowController::beginSheet(QWidget* window)
{
    m_sheet->begin(window, [this](int returnCode) { sheetEnded(returnCode); });
}

void MergePDFWindowController::sheetEnded(int returnCode)
{
    // The sheet's widgets may be gone with its window: no result may reach them now. A merge
    // still running is dropped with its file.
    m_sheetEnded = true;
    if (returnCode != kFinishedCode && m_pdfMerge)
        m_pdfMerge->setIsCancel(true);
    m_pdfMerge.reset();
    deleteLater();
}

void MergePDFWindowController::mergePDFWithCompletedBlock(CompletedBlock block)
{
    if (m_pdfMerge || m_sheetEnded)
        return;
    m_completedBlock = std::move(block);
    m_outlets.progress->setRange(0, 0);
    m_pdfMerge = std::make_unique<PDFMerge>(m_filePaths);
    QPointer<MergePDFWindowController> self(this);
    m_pdfMerge->setCompletedBlock([self](const QString& mergedPath) {
        if (self)
            self->mergeCompleted(mergedPath);
    });
    m_pdfMerge->mergeWaitUntilDone(false);
}

void MergePDFWindowController::mergeCompleted(const QString& mergedPath)
{
    m_outlets.progress->setRange(0, 1);
    if (mergedPath.isEmpty()) {
        if (!m_pdfMerge->isCancel())
            showHintView(localizedString(QStringLiteral("Sorry the merge is failed, please try it again.")));
        return;
    }
    if (!storeMergedFile(mergedPath)) {
        QFile::remove(mergedPath);
        showHintView(localizedString(QStringLiteral("Sorry the merge is failed, please try it again.")));
        return;
    }
    showHintView();
}

bool MergePDFWindowController::storeMergedFile(const QString& mergedPath)
{
    DataBaseEngine* engine = m_engine ? m_engine : DataBaseEngine::dataBaseEngine();
    const ContextPtr context = engine->context();
    if (!context) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The library is not open; the merged file is dropped"));
        return false;
    }
    const KPLibraryFileManager& files = m_files ? *m_files : KPLibraryFileManager::defaultManager();
    const QImage image = m_preview ? m_preview(mergedPath, kQuickLookPreviewSize)
                                   : imageWithPreviewOfFileAtPath(mergedPath, kQuickLookPreviewSize, false);
    QString storedPath;
    const Result<QString> relativePath = files.moveFile(mergedPath, &storedPath);
    if (!relativePath) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Merged file not stored: %1").arg(relativePath.error().toString()));
        return false;
    }

    ImportRecord record{{ImportRecordKey::Path, *relativePath},
                        {ImportRecordKey::Original, storedPath},
                        {ImportRecordKey::Comment, QStringLiteral("")}};
    if (!image.isNull()) {
        if (const Result<QString> thumb = files.addThumbByFile(*relativePath, image))
            record.insert(ImportRecordKey::Thumb, *thumb);
        else
            KPLogLogDomainMessage(kLogDomain, 0, thumb.error().toString());
    }
    auto recent = DBRecord::insertNewObject<DBRecent>(context);
    recent.setDate(QDateTime::currentDateTimeUtc());
    recent.setType(0);
    // The copy and its thumbnail go again when no record keeps them.
    const auto dropFiles = [&] {
        QFile::remove(storedPath);
        const QString thumb = record.value(ImportRecordKey::Thumb).toString();
        if (!thumb.isEmpty())
            QFile::remove(files.workFolder() + thumb);
    };
    const QList<DBFileInfo> inserted = engine->insertRecords({record}, m_dbNode, recent, nullptr, context);
    if (inserted.isEmpty()) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("No record made for %1").arg(storedPath));
        context->deleteObject(recent.object());
        dropFiles();
        return false;
    }
    DBFileInfo file = inserted.first();
    file.setIsIndex(false);
    // A merged document comes from no outside file.
    file.metadata().setFrom(QString());
    QSet<DBTag> linked;
    for (const DBTag& tag : std::as_const(m_tags)) {
        if (tag && !linked.contains(tag)) {
            linked.insert(tag);
            file.addTagsObject(tag);
        }
    }
    if (!KPContextHelper::save(context)) {
        // Taken back out whole: a record saved later would otherwise stand for a merge the
        // user was told had failed.
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The merged document %1 could not be saved").arg(storedPath));
        // Its metadata and index record go with it (cascade).
        for (const DBFileInfo& made : inserted)
            context->deleteObject(made.object());
        context->deleteObject(recent.object());
        dropFiles();
        return false;
    }
    return true;
}

void MergePDFWindowController::showHintView(const QString& text)
{
    if (!text.isNull())
        m_outlets.txtHint->setText(text);
    m_outlets.workView->hide();
    m_outlets.hintView->show();
    m_outlets.btnFinished->setFocus();
}

void MergePDFWindowController::btnCancelClick()
{
    if (m_pdfMerge)
        m_pdfMerge->setIsCancel(true);
    m_outlets.progress->setRange(0, 1);
    m_sheet->end(kCancelCode);
}

void MergePDFWindowController::btnFinishedClick()
{
    m_sheet->end(kFinishedCode);
    if (const CompletedBlock block = std::exchange(m_completedBlock, nullptr))
        block();
}

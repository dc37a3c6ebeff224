#include "Tools/EmptyTrashWindowController.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/ObjectStore/FetchRequest.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/KPContextHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Store/DataBaseEngine.h"
#include "Tools/LocalizedCount.h"
#include "Tools/TaggedButton.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cerrno>
#include <sys/stat.h>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("EmptyTrash");

Result<Predicate> trashPredicate()
{
    return Predicate::parse(QStringLiteral("isTrash == YES && isNeedDelete == NO"));
}

// A document in the library's trash, read off its record.
struct TrashItem {
    ObjectID id;
    QString storedPath;  // as recorded
    QString filePath;    // absolute; empty when the stored path leads to no file of its own
    QString thumbPath;
    QString name;
};

QList<TrashItem> fetchTrashItems()
{
    QList<TrashItem> items;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        const Result<Predicate> predicate = trashPredicate();
        if (!predicate)
            return;
        const Result<QList<ManagedObjectPtr>> files =
            context->executeFetchRequest(FetchRequest(DBFileInfo::entityName(), *predicate));
        if (!files) {
            KPLogLogDomainMessage(kLogDomain, 0, files.error().toString());
            return;
        }
        for (const DBFileInfo& file : DBRecord::recordsOf<DBFileInfo>(*files)) {
            TrashItem item{file.objectID(), file.path(), DBHelper::CombinFileAbsolutePath(file),
                           DBHelper::CombinThumbAbsolutePath(file), QString()};
            item.name = item.filePath.isEmpty() ? file.title() : QFileInfo(item.filePath).fileName();
            items.append(item);
        }
    });
    return items;
}

bool isGone(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT;
}

// Whether the document's file is out of the way: moved to the Trash, already gone, or never
// recorded. A stored path that leads nowhere of its own is left alone.
bool disposeOfFile(const TrashItem& item)
{
    if (item.storedPath.isEmpty())
        return true;
    if (item.filePath.isEmpty()) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Move file to trash lost! %1").arg(item.storedPath));
        return false;
    }
    const Result<QString> moved = Workspace::shared().recycle(item.filePath);
    if (moved || isGone(item.filePath))
        return true;
    KPLogLogDomainMessage(kLogDomain, 0,
                          QStringLiteral("Move file to trash lost! %1 (%2)").arg(item.filePath, moved.error().toString()));
    return false;
}

} // namespace

struct EmptyTrashWindowController::State {
    std::atomic<bool> isCancel{false};
    // Main thread only.
    CloseBlock closeBlock;
    QPointer<EmptyTrashWindowController> controller;
    QPointer<QWidget> mainWindow;
    QPointer<QProgressBar> bar;
    QPointer<QLabel> fileName;
    bool working = false;
    bool sheetEnded = false;
    bool closed = false;
    qsizetype stayed = 0;
    kit::Token pause;

    // On a global queue.
    void run(const std::shared_ptr<State>& self)
    {
        const QList<TrashItem> items = fetchTrashItems();
        DispatchQueue::main().sync([&] {
            if (bar) {
                bar->setRange(0, int(items.size()));
                bar->setValue(0);
            }
        });
        QList<ObjectID> done;
        qsizetype kept = 0;
        for (qsizetype i = 0; i < items.size() && !isCancel.load(); ++i) {
            const TrashItem& item = items.at(i);
            DispatchQueue::main().sync([&] {
                if (fileName)
                    fileName->setText(item.name);
                if (bar)
                    bar->setValue(int(i + 1));
            });
            if (!disposeOfFile(item)) {
                ++kept;
                continue;
            }
            if (!item.thumbPath.isEmpty())
                QFile::remove(item.thumbPath);
            done.append(item.id);
        }
        if (!done.isEmpty()) {
            KPCoreDataAction::saveDataWithBlockInBackgroundAndWait([&](const ContextPtr& context) {
                for (const ObjectID& id : std::as_const(done)) {
                    DBFileInfo file(context->existingObjectWithID(id));
                    file.setIsNeedDelete(true);
                }
            });
        }
        Dispatch::main([self, kept, done] { self->workEnded(self, kept, done); });
    }

    void workEnded(const std::shared_ptr<State>& self, qsizetype kept, const QList<ObjectID>& done)
    {
        stayed = kept;
        const ContextPtr context = KPContextHelper::defaultContext();
        if (!KPContextHelper::save(context))
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The purge marks of the emptied trash are not saved yet"));
        // The emptied documents go now, with their index text and cached previews, rather than
        // at the next start: until then their words would stay readable in the library.
        DataBaseEngine::purgeDocuments(context, done);
        if (sheetEnded) {
            finish();
            return;
        }
        pause = kit::Scheduler::current().after(kClosePauseMs, [self] { self->finish(); });
    }

    void finish()
    {
        working = false;
        if (bar)
            bar->setRange(0, std::max(1, bar->maximum()));
        if (controller && !sheetEnded)
            controller->closeWindow(); // ends the sheet, which closes
        closeOnce();
    }

    void closeOnce()
    {
        if (!sheetEnded || working || closed)
            return;
        closed = true;
        if (const CloseBlock block = std::exchange(closeBlock, nullptr))
            block();
        if (stayed == 0)
            return;
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("%1 documents stay in the library's trash").arg(stayed));
        if (mainWindow)
            kit::Alert::withMessage(localizedCount(QStringLiteral("EmptyTrashFilesStayStr"), stayed), QString())
                .beginSheet(mainWindow, [](int) {});
    }
};

EmptyTrashWindowController::EmptyTrashWindowController() : m_state(std::make_shared<State>())
{
    buildEmptyTrashWindow(m_outlets);
    m_sheet = std::make_unique<kit::Sheet>(m_outlets.window);
    m_state->controller = this;
    m_state->bar = m_outlets.progressIndicator;
    m_state->fileName = m_outlets.textFileName;

    if (const ContextPtr context = KPContextHelper::defaultContext()) {
        const Result<Predicate> predicate = trashPredicate();
        const Result<qsizetype> count =
            predicate ? context->countForFetchRequest(FetchRequest(DBFileInfo::entityName(), *predicate))
                      : Result<qsizetype>(std::unexpected(predicate.error()));
        m_trashCount = count.value_or(0);
    }
    m_outlets.textField->setText(localizedCount(QStringLiteral("AreYouSureWantToDeleteStr"), m_trashCount));

    QObject::connect(m_outlets.btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    for (QPushButton* button : {m_outlets.btnCancel, m_outlets.btnStop}) {
        QObject::connect(button, &QPushButton::clicked, this,
                         [this, button] { btnCancelClick(buttonTag(button)); });
    }
}

EmptyTrashWindowController::~EmptyTrashWindowController()
{
    // Whatever work is left has no window to report to any more.
    m_state->isCancel.store(true);
}

void EmptyTrashWindowController::setupCloseBlock(CloseBlock block)
{
    m_state->closeBlock = std::move(block);
}

void EmptyTrashWindowController::beginSheet(QWidget* window)
{
    m_state->mainWindow = window ? window->window() : nullptr;
    m_sheet->begin(window, [this, state = m_state](int) {
        state->sheetEnded = true;
        if (state->working)
            state->isCancel.store(true);
        state->closeOnce();
        deleteLater();
    });
}

void EmptyTrashWindowController::btnOKClick()
{
    if (m_started)
        return;
    m_started = true;
    m_outlets.confirmView->hide();
    m_outlets.progressView->show();
    m_outlets.btnStop->setFocus();
    m_state->working = true;
    Dispatch::async(DispatchQueue::global(QueuePriority::Default), [state = m_state] { state->run(state); });
}

void EmptyTrashWindowController::btnCancelClick(int tag)
{
    if (tag == 1) {
        m_outlets.progressIndicator->setRange(0, std::max(1, m_outlets.progressIndicator->maximum()));
        m_state->isCancel.store(true);
    }
    closeWindow();
}

void EmptyTrashWindowController::closeWindow()
{
    m_sheet->end(kit::Sheet::kCancelCode);
}

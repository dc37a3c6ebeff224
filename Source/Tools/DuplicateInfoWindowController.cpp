#include "Tools/DuplicateInfoWindowController.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/ObjectStore/FetchRequest.h"
#include "Store/DBFileInfo.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Tools/DuplicationInfoViewController.h"
#include "Utilities/ImageHelpers.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/MD5Generator.h"

#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <atomic>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("Duplicate");

struct HashJob {
    QString path;
    ObjectID id;
    QString md5;
};

QList<DBFileInfo> fetchFiles(const ContextPtr& context, const QString& filter)
{
    const Result<Predicate> predicate = Predicate::parse(filter);
    if (!predicate)
        return {};
    const Result<QList<ManagedObjectPtr>> files = context->executeFetchRequest(FetchRequest(DBFileInfo::entityName(), *predicate));
    if (!files) {
        KPLogLogDomainMessage(kLogDomain, 0, files.error().toString());
        return {};
    }
    return DBRecord::recordsOf<DBFileInfo>(*files);
}

QList<HashJob> fetchHashJobs()
{
    QList<HashJob> jobs;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        for (const DBFileInfo& file : fetchFiles(context, QStringLiteral("metadata.md5 == nil && isTrash == NO")))
            jobs.append(HashJob{DBHelper::CombinFileAbsolutePath(file), file.objectID(), QString()});
    });
    return jobs;
}

void saveHashes(const QList<HashJob>& hashed)
{
    KPCoreDataAction::saveDataWithBlockInBackgroundAndWait([&](const ContextPtr& context) {
        for (const HashJob& job : hashed) {
            DBFileInfoMetadata metadata = DBFileInfo(context->existingObjectWithID(job.id)).metadata();
            metadata.setMd5(job.md5);
        }
    });
}

QList<DuplicateRecordInfo> fetchHashedRecords()
{
    QList<DuplicateRecordInfo> records;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        for (const DBFileInfo& file : fetchFiles(context, QStringLiteral("metadata.md5 != nil && isTrash == NO"))) {
            const DBFileInfoMetadata metadata = file.metadata();
            DuplicateRecordInfo info{file.objectID(), DBHelper::CombinFileAbsolutePath(file), metadata.dateCreated(),
                                     std::nullopt, DBHelper::CombinThumbAbsolutePath(file), metadata.md5()};
            if (metadata.valueForKey(QStringLiteral("fileSize")).isValid())
                info.fileSize = metadata.fileSize();
            records.append(info);
        }
    });
    return records;
}

} // namespace

struct DuplicateInfoWindowController::State {
    std::atomic<bool> isStop{false};
    QPointer<DuplicateInfoWindowController> controller; // main thread only

    // On a global queue: hash what has no hash yet, then group.
    void run(const std::shared_ptr<State>& self)
    {
        QList<HashJob> needMD5Records = fetchHashJobs();
        QList<HashJob> md5Records;
        while (!needMD5Records.isEmpty() && !isStop.load()) {
            HashJob job = needMD5Records.takeFirst();
            job.md5 = MD5Generator::createMD5ByFile(job.path);
            if (!job.md5.isNull())
                md5Records.append(job);
            if (md5Records.size() == kSaveBatch) {
                saveHashes(md5Records);
                md5Records.clear();
            }
        }
        if (!md5Records.isEmpty())
            saveHashes(md5Records);
        if (isStop.load())
            return;

        for (const QList<DuplicateRecordInfo>& group : DuplicateGrouping::groups(fetchHashedRecords())) {
            if (isStop.load())
                return;
            const QImage image = createCGImageFromFile(group.last().thumbPath);
            Dispatch::main([self, group, image] {
                if (self->controller && !self->isStop.load())
                    self->controller->newRecordWithInfos(group, image);
            });
        }
        Dispatch::main([self] {
            if (self->controller && !self->isStop.load())
                self->controller->foundAll();
        });
    }
};

DuplicateInfoWindowController::DuplicateInfoWindowController(QWidget* parent) : m_state(std::make_shared<State>())
{
    buildDuplicationInfoWindow(m_outlets, parent);
    m_state->controller = this;
    // The window owns its controller: both go when it closes.
    setParent(m_outlets.window);
    m_outlets.window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(m_outlets.window, &QDialog::finished, this, [state = m_state] { state->isStop.store(true); });
    QObject::connect(m_outlets.btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    QObject::connect(m_outlets.btnRemoveSelected, &QPushButton::clicked, this, [this] { btnRemoveSelectClick(); });
    m_outlets.scrollView->viewport()->installEventFilter(this);
}

DuplicateInfoWindowController::~DuplicateInfoWindowController()
{
    m_state->isStop.store(true);
}

bool DuplicateInfoWindowController::isStop() const
{
    return m_state->isStop.load();
}

void DuplicateInfoWindowController::showWindow()
{
    // Application-modal without a nested event loop (QDialog::open() would make it window-modal).
    m_outlets.window->setWindowModality(Qt::ApplicationModal);
    m_outlets.window->show();
    if (m_started)
        return;
    m_started = true;
    m_outlets.scrollView->hide();
    m_outlets.txtLabelInfo->hide();
    m_outlets.progressIndicator->setRange(0, 0);
    m_outlets.progressIndicator->show();
    Dispatch::async(DispatchQueue::global(QueuePriority::Default), [state = m_state] { state->run(state); });
}

void DuplicateInfoWindowController::showList()
{
    m_outlets.progressIndicator->setRange(0, 1);
    m_outlets.progressIndicator->hide();
    m_outlets.scrollView->show();
    m_outlets.txtLabelInfo->setText(DuplicateGrouping::groupCountText(m_dataSource.size()));
    m_outlets.txtLabelInfo->show();
}

void DuplicateInfoWindowController::newRecordWithInfos(const QList<DuplicateRecordInfo>& infos, const QImage& image)
{
    if (isStop())
        return;
    auto* group = new DuplicationInfoViewController(infos, image, m_outlets.documentView, this);
    if (m_reveal) {
        for (DuplicationInfoSelectView* row : group->views())
            row->setRevealHandler(m_reveal);
    }
    group->view()->show();
    m_dataSource.append(group);
    showList();
    layoutSubView();
}

void DuplicateInfoWindowController::foundAll()
{
    m_outlets.btnRemoveSelected->setEnabled(!m_dataSource.isEmpty());
    showList();
}

void DuplicateInfoWindowController::layoutSubView()
{
    const QWidget* viewport = m_outlets.scrollView->viewport();
    int total = 0;
    for (const DuplicationInfoViewController* group : std::as_const(m_dataSource))
        total += group->view()->height();
    const int documentHeight = std::max(viewport->height(), total);
    m_outlets.documentView->resize(std::max(0, viewport->width() - 2), documentHeight);
    int stacked = 0;
    for (DuplicationInfoViewController* group : std::as_const(m_dataSource)) {
        QWidget* view = group->view();
        stacked += view->height();
        const QRectF up(view->x(), documentHeight - stacked, view->width(), view->height());
        view->setGeometry(kit::toQt(up, documentHeight).toRect());
    }
}

bool DuplicateInfoWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && watched == m_outlets.scrollView->viewport())
        layoutSubView();
    return QObject::eventFilter(watched, event);
}

QList<ObjectID> DuplicateInfoWindowController::needRemoveObjIDs() const
{
    QList<ObjectID> chosen;
    for (const DuplicationInfoViewController* group : m_dataSource)
        chosen += group->needRemoveObjIDs();
    return chosen;
}

void DuplicateInfoWindowController::btnRemoveSelectClick()
{
    if (isStop() || m_removing)
        return;
    const QList<ObjectID> chosen = needRemoveObjIDs();
    if (chosen.isEmpty())
        return;
    const kit::Alert alert = kit::Alert::withMessage(
        localizedString(QStringLiteral("Do you want to delete selected documents?")), localizedString(QStringLiteral("OK")),
        localizedString(QStringLiteral("Cancel")), QString(),
        localizedString(QStringLiteral("The documents will be moved to Trash, and you cannot undo this action.")));
    QPointer<DuplicateInfoWindowController> self(this);
    alert.beginSheet(m_outlets.window, [self](int returnCode) {
        if (self)
            self->alertDidEnd(returnCode);
    });
}

void DuplicateInfoWindowController::alertDidEnd(int returnCode)
{
    if (returnCode != kit::Alert::kDefaultReturn || isStop() || m_removing)
        return;
    const QList<ObjectID> chosen = needRemoveObjIDs();
    if (chosen.isEmpty())
        return;
    m_removing = true;
    m_outlets.btnRemoveSelected->setEnabled(false);
    KPCoreDataAction::saveDataWithBlockInBackgroundAndWait([&](const ContextPtr& context) {
        for (const ObjectID& id : std::as_const(chosen)) {
            DBFileInfo file(context->existingObjectWithID(id));
            file.setIsTrash(true);
        }
    });
    NotificationCenter::defaultCenter().post(QStringLiteral("RefreshItemCountNotification"));
    QPointer<QDialog> window = m_outlets.window;
    kit::Scheduler::current().after(window, kCloseDelayMs, [window] {
        if (window)
            window->close();
    });
}

void DuplicateInfoWindowController::btnCancelClick()
{
    m_state->isStop.store(true);
    if (m_outlets.window)
        m_outlets.window->close();
}

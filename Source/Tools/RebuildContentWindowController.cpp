#include "Tools/RebuildContentWindowController.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Store/DBFileInfo.h"
#include "Store/KPCoreDataAction.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Search/KPIndexManager.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("RebuildContent");

} // namespace

struct RebuildContentWindowController::State {
    std::atomic<bool> isCancel{false};
    CompletedBlock compltedBlock;
    KPThumbnailRebuilder::PreviewProvider provider = KPThumbnailRebuilder::defaultPreviewProvider();
    QPointer<QDialog> window;
    QPointer<QLabel> hint;
    QPointer<QProgressBar> indicator;

    // From the rebuilding thread: the title of the document at hand, unless cancelled.
    void showHint(const QString& title)
    {
        Dispatch::main([this, self = shared(), title] {
            if (!isCancel.load() && hint)
                hint->setText(QStringLiteral("Rebuild Preview(\"%1\")").arg(title));
        });
    }
    // On the main thread, once the work is over.
    void finish()
    {
        if (!isCancel.load()) {
            if (indicator)
                indicator->setRange(0, 1);
            if (window)
                window->close();
        }
        if (compltedBlock) {
            const CompletedBlock block = std::move(compltedBlock);
            compltedBlock = nullptr;
            block();
        }
    }
    void rebuild(const DBFileInfo& file)
    {
        Result<void> rebuilt = KPThumbnailRebuilder::rebuildPreview(file, provider,
                                                                    [this](const QString& title) { showHint(title); });
        if (!rebuilt)
            KPLogLogDomainMessage(kLogDomain, 0, rebuilt.error().toString());
    }

    std::shared_ptr<State> shared() { return self.lock(); }
    std::weak_ptr<State> self;
};

RebuildContentWindowController::RebuildContentWindowController(QWidget* parent)
{
    setUp(parent);
}

RebuildContentWindowController::RebuildContentWindowController(const QList<ObjectID>& needRebuildItems,
                                                               CompletedBlock completedBlock, QWidget* parentWindow)
    : m_needRebuildItems(needRebuildItems), m_sheetWindow(parentWindow)
{
    setUp(nullptr);
    m_state->compltedBlock = std::move(completedBlock);
    // The sheet owns the form; the controller goes when the sheet ends, and takes both along.
    m_sheet = std::make_unique<platform::kit::Sheet>(m_outlets.window);
    m_ownsWindow = false;
    QObject::connect(m_outlets.window, &QDialog::finished, this, [this](int result) {
        if (m_sheet->isBegun())
            m_sheet->end(result);
        else if (!m_sheetWindow)
            deleteLater();
    });
}

RebuildContentWindowController::~RebuildContentWindowController()
{
    if (m_ownsWindow)
        delete m_outlets.window.data();
}

void RebuildContentWindowController::setUp(QWidget* parent)
{
    m_state = std::make_shared<State>();
    m_state->self = m_state;
    buildRebuildContent(m_outlets, parent);
    m_state->window = m_outlets.window;
    m_state->hint = m_outlets.txtHint;
    m_state->indicator = m_outlets.progressIndicator;

    QObject::connect(m_outlets.btnPreviewChecker, &QCheckBox::toggled, this, [this] { btnChangeClick(); });
    QObject::connect(m_outlets.btnIndexChecker, &QCheckBox::toggled, this, [this] { btnChangeClick(); });
    QObject::connect(m_outlets.btnRebuild, &QPushButton::clicked, this, [this] { btnRebuild(); });
    for (QPushButton* button : {m_outlets.btnClose, m_outlets.btnStop}) {
        QObject::connect(button, &QPushButton::clicked, this,
                         [this, button] { btnCancel(buttonTag(button)); });
    }
    btnChangeClick();
}

QDialog* RebuildContentWindowController::window() const
{
    return m_outlets.window;
}

bool RebuildContentWindowController::isCancel() const
{
    return m_state->isCancel.load();
}

void RebuildContentWindowController::setCompletedBlock(CompletedBlock block)
{
    m_state->compltedBlock = std::move(block);
}

void RebuildContentWindowController::setPreviewProvider(KPThumbnailRebuilder::PreviewProvider provider)
{
    m_state->provider = std::move(provider);
}

int RebuildContentWindowController::runModal()
{
    m_outlets.window->setWindowModality(Qt::ApplicationModal);
    return m_outlets.window->exec();
}

void RebuildContentWindowController::open()
{
    if (m_opened || !m_outlets.window)
        return;
    m_opened = true;
    const QPointer<RebuildContentWindowController> self(this);
    platform::kit::DialogService::shared().runModalWindow(m_outlets.window, m_outlets.window->parentWidget(), [self] {
        if (self)
            self->deleteLater();
    });
}

QPointer<RebuildContentWindowController> RebuildContentWindowController::openLibraryWindow(QWidget* parent)
{
    QPointer<RebuildContentWindowController> controller = new RebuildContentWindowController(parent);
    controller->open();
    return controller;
}

void RebuildContentWindowController::beginSheet()
{
    if (m_sheetWindow && m_sheet) {
        const QPointer<RebuildContentWindowController> self(this);
        platform::kit::DialogService::shared().beginSheet(m_sheetWindow, *m_sheet, [self](int) {
            if (self)
                self->deleteLater();
        });
    } else {
        m_outlets.window->setWindowModality(Qt::WindowModal);
        m_outlets.window->show();
    }
    if (!m_needRebuildItems.isEmpty())
        btnRebuild();
}

void RebuildContentWindowController::btnChangeClick()
{
    m_outlets.btnRebuild->setEnabled(m_outlets.btnPreviewChecker->isChecked() || m_outlets.btnIndexChecker->isChecked());
}

void RebuildContentWindowController::btnCancel(int tag)
{
    if (tag == 2)
        m_state->isCancel.store(true);
    if ((tag == 1 || tag == 2) && m_outlets.window)
        m_outlets.window->close();
}

void RebuildContentWindowController::showProgressLayout()
{
    QDialog* window = m_outlets.window;
    const QRect old = window->frameGeometry();
    m_outlets.pages->setCurrentWidget(m_outlets.viewBuilding);
    window->adjustSize();
    // Keep the top edge and stay centred over the old frame.
    window->move(old.center().x() - window->frameGeometry().width() / 2, old.top());
    m_outlets.progressIndicator->setRange(0, 0);
}

void RebuildContentWindowController::btnRebuild()
{
    if (m_started)
        return;
    m_started = true;
    showProgressLayout();
    if (!m_needRebuildItems.isEmpty()) {
        rebuildSelection();
        return;
    }
    rebuildLibrary(m_outlets.btnPreviewChecker->isChecked(), m_outlets.btnIndexChecker->isChecked());
}

void RebuildContentWindowController::rebuildSelection()
{
    KPCoreDataAction::lookupWithBlockWithBackground([state = m_state, items = m_needRebuildItems](const ContextPtr& context) {
        for (const ObjectID& id : items) {
            if (state->isCancel.load())
                break;
            const DBFileInfo file(context->existingObjectWithID(id));
            if (file)
                state->rebuild(file);
        }
        Dispatch::main([state] { state->finish(); });
    });
}

void RebuildContentWindowController::rebuildLibrary(bool previews, bool index)
{
    // The shared indexer is made on the main thread, like every shared object.
    KPIndexManager* manager = index ? (m_indexManager ? m_indexManager : &KPIndexManager::indexManager()) : nullptr;
    Dispatch::async(DispatchQueue::global(QueuePriority::Default), [state = m_state, manager, previews] {
        if (manager)
            manager->rebuildAndWait();
        if (previews) {
            KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
                const Result<Predicate> notTrashed = Predicate::parse(QStringLiteral("isTrash == NO"));
                if (!notTrashed)
                    return;
                Result<QList<ManagedObjectPtr>> files =
                    context->executeFetchRequest(FetchRequest(DBFileInfo::entityName(), *notTrashed));
                if (!files) {
                    KPLogLogDomainMessage(kLogDomain, 0, files.error().toString());
                    return;
                }
                for (const ManagedObjectPtr& object : std::as_const(*files)) {
                    if (state->isCancel.load())
                        break;
                    state->rebuild(DBFileInfo(object));
                }
            });
        }
        Dispatch::main([state] { state->finish(); });
    });
}

#include "Import/KPFileImportQueue.h"

#include "Platform/Foundation/Dispatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

// Tuning: how often a waiting main thread looks whether the queue has emptied.
constexpr int kIdlePollMs = 10;

} // namespace

KPFileImportQueue::KPFileImportQueue()
    : m_importQueue(std::make_unique<platform::OperationQueue>(QStringLiteral("folivo.import")))
{
    m_importQueue->setMaxConcurrentOperationCount(1);
}

KPFileImportQueue::~KPFileImportQueue()
{
    // The operation's last save may need the main thread; wait with the loop turning first,
    // then let the queue's own destructor make sure nothing runs any more.
    if (platform::Dispatch::isMainThread() && QCoreApplication::instance())
        finishImportsForQuit(kQuitWait);
    else
        cancelAll();
    m_importQueue.reset();
}

void KPFileImportQueue::addOperation(const std::shared_ptr<platform::Operation>& operation)
{
    if (!operation)
        return;
    auto pending = m_pending;
    operation->setCompletionBlock([pending] {
        KPImportState::reset();
        pending->fetch_sub(1);
    });
    pending->fetch_add(1);
    if (!m_importQueue->addOperation(operation)) {
        operation->setCompletionBlock(nullptr);
        pending->fetch_sub(1);
    }
}

bool KPFileImportQueue::pauseImport()
{
    return KPImportState::pause();
}

void KPFileImportQueue::continueImport()
{
    KPImportState::answer(KPImportState::Run);
}

void KPFileImportQueue::deleteImported()
{
    KPImportState::answer(KPImportState::DeleteImported);
}

void KPFileImportQueue::saveImported()
{
    KPImportState::answer(KPImportState::SaveImported);
}

void KPFileImportQueue::cancelAll()
{
    m_importQueue->cancelAllOperations();
    KPImportState::wakeAll();
}

bool KPFileImportQueue::isImporing() const
{
    return m_pending->load() > 0;
}

bool KPFileImportQueue::finishImportsForQuit(std::chrono::milliseconds bound)
{
    cancelAll();
    if (!isImporing())
        return true;
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!isImporing() || elapsed.elapsed() >= bound.count())
            loop.quit();
    });
    poll.start(kIdlePollMs);
    loop.exec();
    return !isImporing();
}

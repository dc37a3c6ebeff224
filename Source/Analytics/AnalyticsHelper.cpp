#include "Analytics/AnalyticsHelper.h"

#include "Analytics/AnalyticsConfiguration.h"
#include "Analytics/PublicIP.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Foundation/UserDefaults.h"

#include <mutex>

namespace {
std::mutex g_queueLock;
platform::OperationQueue* g_trackingQueue = nullptr;

platform::OperationQueue& trackingQueue()
{
    std::lock_guard lock(g_queueLock);
    if (!g_trackingQueue) {
        g_trackingQueue = new platform::OperationQueue(QStringLiteral("KPTracking"));
        g_trackingQueue->setMaxConcurrentOperationCount(1);
    }
    return *g_trackingQueue;
}
} // namespace

void AnalyticsHelper::fireEvent(const QString&, qint64)
{
    // Usage events go nowhere: nothing is recorded, queued or sent.
}

QString AnalyticsHelper::UUIDString()
{
    return platform::newUUIDString();
}

bool AnalyticsHelper::fireEvent(const QString& name, std::optional<qint64> value)
{
    const QString category = QStringLiteral("Folivo2 %1")
                                 .arg(platform::Bundle::mainBundle()
                                          .objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString"))
                                          .toString());
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    QString label = defaults.stringForKey(QStringLiteral("String_UniqueIdentifier"));
    if (label.isEmpty()) {
        label = UUIDString();
        defaults.setObject(label, QStringLiteral("String_UniqueIdentifier"));
        defaults.synchronize();
    }
    const auto event = KPTrackingEvent::initWithParams(domainName, category, name, label, value);
    if (!event)
        return true;
    auto operation = std::make_shared<KPTracking>(RequestFactory::buildRequest(*event, analyticsAccountCode));
    operation->setQueuePriority(platform::OperationPriority::Low);
    trackingQueue().addOperation(operation);
    return true;
}

void AnalyticsHelper::waitForTracking()
{
    std::lock_guard lock(g_queueLock);
    if (g_trackingQueue)
        g_trackingQueue->waitUntilAllOperationsAreFinished();
}

void AnalyticsHelper::shutDown()
{
    platform::OperationQueue* queue = nullptr;
    {
        std::lock_guard lock(g_queueLock);
        queue = std::exchange(g_trackingQueue, nullptr);
    }
    delete queue;
}

TrackingRequest KPTracking::request() const
{
    std::lock_guard lock(m_mutex);
    return m_request;
}

QString KPTracking::builtURL() const
{
    std::lock_guard lock(m_mutex);
    return m_url;
}

void KPTracking::main()
{
    const auto config = AnalyticsConfiguration::current();
    if (config.sleep)
        config.sleep(1.0);
    if (isCancelled())
        return;
    const QString address = PublicIP::getIPAddress();
    std::lock_guard lock(m_mutex);
    m_request.requestedByIpAddress = address;
    m_url = m_request.trackingGifURL(); // built, and dropped: nothing is sent
}

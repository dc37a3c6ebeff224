#include "Scanner/UI/KPScanner.h"

#include "Utilities/KPLogger/KPLogClient.h"

KPScanner::KPScanner(platform::ScannerService* service)
    : m_service(service ? service : &platform::ScannerService::shared())
{
}

KPScanner::~KPScanner() = default;

void KPScanner::searchDevice()
{
    if (m_browsing)
        return;
    m_browsing = true;
    m_poll = platform::kit::Scheduler::current().every(kPollMs, [this] { list(); });
    list();
}

void KPScanner::list()
{
    // One listing at a time: a network backend can take longer than the poll.
    if (m_listing)
        return;
    m_listing = true;
    m_service->listDevices(m_alive, [this](platform::Result<QList<platform::ScannerDevice>> listed) {
        m_listing = false;
        if (!listed) {
            KPLogLogDomainMessage(QStringLiteral("Scanner"), 0, listed.error().message);
            return;
        }
        deviceBrowserDidList(*listed);
    });
}

bool KPScanner::isScanner(const platform::ScannerDevice& device)
{
    const QString type = device.type.toLower();
    return !type.contains(QStringLiteral("camera")) && !type.contains(QStringLiteral("frame grabber"));
}

void KPScanner::deviceBrowserDidList(const QList<platform::ScannerDevice>& listed)
{
    auto named = [](const QList<platform::ScannerDevice>& list, const QString& name) {
        return std::any_of(list.begin(), list.end(), [&](const platform::ScannerDevice& d) { return d.name == name; });
    };
    QList<platform::ScannerDevice> gone;
    for (const auto& device : std::as_const(m_devices))
        if (!named(listed, device.name))
            gone.append(device);
    for (const auto& device : gone) {
        m_devices.removeIf([&](const platform::ScannerDevice& d) { return d.name == device.name; });
        if (deviceRemoved)
            deviceRemoved(device);
    }
    for (const auto& device : listed) {
        if (!isScanner(device) || named(m_devices, device.name))
            continue;
        m_devices.append(device);
        if (deviceAdded)
            deviceAdded(device);
    }
}

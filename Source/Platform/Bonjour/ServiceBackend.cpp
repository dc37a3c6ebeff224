#include "Platform/Bonjour/ServiceBackend.h"

#include "Platform/Bonjour/DirectoryServiceBackend.h"
#ifdef FOLIVO_HAVE_AVAHI
#include "Platform/Bonjour/AvahiServiceBackend.h"
#endif

#include <mutex>

namespace platform {
namespace {

std::shared_ptr<ServiceBackend> makeBackend()
{
#ifdef FOLIVO_HAVE_AVAHI
    if (qgetenv("FOLIVO_BONJOUR_BACKEND") != "directory") {
        if (auto avahi = AvahiServiceBackend::create())
            return avahi;
        qInfo("Bonjour: no avahi-daemon answers; no other running copy can be found or find this one");
    }
#endif
    return std::make_shared<DirectoryServiceBackend>();
}

struct SharedSlot {
    std::mutex mutex;
    std::shared_ptr<ServiceBackend> backend;
};

SharedSlot& sharedSlot()
{
    // Never destroyed: a thread may still browse while the process exits, and the backend
    // ends with shutdownShared() or its last user, never in static destruction.
    static SharedSlot* slot = new SharedSlot;
    return *slot;
}

} // namespace

std::shared_ptr<ServiceBackend> ServiceBackend::shared()
{
    SharedSlot& slot = sharedSlot();
    std::lock_guard lock(slot.mutex);
    if (!slot.backend)
        slot.backend = makeBackend();
    return slot.backend;
}

void ServiceBackend::shutdownShared()
{
    std::shared_ptr<ServiceBackend> last;
    {
        SharedSlot& slot = sharedSlot();
        std::lock_guard lock(slot.mutex);
        last.swap(slot.backend);
    }
    // Ended here, outside the lock, when nobody else holds it.
}

} // namespace platform

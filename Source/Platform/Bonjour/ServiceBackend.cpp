#include "Platform/Bonjour/ServiceBackend.h"

#include "Platform/Bonjour/DirectoryServiceBackend.h"
#ifdef FOLIVO_HAVE_AVAHI
#include "Platform/Bonjour/AvahiServiceBackend.h"
#endif

namespace platform {

ServiceBackend& ServiceBackend::shared()
{
    static std::unique_ptr<ServiceBackend> backend = []() -> std::unique_ptr<ServiceBackend> {
#ifdef FOLIVO_HAVE_AVAHI
        if (qgetenv("FOLIVO_BONJOUR_BACKEND") != "directory") {
            if (auto avahi = AvahiServiceBackend::create())
                return avahi;
            qInfo("Bonjour: no avahi-daemon answers; services are found on this machine only");
        }
#endif
        return std::make_unique<DirectoryServiceBackend>();
    }();
    return *backend;
}

} // namespace platform

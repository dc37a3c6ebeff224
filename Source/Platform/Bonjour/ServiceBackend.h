// Publishing, browsing and resolving services, with two backends behind one interface:
// - the Avahi client, used when an avahi-daemon answers (real local networks);
// - a same-host directory of service records, used when Avahi is absent and in the tests (but
//   those that start an avahi-daemon of their own):
//   each published service is a small file whose owner holds a lock on it while alive, so a
//   record left by a crashed owner is seen as gone.
//
// Callbacks arrive on the DispatchQueue the caller names. Handles are RAII: destroying a
// publication withdraws it; destroying any handle stops its callbacks, including those already
// queued (destroy it on the queue its callbacks run on, so no callback is running at that moment).
//
// The shared backend is owned by its users: whoever uses it from a thread of its own keeps the
// pointer that shared() answers for as long as it does, so the backend outlives every user
// whatever order the program ends in. The program lets go of the shared slot at quit, after its
// threads have stopped (shutdownShared); nothing is left to static destruction.
#pragma once

#include "Platform/Bonjour/NetService.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"

#include <functional>
#include <memory>

namespace platform {

class ServiceHandle {
public:
    virtual ~ServiceHandle() = default;
};

struct BrowseCallbacks {
    std::function<void(const NetService&)> found;
    std::function<void(const NetService&)> removed;
};

class ServiceBackend {
public:
    virtual ~ServiceBackend() = default;

    virtual QString backendName() const = 0;

    // The published record's name may differ from the asked one when that name is taken
    // ("Name (2)"); published() reports the final one.
    virtual Result<std::unique_ptr<ServiceHandle>> publish(
        const NetService& service, DispatchQueue queue,
        std::function<void(const NetService& published)> published) = 0;

    virtual Result<std::unique_ptr<ServiceHandle>> browse(const QString& type, const QString& domain,
                                                          DispatchQueue queue,
                                                          BrowseCallbacks callbacks) = 0;

    virtual std::unique_ptr<ServiceHandle> resolve(
        const NetService& service, DispatchQueue queue,
        std::function<void(Result<NetService>)> done) = 0;

    // Avahi when its daemon answers, else the directory backend; FOLIVO_BONJOUR_BACKEND=directory
    // forces the directory backend (tests). Made on first use.
    static std::shared_ptr<ServiceBackend> shared();
    // Empties the shared slot: the backend ends now unless a user still holds it, then with
    // that user. A later shared() makes a new one.
    static void shutdownShared();
};

} // namespace platform

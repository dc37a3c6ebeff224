#include "Platform/FileEvents/FolderWatch.h"

#include "Platform/Foundation/DispatchSource.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {
namespace {

// Changes of the folder's entries, and the folder itself going away. Opening and reading files
// raise nothing, so whoever looks at the folder does not wake itself.
constexpr quint32 kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM
    | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr size_t kReadBufferSize = 16 * 1024;

} // namespace

struct FolderWatch::Inner {
    QByteArray path;
    DispatchQueue queue;
    Handler handler;
    int fd = -1;
    std::atomic<int> wd{-1};
    DispatchSource source;

    void readEvents()
    {
        alignas(inotify_event) char buffer[kReadBufferSize];
        QByteArrayList names;
        bool everything = false;
        bool gone = false;
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                break; // EAGAIN: all taken
            }
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    everything = true;
                    continue;
                }
                if (event->wd != wd.load())
                    continue; // left over from a watch that was replaced
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED)) {
                    gone = true;
                    continue;
                }
                if (event->len > 0)
                    names.append(QByteArray(event->name)); // the kernel pads with NULs
            }
        }
        if (gone) {
            const int old = wd.exchange(-1);
            if (old >= 0)
                ::inotify_rm_watch(fd, old); // a moved folder keeps its watch otherwise
        }
        if (!handler || (!gone && !everything && names.isEmpty()))
            return;
        handler(gone || everything ? QByteArrayList{} : names, gone);
    }
};

FolderWatch::FolderWatch(const QString& folder, DispatchQueue queue, Handler handler)
    : m_inner(std::make_shared<Inner>())
{
    m_inner->path = QFile::encodeName(folder);
    m_inner->queue = queue;
    m_inner->handler = std::move(handler);
    m_inner->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inner->fd < 0)
        return;
    m_inner->wd = ::inotify_add_watch(m_inner->fd, m_inner->path.constData(), kMask);
    m_inner->source = DispatchSource(m_inner->fd, DispatchSource::Kind::Read, queue);
    // The source holds the state weakly: the descriptor is closed by the cancel handler, after
    // the last event handler, so it is never read once closed or reused.
    m_inner->source.setEventHandler([weak = std::weak_ptr<Inner>(m_inner)](std::size_t) {
        if (auto inner = weak.lock())
            inner->readEvents();
    });
    m_inner->source.setCancelHandler([fd = m_inner->fd] { ::close(fd); });
    m_inner->source.resume();
}

FolderWatch::~FolderWatch()
{
    if (m_inner->source.isValid())
        m_inner->source.cancel();
    else if (m_inner->fd >= 0)
        ::close(m_inner->fd);
}

bool FolderWatch::isWatching() const
{
    return m_inner->wd.load() >= 0;
}

bool FolderWatch::rewatch()
{
    if (m_inner->fd < 0)
        return false;
    if (m_inner->wd.load() < 0)
        m_inner->wd = ::inotify_add_watch(m_inner->fd, m_inner->path.constData(), kMask);
    return m_inner->wd.load() >= 0;
}

} // namespace platform

#include "IndexFolder/KPAttributeWriteLog.h"

#include "Platform/Foundation/XAttr.h"
#include "Platform/Foundation/XAttrBackend.h"

#include <QFile>
#include <condition_variable>
#include <memory>

namespace {

// Forwards every call and notes the paths of successful writes and removals.
class RecordingBackend : public platform::XAttrBackend {
public:
    // Calls that came in before this wait for it.
    void setInner(std::shared_ptr<platform::XAttrBackend> inner)
    {
        std::lock_guard lock(m_mutex);
        m_inner = std::move(inner);
        m_ready.notify_all();
    }
    int get(const QByteArray& path, const QByteArray& name, QByteArray* value) override
    {
        return inner()->get(path, name, value);
    }
    int set(const QByteArray& path, const QByteArray& name, const QByteArray& value) override
    {
        const int result = inner()->set(path, name, value);
        if (result == 0)
            KPAttributeWriteLog::shared().noteWrite(QFile::decodeName(path));
        return result;
    }
    int remove(const QByteArray& path, const QByteArray& name) override
    {
        const int result = inner()->remove(path, name);
        if (result == 0)
            KPAttributeWriteLog::shared().noteWrite(QFile::decodeName(path));
        return result;
    }
    int list(const QByteArray& path, QList<QByteArray>* names) override { return inner()->list(path, names); }

private:
    std::shared_ptr<platform::XAttrBackend> inner()
    {
        std::unique_lock lock(m_mutex);
        // Only between install's two steps is there no inner backend yet.
        m_ready.wait(lock, [&] { return m_inner != nullptr; });
        return m_inner;
    }

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::shared_ptr<platform::XAttrBackend> m_inner;
};

} // namespace

KPAttributeWriteLog& KPAttributeWriteLog::shared()
{
    static KPAttributeWriteLog log;
    return log;
}

void KPAttributeWriteLog::install()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    auto recorder = std::make_shared<RecordingBackend>();
    auto previous = platform::XAttr::setBackend(recorder);
    recorder->setInner(previous);
    if (std::dynamic_pointer_cast<RecordingBackend>(previous))
        platform::XAttr::setBackend(previous); // one was in front already
}

void KPAttributeWriteLog::noteWrite(const QString& path)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_mutex);
    for (auto it = m_written.begin(); it != m_written.end();) {
        if (now - it.value() > kRecentWindow)
            it = m_written.erase(it);
        else
            ++it;
    }
    m_written.insert(path, now);
}

bool KPAttributeWriteLog::wasWrittenRecently(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_written.constFind(path);
    return it != m_written.constEnd() && std::chrono::steady_clock::now() - it.value() <= kRecentWindow;
}

#include "HTTP/KPInputStream.h"

#include "HTTP/KPHTTPBandwidth.h"

#include <QBuffer>
#include <QFile>
#include <mutex>

namespace {
std::mutex& readLock()
{
    static std::mutex m;
    return m;
}
} // namespace

KPInputStream::KPInputStream(std::unique_ptr<QIODevice> device) : m_device(std::move(device)) {}

std::unique_ptr<KPInputStream> KPInputStream::inputStreamWithFileAtPath(const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    return std::unique_ptr<KPInputStream>(new KPInputStream(std::move(file)));
}

std::unique_ptr<KPInputStream> KPInputStream::inputStreamWithData(const QByteArray& data)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(data);
    buffer->open(QIODevice::ReadOnly);
    return std::unique_ptr<KPInputStream>(new KPInputStream(std::move(buffer)));
}

qint64 KPInputStream::read(char* buffer, qint64 maxLength)
{
    {
        std::lock_guard lock(readLock());
        if (KPHTTPBandwidth::isBandwidthThrottled()) {
            const qint64 allowance = qint64(KPHTTPBandwidth::maxUploadReadLength());
            if (allowance <= maxLength)
                maxLength = allowance == 0 ? 1 : allowance;
            if (m_throttle)
                m_throttle();
        }
    }
    if (!m_device)
        return 0;
    const qint64 got = m_device->read(buffer, maxLength);
    if (got > 0)
        KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(quint64(got));
    return got;
}

void KPInputStream::close()
{
    if (m_device)
        m_device->close();
}

// A request body as the stream takes it: a file or bytes, read under the process-wide bandwidth
// limit. While throttled, each read takes at most the upload allowance (at least one byte),
// and every byte read counts toward the window's usage.
//
// Threads: reads of all bodies are serialised by one class lock, inside which the bandwidth
// lock is taken.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <functional>
#include <memory>

class KPInputStream {
public:
    // Null when the file cannot be opened.
    static std::unique_ptr<KPInputStream> inputStreamWithFileAtPath(const QString& path);
    static std::unique_ptr<KPInputStream> inputStreamWithData(const QByteArray& data);

    // Bytes read, 0 at the end, -1 on a failed read.
    qint64 read(char* buffer, qint64 maxLength);
    void close();

    // Called inside the read lock when a throttled read took its allowance, so the request
    // can take its stream off the loop.
    void setThrottlingHook(std::function<void()> hook) { m_throttle = std::move(hook); }

private:
    explicit KPInputStream(std::unique_ptr<QIODevice> device);
    std::unique_ptr<QIODevice> m_device;
    std::function<void()> m_throttle;
};

// Inflates gzip or zlib data (compressed responses, also while they arrive). One object owns one
// zlib stream; it is not shared between threads.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <zlib.h>

class KPDataDecompressor {
public:
    KPDataDecompressor() = default;
    ~KPDataDecompressor();
    KPDataDecompressor(const KPDataDecompressor&) = delete;
    KPDataDecompressor& operator=(const KPDataDecompressor&) = delete;

    static std::unique_ptr<KPDataDecompressor> decompressor();

    platform::Result<void> setupStream();
    platform::Result<void> closeStream();
    bool streamReady() const { return m_streamReady; }
    // The stream reached the end of its data (the gzip trailer was read).
    bool streamEnded() const { return m_streamEnded; }

    // The inflated bytes of this piece. Bytes after the end of the stream are ignored. More
    // than maxOutput bytes is an error, and outputLimitReached() tells it from damaged data.
    platform::Result<QByteArray> uncompressBytes(const char* bytes, qsizetype length,
                                                 qsizetype maxOutput = MaxOutputPerCall);
    // The same onto the end of out, which may grow to maxSize bytes in all (its allocation to
    // one byte more, never rounded up past it): a body inflated as it arrives is one buffer.
    // On an error out keeps its size before the call.
    platform::Result<void> uncompressBytesInto(const char* bytes, qsizetype length, QByteArray& out, qsizetype maxSize);
    bool outputLimitReached() const { return m_outputLimitReached; }

    // A whole buffer; data that stops before the end of its stream is an error, so a truncated
    // body is never taken for a complete one. With limitReached, says whether it failed for
    // inflating to more than maxOutput bytes.
    static platform::Result<QByteArray> uncompressData(const QByteArray& data, qsizetype maxOutput = MaxOutputPerCall,
                                                       bool* limitReached = nullptr);
    // The same into out (emptied first), whose allocation the caller may look at afterwards.
    static platform::Result<void> uncompressDataInto(const QByteArray& data, QByteArray& out, qsizetype maxOutput,
                                                     bool* limitReached = nullptr);
    static platform::Result<void> uncompressDataFromFile(const QString& sourcePath, const QString& destinationPath);
    static platform::Error inflateErrorWithCode(int code);

    // Inflated output is capped per call so that a small hostile body cannot claim unbounded
    // memory in one piece; callers feed large bodies piece by piece.
    static constexpr qsizetype MaxOutputPerCall = qsizetype(1) << 30;

private:
    z_stream m_zStream{};
    bool m_streamReady = false;
    bool m_streamEnded = false;
    bool m_outputLimitReached = false;
};

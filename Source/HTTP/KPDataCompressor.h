// Gzip data from memory or from a file, fed piece by piece or whole; used for compressed request
// bodies. One object owns one zlib stream; it is not shared between threads.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <zlib.h>

class KPDataCompressor {
public:
    KPDataCompressor() = default;
    ~KPDataCompressor();
    KPDataCompressor(const KPDataCompressor&) = delete;
    KPDataCompressor& operator=(const KPDataCompressor&) = delete;

    // A compressor whose stream is set up; null only when zlib could not set it up.
    static std::unique_ptr<KPDataCompressor> compressor();

    platform::Result<void> setupStream();
    platform::Result<void> closeStream();
    bool streamReady() const { return m_streamReady; }

    // The compressed bytes this piece produced. With shouldFinish the gzip trailer is written and
    // the stream closed, also for an empty last piece of a stream that was fed before.
    platform::Result<QByteArray> compressBytes(const char* bytes, qsizetype length, bool shouldFinish);

    static platform::Result<QByteArray> compressData(const QByteArray& data);
    static platform::Result<void> compressDataFromFile(const QString& sourcePath, const QString& destinationPath);
    static platform::Error deflateErrorWithCode(int code);

private:
    z_stream m_zStream{};
    bool m_streamReady = false;
    bool m_fed = false;
};

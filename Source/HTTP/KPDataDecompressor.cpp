#include "HTTP/KPDataDecompressor.h"

#include "HTTP/ByteArrayGrowth.h"
#include "HTTP/KPHTTPErrors.h"

#include <QFile>
#include <algorithm>

namespace {
constexpr qint64 FileChunkSize = 262144;
}

KPDataDecompressor::~KPDataDecompressor()
{
    if (m_streamReady)
        (void)closeStream();
}

std::unique_ptr<KPDataDecompressor> KPDataDecompressor::decompressor()
{
    auto d = std::make_unique<KPDataDecompressor>();
    if (!d->setupStream())
        return nullptr;
    return d;
}

platform::Result<void> KPDataDecompressor::setupStream()
{
    if (m_streamReady)
        return {};
    m_zStream = z_stream{};
    const int status = inflateInit2(&m_zStream, 47);
    if (status != Z_OK)
        return std::unexpected(inflateErrorWithCode(status));
    m_streamReady = true;
    m_streamEnded = false;
    return {};
}

platform::Result<void> KPDataDecompressor::closeStream()
{
    if (!m_streamReady)
        return {};
    m_streamReady = false;
    const int status = inflateEnd(&m_zStream);
    if (status != Z_OK)
        return std::unexpected(inflateErrorWithCode(status));
    return {};
}

platform::Result<QByteArray> KPDataDecompressor::uncompressBytes(const char* bytes, qsizetype length, qsizetype maxOutput)
{
    QByteArray out;
    auto done = uncompressBytesInto(bytes, length, out, std::clamp<qsizetype>(maxOutput, 0, MaxOutputPerCall));
    if (!done)
        return std::unexpected(done.error());
    return out;
}

platform::Result<void> KPDataDecompressor::uncompressBytesInto(const char* bytes, qsizetype length, QByteArray& out,
                                                               qsizetype maxSize)
{
    if (length <= 0 || m_streamEnded)
        return {};
    if (!m_streamReady)
        return std::unexpected(inflateErrorWithCode(Z_STREAM_ERROR));

    const qsizetype base = out.size();
    maxSize = std::max(maxSize, base);
    // A byte past maxSize tells that the output goes past it.
    const qsizetype ceiling = maxSize + 1;
    const auto grow = [&](qsizetype by) {
        const qsizetype size = std::min(out.size() + by, ceiling);
        kphttp::reserveWithin(out, size, ceiling);
        out.resize(size);
    };
    const auto failed = [&](int code) {
        out.truncate(base);
        return std::unexpected(inflateErrorWithCode(code));
    };
    const qsizetype step = std::max<qsizetype>(length / 2, 4096);
    grow(std::max<qsizetype>(length + length / 2, 4096));
    m_zStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    m_zStream.avail_in = uInt(length);
    qsizetype written = base;
    // Goes on while input remains or the buffer came back full: output may still be pending
    // inside zlib after the last input byte was taken.
    while (m_zStream.avail_in > 0 || written == out.size()) {
        if (written == out.size()) {
            if (out.size() > maxSize) {
                m_outputLimitReached = true;
                return failed(Z_MEM_ERROR);
            }
            grow(step);
        }
        m_zStream.next_out = reinterpret_cast<Bytef*>(out.data() + written);
        m_zStream.avail_out = uInt(out.size() - written);
        const int status = inflate(&m_zStream, Z_NO_FLUSH);
        written = out.size() - m_zStream.avail_out;
        if (status == Z_STREAM_END) {
            m_streamEnded = true;
            break;
        }
        if (status == Z_BUF_ERROR && m_zStream.avail_out != 0)
            break; // no progress possible: everything was taken and given out
        if (status != Z_OK && status != Z_BUF_ERROR)
            return failed(status);
    }
    if (written > maxSize) {
        m_outputLimitReached = true;
        return failed(Z_MEM_ERROR);
    }
    out.truncate(written);
    return {};
}

platform::Result<QByteArray> KPDataDecompressor::uncompressData(const QByteArray& data, qsizetype maxOutput,
                                                                 bool* limitReached)
{
    QByteArray out;
    auto done = uncompressDataInto(data, out, maxOutput, limitReached);
    if (!done)
        return std::unexpected(done.error());
    return out;
}

platform::Result<void> KPDataDecompressor::uncompressDataInto(const QByteArray& data, QByteArray& out,
                                                              qsizetype maxOutput, bool* limitReached)
{
    if (limitReached)
        *limitReached = false;
    out.clear();
    if (data.isEmpty())
        return {};
    auto d = decompressor();
    if (!d)
        return std::unexpected(inflateErrorWithCode(Z_MEM_ERROR));
    auto done = d->uncompressBytesInto(data.constData(), data.size(), out,
                                       std::clamp<qsizetype>(maxOutput, 0, MaxOutputPerCall));
    if (limitReached)
        *limitReached = d->outputLimitReached();
    if (done && !d->streamEnded())
        return std::unexpected(inflateErrorWithCode(Z_BUF_ERROR));
    return done;
}

platform::Result<void> KPDataDecompressor::uncompressDataFromFile(const QString& sourcePath, const QString& destinationPath)
{
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return std::unexpected(kphttp::error(kphttp::CompressionError,
            QStringLiteral("Decompression of %1 failed because we were to create a file at %2").arg(sourcePath, destinationPath)));
    QFile source(sourcePath);
    if (!source.exists())
        return std::unexpected(kphttp::error(kphttp::CompressionError,
            QStringLiteral("Decompression of %1 failed the file does not exist").arg(sourcePath)));
    // A half-written result would pass for the whole file: it goes with the failure.
    const auto failed = [&](const platform::Error& e) -> platform::Result<void> {
        destination.remove();
        return std::unexpected(e);
    };
    const auto readError = [&] {
        return kphttp::error(kphttp::CompressionError,
            QStringLiteral("Decompression of %1 failed because we were unable to read from the source data file").arg(sourcePath));
    };
    if (!source.open(QIODevice::ReadOnly))
        return failed(readError());

    auto d = decompressor();
    if (!d)
        return failed(inflateErrorWithCode(Z_MEM_ERROR));
    QByteArray buffer(FileChunkSize, Qt::Uninitialized);
    bool any = false;
    while (!d->streamEnded()) {
        const qint64 got = source.read(buffer.data(), FileChunkSize);
        if (got < 0)
            return failed(readError());
        if (got == 0)
            break;
        any = true;
        auto piece = d->uncompressBytes(buffer.constData(), got);
        if (!piece)
            return failed(piece.error());
        if (destination.write(*piece) != piece->size())
            return failed(kphttp::error(kphttp::CompressionError,
                QStringLiteral("Decompression of %1 failed because we were unable to write to the destination data file at %2")
                    .arg(sourcePath, destinationPath)));
    }
    if (any && !d->streamEnded())
        return failed(inflateErrorWithCode(Z_BUF_ERROR));
    if (!destination.flush())
        return failed(kphttp::error(kphttp::CompressionError,
            QStringLiteral("Decompression of %1 failed because we were unable to write to the destination data file at %2")
                .arg(sourcePath, destinationPath)));
    return d->closeStream();
}

platform::Error KPDataDecompressor::inflateErrorWithCode(int code)
{
    return kphttp::error(kphttp::CompressionError, QStringLiteral("Decompression of data failed with code %1").arg(code));
}

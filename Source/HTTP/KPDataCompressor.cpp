#include "HTTP/KPDataCompressor.h"

#include "HTTP/KPHTTPErrors.h"

#include <QFile>
#include <algorithm>

namespace {
constexpr qint64 FileChunkSize = 262144;
}

KPDataCompressor::~KPDataCompressor()
{
    if (m_streamReady)
        (void)closeStream();
}

std::unique_ptr<KPDataCompressor> KPDataCompressor::compressor()
{
    auto c = std::make_unique<KPDataCompressor>();
    if (!c->setupStream())
        return nullptr;
    return c;
}

platform::Result<void> KPDataCompressor::setupStream()
{
    if (m_streamReady)
        return {};
    m_zStream = z_stream{};
    const int status = deflateInit2(&m_zStream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK)
        return std::unexpected(deflateErrorWithCode(status));
    m_streamReady = true;
    m_fed = false;
    return {};
}

platform::Result<void> KPDataCompressor::closeStream()
{
    if (!m_streamReady)
        return {};
    m_streamReady = false;
    const int status = deflateEnd(&m_zStream);
    // Z_DATA_ERROR only says the stream was closed before its end, which a caller may choose.
    if (status != Z_OK && status != Z_DATA_ERROR)
        return std::unexpected(deflateErrorWithCode(status));
    return {};
}

platform::Result<QByteArray> KPDataCompressor::compressBytes(const char* bytes, qsizetype length, bool shouldFinish)
{
    if (length <= 0 && !(shouldFinish && m_fed))
        return QByteArray();
    if (!m_streamReady)
        return std::unexpected(deflateErrorWithCode(Z_STREAM_ERROR));
    m_fed = true;

    // Grows by at least 4 KiB: half of a tiny input is no room at all.
    const qsizetype step = std::max<qsizetype>(length / 2, 4096);
    QByteArray out(step, Qt::Uninitialized);
    m_zStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    m_zStream.avail_in = uInt(std::max<qsizetype>(length, 0));
    qsizetype written = 0;
    int status = Z_OK;
    for (;;) {
        if (written == out.size())
            out.resize(out.size() + step);
        m_zStream.next_out = reinterpret_cast<Bytef*>(out.data() + written);
        m_zStream.avail_out = uInt(out.size() - written);
        status = deflate(&m_zStream, shouldFinish ? Z_FINISH : Z_NO_FLUSH);
        written = out.size() - m_zStream.avail_out;
        if (status == Z_STREAM_END)
            break;
        if (status != Z_OK && status != Z_BUF_ERROR)
            return std::unexpected(deflateErrorWithCode(status));
        if (m_zStream.avail_out != 0)
            break;
    }
    out.truncate(written);
    if (status == Z_STREAM_END) {
        if (auto closed = closeStream(); !closed)
            return std::unexpected(closed.error());
    }
    return out;
}

platform::Result<QByteArray> KPDataCompressor::compressData(const QByteArray& data)
{
    auto c = compressor();
    if (!c)
        return std::unexpected(deflateErrorWithCode(Z_MEM_ERROR));
    return c->compressBytes(data.constData(), data.size(), true);
}

platform::Result<void> KPDataCompressor::compressDataFromFile(const QString& sourcePath, const QString& destinationPath)
{
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return std::unexpected(kphttp::error(kphttp::CompressionError,
            QStringLiteral("Compression of %1 failed because we were to create a file at %2").arg(sourcePath, destinationPath)));
    QFile source(sourcePath);
    if (!source.exists())
        return std::unexpected(kphttp::error(kphttp::CompressionError,
            QStringLiteral("Compression of %1 failed the file does not exist").arg(sourcePath)));
    const auto readError = [&] {
        return kphttp::error(kphttp::CompressionError,
            QStringLiteral("Compression of %1 failed because we were unable to read from the source data file").arg(sourcePath));
    };
    if (!source.open(QIODevice::ReadOnly))
        return std::unexpected(readError());

    auto c = compressor();
    if (!c)
        return std::unexpected(deflateErrorWithCode(Z_MEM_ERROR));
    QByteArray buffer(FileChunkSize, Qt::Uninitialized);
    while (c->streamReady()) {
        const qint64 got = source.read(buffer.data(), FileChunkSize);
        if (got < 0)
            return std::unexpected(readError());
        // The empty read at the end of a file of whole chunks still has to write the trailer.
        auto piece = c->compressBytes(buffer.constData(), got, got < FileChunkSize);
        if (!piece)
            return std::unexpected(piece.error());
        if (destination.write(*piece) != piece->size())
            return std::unexpected(kphttp::error(kphttp::CompressionError,
                QStringLiteral("Compression of %1 failed because we were unable to write to the destination data file at %2")
                    .arg(sourcePath, destinationPath)));
        if (got == 0)
            break;
    }
    if (!destination.flush())
        return std::unexpected(kphttp::error(kphttp::CompressionError,
            QStringLiteral("Compression of %1 failed because we were unable to write to the destination data file at %2")
                .arg(sourcePath, destinationPath)));
    return c->closeStream();
}

platform::Error KPDataCompressor::deflateErrorWithCode(int code)
{
    return kphttp::error(kphttp::CompressionError, QStringLiteral("Compression of data failed with code %1").arg(code));
}

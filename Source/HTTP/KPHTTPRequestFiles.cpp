// A request's body store (in memory or in a file, gzipped when asked) and its temporary files,
// made with mkstemp (0600) in the per-user temporary folder.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/Paths.h"
#include "HTTP/KPDataCompressor.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using platform::Error;

void KPHTTPRequest::setupPostBody()
{
    if (m_shouldStreamPostDataFromDisk) {
        if (m_postBodyFilePath.isEmpty()) {
            auto path = makeTemporaryFile();
            if (!path) {
                failWithError(kphttp::error(kphttp::FileManagementError,
                                            QStringLiteral("Failed to get attributes for file at path '%1'").arg(QString())),
                              path.error());
                return;
            }
            m_postBodyFilePath = *path;
            m_didCreateTemporaryPostDataFile = true;
        }
        if (!m_postBodyWriteStream) {
            m_postBodyWriteStream = std::make_unique<QFile>(m_postBodyFilePath);
            if (!m_postBodyWriteStream->open(QIODevice::WriteOnly | QIODevice::Truncate))
                m_postBodyWriteStream.reset();
        }
    } else {
        m_hasPostBody = true;
    }
}

void KPHTTPRequest::appendPostData(const QByteArray& data)
{
    std::lock_guard lock(m_lock);
    setupPostBody();
    if (data.isEmpty())
        return;
    if (m_shouldStreamPostDataFromDisk) {
        if (m_postBodyWriteStream)
            m_postBodyWriteStream->write(data);
    } else {
        m_postBody.append(data);
    }
}

void KPHTTPRequest::appendPostDataFromFile(const QString& path)
{
    std::lock_guard lock(m_lock);
    setupPostBody();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray buffer(262144, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got <= 0)
            break;
        if (m_shouldStreamPostDataFromDisk) {
            if (m_postBodyWriteStream)
                m_postBodyWriteStream->write(buffer.constData(), got);
        } else {
            m_postBody.append(buffer.constData(), got);
        }
    }
}

bool KPHTTPRequest::buildPostBody()
{
    if (m_haveBuiltPostBody)
        return true;
    if (m_shouldStreamPostDataFromDisk && !m_postBodyFilePath.isEmpty()) {
        if (m_postBodyWriteStream) {
            m_postBodyWriteStream->close();
            m_postBodyWriteStream.reset();
        }
        QString measured = m_postBodyFilePath;
        if (m_shouldCompressRequestBody) {
            if (m_compressedPostBodyFilePath.isEmpty()) {
                auto path = makeTemporaryFile();
                if (!path) {
                    failWithError(kphttp::error(kphttp::FileManagementError,
                                                QStringLiteral("Failed to get attributes for file at path '%1'").arg(m_postBodyFilePath)),
                                  path.error());
                    return false;
                }
                m_compressedPostBodyFilePath = *path;
                if (auto done = KPDataCompressor::compressDataFromFile(m_postBodyFilePath, m_compressedPostBodyFilePath); !done) {
                    failWithError(done.error());
                    return false;
                }
            }
            measured = m_compressedPostBodyFilePath;
        }
        const QFileInfo info(measured);
        if (!info.exists()) {
            failWithError(kphttp::error(kphttp::FileManagementError,
                                        QStringLiteral("Failed to get attributes for file at path '%1'").arg(measured)),
                          Error::posix(ENOENT, measured));
            return false;
        }
        m_postLength = quint64(info.size());
    } else if (!m_postBody.isEmpty()) {
        if (m_shouldCompressRequestBody) {
            auto compressed = KPDataCompressor::compressData(m_postBody);
            if (!compressed) {
                failWithError(compressed.error());
                return false;
            }
            m_compressedPostBody = *compressed;
            m_postLength = quint64(m_compressedPostBody.size());
        } else {
            m_postLength = quint64(m_postBody.size());
        }
    }
    if (m_postLength > 0) {
        if (m_requestMethod == "GET" || m_requestMethod == "DELETE" || m_requestMethod == "HEAD")
            m_requestMethod = "POST";
        m_requestHeaders.set(QStringLiteral("Content-Length"), QString::number(m_postLength));
        m_shouldAttemptPersistentConnection = false;
    }
    m_haveBuiltPostBody = true;
    return true;
}

void KPHTTPRequest::addRequestHeader(const QString& name, const QString& value)
{
    std::lock_guard lock(m_lock);
    m_requestHeaders.set(name, value);
}

void KPHTTPRequest::buildRequestHeaders()
{
    if (m_haveBuiltRequestHeaders)
        return;
    m_haveBuiltRequestHeaders = true;
    if (auto main = m_mainRequest.lock()) {
        for (const auto& [name, value] : main->m_requestHeaders.fields())
            m_requestHeaders.set(name, value);
        return;
    }
    if (!m_requestHeaders.contains(QStringLiteral("User-Agent"))) {
        const QString agent = m_userAgentString.isEmpty() ? defaultUserAgentString() : m_userAgentString;
        if (!agent.isEmpty())
            m_requestHeaders.set(QStringLiteral("User-Agent"), agent);
    }
    if (m_allowCompressedResponse)
        m_requestHeaders.set(QStringLiteral("Accept-Encoding"), QStringLiteral("gzip"));
    if (m_shouldCompressRequestBody)
        m_requestHeaders.set(QStringLiteral("Content-Encoding"), QStringLiteral("gzip"));
    if (!updatePartialDownloadSize())
        return;
    if (m_partialDownloadSize > 0)
        m_requestHeaders.set(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(m_partialDownloadSize));
}

bool KPHTTPRequest::updatePartialDownloadSize()
{
    if (!m_allowResumeForFileDownloads || m_downloadDestinationPath.isEmpty() || m_temporaryFileDownloadPath.isEmpty())
        return true;
    const QFileInfo info(m_temporaryFileDownloadPath);
    if (!info.exists())
        return true;
    m_partialDownloadSize = quint64(info.size());
    return true;
}

platform::Result<QString> KPHTTPRequest::makeTemporaryFile()
{
    auto dir = platform::Paths::temporaryDirectory();
    if (!dir)
        return std::unexpected(dir.error());
    QByteArray templ = QFile::encodeName(*dir + QStringLiteral("/KPHTTPRequest-XXXXXX"));
    const int fd = mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("mkstemp")));
    ::close(fd);
    return QFile::decodeName(templ);
}

bool KPHTTPRequest::removeFileAtPath(const QString& path, Error* error)
{
    if (path.isEmpty() || (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink()))
        return true;
    if (QFile::remove(path))
        return true;
    if (error)
        *error = kphttp::error(kphttp::FileManagementError, QStringLiteral("Failed to delete file at path '%1'").arg(path));
    return false;
}

bool KPHTTPRequest::removeTemporaryDownloadFile()
{
    Error e;
    const bool ok = removeFileAtPath(m_temporaryFileDownloadPath, &e);
    if (!ok)
        failWithError(e);
    m_temporaryFileDownloadPath.clear();
    return ok;
}

bool KPHTTPRequest::removeTemporaryUncompressedDownloadFile()
{
    Error e;
    const bool ok = removeFileAtPath(m_temporaryUncompressedDataDownloadPath, &e);
    if (!ok)
        failWithError(e);
    m_temporaryUncompressedDataDownloadPath.clear();
    return ok;
}

bool KPHTTPRequest::removeTemporaryUploadFile()
{
    Error e;
    const bool ok = removeFileAtPath(m_postBodyFilePath, &e);
    if (!ok)
        failWithError(e);
    m_postBodyFilePath.clear();
    return ok;
}

bool KPHTTPRequest::removeTemporaryCompressedUploadFile()
{
    Error e;
    const bool ok = removeFileAtPath(m_compressedPostBodyFilePath, &e);
    if (!ok)
        failWithError(e);
    m_compressedPostBodyFilePath.clear();
    return ok;
}

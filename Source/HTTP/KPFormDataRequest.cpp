#include "HTTP/KPFormDataRequest.h"

#include "Platform/Foundation/StringHash.h"

#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

namespace {

// A name in a multipart header must not end its quotes or start a line of its own.
QString headerSafe(QString text)
{
    text.replace(u'"', QStringLiteral("%22"));
    text.replace(u'\r', QStringLiteral("%0D"));
    text.replace(u'\n', QStringLiteral("%0A"));
    return text;
}

} // namespace

KPFormDataRequest::KPFormDataRequest(const QUrl& url) : KPHTTPRequest(url)
{
    setRequestMethod("POST");
}

std::shared_ptr<KPFormDataRequest> KPFormDataRequest::requestWithURL(const QUrl& url)
{
    return std::make_shared<KPFormDataRequest>(url);
}

void KPFormDataRequest::addPostValue(const QString& value, const QString& key)
{
    if (key.isEmpty())
        return;
    std::lock_guard lock(cancelledLock());
    m_postData.push_back({key, value});
}

void KPFormDataRequest::setPostValue(const QString& value, const QString& key)
{
    {
        std::lock_guard lock(cancelledLock());
        std::erase_if(m_postData, [&](const PostValue& v) { return v.key == key; });
    }
    addPostValue(value, key);
}

void KPFormDataRequest::addFile(const QString& path, const QString& key)
{
    addFile(path, QString(), QString(), key);
}

void KPFormDataRequest::addFile(const QString& path, const QString& fileName, const QString& contentType,
                                const QString& key)
{
    bool isFolder = false;
    const QFileInfo info(path);
    isFolder = info.isDir();
    if (!info.exists() || isFolder)
        setError(kphttp::error(kphttp::InternalErrorWhileBuildingRequestType,
                               QStringLiteral("No file exists at %1").arg(path)));
    const QString name = fileName.isEmpty() ? info.fileName() : fileName;
    QString type = contentType;
    if (type.isEmpty())
        type = mimeTypeForFileAtPath(path);
    if (type.isEmpty())
        type = QStringLiteral("application/octet-stream");
    std::lock_guard lock(cancelledLock());
    m_fileData.push_back({key, name, type, path});
}

void KPFormDataRequest::setFile(const QString& path, const QString& key)
{
    removeFileEntries(key);
    addFile(path, key);
}

void KPFormDataRequest::setFile(const QString& path, const QString& fileName, const QString& contentType,
                                const QString& key)
{
    removeFileEntries(key);
    addFile(path, fileName, contentType, key);
}

void KPFormDataRequest::addData(const QByteArray& data, const QString& key)
{
    addData(data, QStringLiteral("file"), QString(), key);
}

void KPFormDataRequest::addData(const QByteArray& data, const QString& fileName, const QString& contentType,
                                const QString& key)
{
    std::lock_guard lock(cancelledLock());
    m_fileData.push_back({key, fileName, contentType.isEmpty() ? QStringLiteral("application/octet-stream") : contentType,
                          data});
}

void KPFormDataRequest::setData(const QByteArray& data, const QString& key)
{
    removeFileEntries(key);
    addData(data, key);
}

void KPFormDataRequest::setData(const QByteArray& data, const QString& fileName, const QString& contentType,
                                const QString& key)
{
    removeFileEntries(key);
    addData(data, fileName, contentType, key);
}

void KPFormDataRequest::removeFileEntries(const QString& key)
{
    std::lock_guard lock(cancelledLock());
    std::erase_if(m_fileData, [&](const FileEntry& f) { return f.key == key; });
}

QByteArray KPFormDataRequest::encoded(const QString& text) const
{
    if (m_stringEncoding.compare("UTF-8", Qt::CaseInsensitive) == 0)
        return text.toUtf8();
    QStringEncoder encoder(m_stringEncoding.constData());
    if (!encoder.isValid())
        return {};
    QByteArray out = encoder.encode(text);
    if (encoder.hasError())
        return {};
    return out;
}

QString KPFormDataRequest::encodeURL(const QString& text) const
{
    const QByteArray bytes = encoded(text);
    if (bytes.isEmpty())
        return {};
    // toPercentEncoding leaves "-._~" alone; the tilde is escaped as well.
    return QString::fromLatin1(bytes.toPercentEncoding(QByteArray(), "~"));
}

void KPFormDataRequest::appendPostString(const QString& text)
{
    appendPostData(encoded(text));
}

bool KPFormDataRequest::buildPostBody()
{
    if (haveBuiltPostBody())
        return true;
    if (m_postData.empty() && m_fileData.empty())
        return KPHTTPRequest::buildPostBody();
    if (!m_fileData.empty())
        setShouldStreamPostDataFromDisk(true);
    if (m_postFormat == URLEncodedPostFormat)
        buildURLEncodedPostBody();
    else if (!buildMultipartFormDataPostBody())
        return false;
    return KPHTTPRequest::buildPostBody();
}

void KPFormDataRequest::buildURLEncodedPostBody()
{
    if (!m_fileData.empty()) {
        m_postFormat = MultipartFormDataPostFormat;
        buildMultipartFormDataPostBody();
        return;
    }
    addRequestHeader(QStringLiteral("Content-Type"),
                     QStringLiteral("application/x-www-form-urlencoded; charset=%1").arg(QString::fromLatin1(m_stringEncoding)));
    for (size_t i = 0; i < m_postData.size(); ++i)
        appendPostString(QStringLiteral("%1=%2%3")
                             .arg(encodeURL(m_postData[i].key), encodeURL(m_postData[i].value),
                                  i + 1 < m_postData.size() ? QStringLiteral("&") : QString()));
}

bool KPFormDataRequest::buildMultipartFormDataPostBody()
{
    const QString boundary = QStringLiteral("0xKhTmLbOuNdArY-%1").arg(platform::newUUIDString());
    addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("multipart/form-data; charset=%1; boundary=%2")
                                                         .arg(QString::fromLatin1(m_stringEncoding), boundary));
    const QString separator = QStringLiteral("\r\n--%1\r\n").arg(boundary);
    appendPostString(QStringLiteral("--%1\r\n").arg(boundary));
    for (size_t i = 0; i < m_postData.size(); ++i) {
        appendPostString(QStringLiteral("Content-Disposition: form-data; name=\"%1\"\r\n\r\n").arg(headerSafe(m_postData[i].key)));
        appendPostString(m_postData[i].value);
        if (i + 1 < m_postData.size() || !m_fileData.empty())
            appendPostString(separator);
    }
    for (size_t i = 0; i < m_fileData.size(); ++i) {
        const FileEntry& f = m_fileData[i];
        appendPostString(QStringLiteral("Content-Disposition: form-data; name=\"%1\"; filename=\"%2\"\r\n")
                             .arg(headerSafe(f.key), headerSafe(f.fileName)));
        appendPostString(QStringLiteral("Content-Type: %1\r\n\r\n").arg(headerSafe(f.contentType)));
        if (const auto* path = std::get_if<QString>(&f.data)) {
            // A file gone since it was added must not become an empty part posted as success.
            if (!QFileInfo(*path).isFile() || !QFileInfo(*path).isReadable()) {
                failWithError(kphttp::error(kphttp::InternalErrorWhileBuildingRequestType,
                                            QStringLiteral("No file exists at %1").arg(*path)));
                return false;
            }
            appendPostDataFromFile(*path);
        } else {
            appendPostData(std::get<QByteArray>(f.data));
        }
        if (i + 1 < m_fileData.size())
            appendPostString(separator);
    }
    appendPostString(QStringLiteral("\r\n--%1--\r\n").arg(boundary));
    return true;
}

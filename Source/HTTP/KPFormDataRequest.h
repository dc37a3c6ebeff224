// A request that posts HTML-form data: name/value pairs, and files or data blobs, built into a
// URL-encoded or a multipart/form-data body when the request is about to be sent. Files are
// streamed from disk into the body, never read whole into memory.
//
// Threads: entries are added before the start, on the caller's thread; the body is built on
// the request thread under the request's lock.
#pragma once

#include "HTTP/KPHTTPRequest.h"

#include <QByteArray>
#include <QString>
#include <variant>
#include <vector>

class KPFormDataRequest : public KPHTTPRequest {
public:
    enum PostFormat { MultipartFormDataPostFormat = 0, URLEncodedPostFormat = 1 };

    struct PostValue {
        QString key;
        QString value;
    };
    struct FileEntry {
        QString key;
        QString fileName;
        QString contentType;
        std::variant<QString, QByteArray> data; // a file's path, or the bytes themselves
    };

    explicit KPFormDataRequest(const QUrl& url = QUrl());
    static std::shared_ptr<KPFormDataRequest> requestWithURL(const QUrl& url);

    // An empty key is ignored.
    void addPostValue(const QString& value, const QString& key);
    void setPostValue(const QString& value, const QString& key);

    // A path where no file exists (or a folder) fails the request with code 6 at its start; the
    // entry is still added.
    void addFile(const QString& path, const QString& key);
    void addFile(const QString& path, const QString& fileName, const QString& contentType, const QString& key);
    void setFile(const QString& path, const QString& key);
    void setFile(const QString& path, const QString& fileName, const QString& contentType, const QString& key);
    void addData(const QByteArray& data, const QString& key);
    void addData(const QByteArray& data, const QString& fileName, const QString& contentType, const QString& key);
    void setData(const QByteArray& data, const QString& key);
    void setData(const QByteArray& data, const QString& fileName, const QString& contentType, const QString& key);

    int postFormat() const { return m_postFormat; }
    void setPostFormat(int format) { m_postFormat = format; }
    // An IANA character-set name; "UTF-8" by default.
    QByteArray stringEncoding() const { return m_stringEncoding; }
    void setStringEncoding(const QByteArray& name) { m_stringEncoding = name; }

    const std::vector<PostValue>& postData() const { return m_postData; }
    const std::vector<FileEntry>& fileData() const { return m_fileData; }

    // Percent-escapes every character outside A-Z, a-z, 0-9, "-", "." and "_" in the request's
    // encoding; "" when the text cannot be put in that encoding.
    QString encodeURL(const QString& text) const;

protected:
    bool buildPostBody() override;

private:
    void buildURLEncodedPostBody();
    bool buildMultipartFormDataPostBody();
    void appendPostString(const QString& text);
    QByteArray encoded(const QString& text) const;
    void removeFileEntries(const QString& key);

    std::vector<PostValue> m_postData;
    std::vector<FileEntry> m_fileData;
    int m_postFormat = URLEncodedPostFormat;
    QByteArray m_stringEncoding = "UTF-8";
};

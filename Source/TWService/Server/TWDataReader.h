// The source of a download: its length and the bytes of a range.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>
#include <mutex>

class TWDataReader {
public:
    virtual ~TWDataReader() = default;
    virtual qint64 length() { return 0; }
    virtual QByteArray readDataOfRange(qint64 offset, qint64 length) { return {}; }
};

class TWFileDataReader : public TWDataReader {
public:
    explicit TWFileDataReader(const QString& filePath);
    qint64 length() override;
    QByteArray readDataOfRange(qint64 offset, qint64 length) override;

private:
    std::mutex m_mutex; // the handle's position is shared by every read
    QFile m_file;
};

class TWNSDataReader : public TWDataReader {
public:
    explicit TWNSDataReader(QByteArray data) : m_data(std::move(data)) {}
    qint64 length() override { return m_data.size(); }
    QByteArray readDataOfRange(qint64 offset, qint64 length) override;

private:
    const QByteArray m_data;
};

#include "TWService/Server/TWDataReader.h"

TWFileDataReader::TWFileDataReader(const QString& filePath) : m_file(filePath)
{
    m_file.open(QIODevice::ReadOnly);
}

qint64 TWFileDataReader::length()
{
    std::lock_guard lock(m_mutex);
    return m_file.isOpen() ? m_file.size() : 0;
}

QByteArray TWFileDataReader::readDataOfRange(qint64 offset, qint64 length)
{
    std::lock_guard lock(m_mutex);
    if (!m_file.isOpen() || offset < 0 || length <= 0 || !m_file.seek(offset))
        return {};
    return m_file.read(length);
}

QByteArray TWNSDataReader::readDataOfRange(qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0 || offset >= m_data.size())
        return {};
    return m_data.mid(offset, length);
}

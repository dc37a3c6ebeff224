#include "Utilities/FinderInfo.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/XAttr.h"

FinderInfo::FinderInfo(const QByteArray& bytes)
    : m_bytes(bytes.left(kSize))
{
    // Shorter records written by other tools are padded, so every field has a defined value.
    if (m_bytes.size() < kSize)
        m_bytes.append(QByteArray(kSize - m_bytes.size(), '\0'));
}

std::optional<FinderInfo> FinderInfo::read(const QString& path)
{
    if (path.isEmpty() || !platform::FileManager::itemExists(path))
        return std::nullopt;
    const auto value = platform::XAttr::get(path, kAttributeName);
    if (value)
        return FinderInfo(*value);
    if (platform::XAttr::isMissing(value.error()) || platform::XAttr::isNotSupported(value.error()))
        return FinderInfo();
    return std::nullopt;
}

platform::Result<void> FinderInfo::write(const QString& path) const
{
    if (!isZero())
        return platform::XAttr::set(path, kAttributeName, m_bytes);
    const auto removed = platform::XAttr::remove(path, kAttributeName);
    if (!removed && platform::XAttr::isMissing(removed.error()))
        return {};
    return removed;
}

void FinderInfo::setFileType(const QByteArray& fourChars)
{
    m_bytes.replace(0, 4, fourChars.leftJustified(4, '\0', true));
}

void FinderInfo::setFileCreator(const QByteArray& fourChars)
{
    m_bytes.replace(4, 4, fourChars.leftJustified(4, '\0', true));
}

void FinderInfo::setLocation(qint16 vertical, qint16 horizontal)
{
    setWord(10, quint16(vertical));
    setWord(12, quint16(horizontal));
}

quint16 FinderInfo::word(int offset) const
{
    return quint16((quint8(m_bytes[offset]) << 8) | quint8(m_bytes[offset + 1]));
}

void FinderInfo::setWord(int offset, quint16 value)
{
    m_bytes[offset] = char(value >> 8);
    m_bytes[offset + 1] = char(value & 0xFF);
}

#include "Utilities/ZipTraditionalCipher.h"

#include <QRandomGenerator>
#include <zlib.h>

namespace {

uint32_t crc32Byte(uint32_t crc, uint8_t byte)
{
    static const z_crc_t* table = get_crc_table();
    return table[(crc ^ byte) & 0xff] ^ (crc >> 8);
}

} // namespace

ZipTraditionalCipher::ZipTraditionalCipher(const QByteArray& password)
    : m_keys{0x12345678u, 0x23456789u, 0x34567890u}
{
    for (const char c : password)
        updateKeys(static_cast<uint8_t>(c));
}

uint8_t ZipTraditionalCipher::keyStreamByte() const
{
    const uint32_t temp = (m_keys[2] | 2u) & 0xffffu;
    return static_cast<uint8_t>((temp * (temp ^ 1u)) >> 8);
}

void ZipTraditionalCipher::updateKeys(uint8_t plain)
{
    m_keys[0] = crc32Byte(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xffu)) * 134775813u + 1u;
    m_keys[2] = crc32Byte(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
}

QByteArray ZipTraditionalCipher::makeHeader(uint8_t checkByte)
{
    QByteArray header(kHeaderSize, Qt::Uninitialized);
    for (int i = 0; i < kHeaderSize - 1; ++i)
        header[i] = static_cast<char>(QRandomGenerator::system()->bounded(256));
    header[kHeaderSize - 1] = static_cast<char>(checkByte);
    encrypt(header.data(), header.size());
    return header;
}

uint8_t ZipTraditionalCipher::readHeader(const char* header)
{
    char plain[kHeaderSize];
    std::copy(header, header + kHeaderSize, plain);
    decrypt(plain, kHeaderSize);
    return static_cast<uint8_t>(plain[kHeaderSize - 1]);
}

void ZipTraditionalCipher::encrypt(char* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const auto plain = static_cast<uint8_t>(data[i]);
        data[i] = static_cast<char>(plain ^ keyStreamByte());
        updateKeys(plain);
    }
}

void ZipTraditionalCipher::decrypt(char* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const auto plain = static_cast<uint8_t>(static_cast<uint8_t>(data[i]) ^ keyStreamByte());
        data[i] = static_cast<char>(plain);
        updateKeys(plain);
    }
}

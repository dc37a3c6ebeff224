// The traditional password cipher of the zip format. The minizip that Debian ships is built
// without it, so encrypted entries are written and read raw through minizip and this class
// does the ciphering: three 32-bit keys driven by CRC-32 over the plain bytes.
#pragma once

#include <QByteArray>
#include <cstdint>

class ZipTraditionalCipher {
public:
    // Length of the random header that precedes every encrypted entry's data.
    static constexpr int kHeaderSize = 12;

    explicit ZipTraditionalCipher(const QByteArray& password);

    // The 12-byte header for an entry whose last byte is checkByte (the high byte of the
    // entry's CRC-32), already encrypted; call before encrypt() for that entry.
    QByteArray makeHeader(uint8_t checkByte);

    // Decrypts an entry's header and answers its check byte.
    uint8_t readHeader(const char* header);

    void encrypt(char* data, qsizetype size);
    void decrypt(char* data, qsizetype size);

private:
    uint8_t keyStreamByte() const;
    void updateKeys(uint8_t plain);

    uint32_t m_keys[3];
};

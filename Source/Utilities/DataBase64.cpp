#include "Utilities/DataBase64.h"

#include <array>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Input bytes per output line: 48 bytes make 64 characters.
constexpr qsizetype kLineBytes = 48;

constexpr std::array<qint8, 256> decodeTable()
{
    std::array<qint8, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = qint8(i);
    return table;
}

} // namespace

QString base64EncodedString(const QByteArray& data)
{
    const qsizetype n = data.size();
    QByteArray out;
    out.reserve((n + 2) / 3 * 4 + (n / kLineBytes) * 2);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    for (qsizetype line = 0; line < n; line += kLineBytes) {
        if (line > 0)
            out.append("\r\n");
        const qsizetype end = qMin(n, line + kLineBytes);
        qsizetype i = line;
        for (; i + 3 <= end; i += 3) {
            const quint32 v = (quint32(bytes[i]) << 16) | (quint32(bytes[i + 1]) << 8) | bytes[i + 2];
            out.append(kAlphabet[(v >> 18) & 63]).append(kAlphabet[(v >> 12) & 63]);
            out.append(kAlphabet[(v >> 6) & 63]).append(kAlphabet[v & 63]);
        }
        if (end - i == 2) {
            const quint32 v = (quint32(bytes[i]) << 16) | (quint32(bytes[i + 1]) << 8);
            out.append(kAlphabet[(v >> 18) & 63]).append(kAlphabet[(v >> 12) & 63]);
            out.append(kAlphabet[(v >> 6) & 63]).append('=');
        } else if (end - i == 1) {
            const quint32 v = quint32(bytes[i]) << 16;
            out.append(kAlphabet[(v >> 18) & 63]).append(kAlphabet[(v >> 12) & 63]).append("==");
        }
    }
    return QString::fromLatin1(out);
}

QByteArray dataFromBase64String(const QString& text)
{
    static constexpr auto table = decodeTable();
    QByteArray out;
    out.reserve(text.size() * 3 / 4);
    quint32 group = 0;
    int count = 0;
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return {};
        const qint8 value = table[c.unicode()];
        if (value < 0)
            continue;
        group = (group << 6) | quint32(value);
        if (++count == 4) {
            out.append(char(group >> 16)).append(char(group >> 8)).append(char(group));
            group = 0;
            count = 0;
        }
    }
    if (count == 3) {
        group <<= 6;
        out.append(char(group >> 16)).append(char(group >> 8));
    } else if (count == 2) {
        group <<= 12;
        out.append(char(group >> 16));
    }
    return out;
}

#include "Platform/Foundation/StringHash.h"

#include <QCryptographicHash>
#include <QUuid>

namespace platform {

namespace {
constexpr quint64 FnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr quint64 FnvPrime = 0x100000001b3ULL;
} // namespace

quint64 fnv1a64(const QByteArray& bytes)
{
    quint64 h = FnvOffsetBasis;
    for (char c : bytes) {
        h ^= quint64(quint8(c));
        h *= FnvPrime;
    }
    return h;
}

quint64 stringHash(const QString& text)
{
    return fnv1a64(text.normalized(QString::NormalizationForm_C).toUtf8());
}

QString newUUIDString()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString md5Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

} // namespace platform

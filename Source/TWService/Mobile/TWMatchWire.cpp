#include "TWService/Mobile/TWMatchWire.h"

#include "TWService/Server/TWWire.h"

#include <limits>

namespace TWMatchWire {

namespace {
QString cleanText(const QString& raw)
{
    QString out;
    for (QChar c : raw) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            out += c;
    }
    return TWWire::cutToBytes(out, kMaxTextBytes);
}
} // namespace

QVariantMap TWMatchRequest::dictionary() const
{
    return {{QStringLiteral("Name"), name},
            {QStringLiteral("GUID"), guid},
            {QStringLiteral("Code"), code ? QString::number(*code) : QString()}};
}

std::optional<TWMatchRequest> TWMatchRequest::fromArchive(const QByteArray& archive)
{
    auto body = TWWire::decodeBody(archive);
    if (!body)
        return std::nullopt;
    TWMatchRequest request;
    request.name = cleanText(body->value(QStringLiteral("Name")).toString());
    request.guid = cleanText(body->value(QStringLiteral("GUID")).toString());
    const QVariant code = body->value(QStringLiteral("Code"));
    // Another writer may have boxed the number instead of writing its text.
    switch (code.typeId()) {
    case QMetaType::QString:
        request.code = parseCode(code.toString());
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qint64 n = code.toLongLong(&ok);
        if (ok && n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max())
            request.code = qint32(n);
        break;
    }
    default:
        break;
    }
    return request;
}

platform::Result<QByteArray> frameRequest(const TWMatchRequest& request)
{
    return TWWire::frameBody(request.dictionary());
}

std::optional<qint32> parseCode(const QString& text)
{
    if (text.isEmpty() || text.size() > 11)
        return std::nullopt;
    qsizetype i = text.at(0) == QLatin1Char('-') ? 1 : 0;
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (text.at(0) == QLatin1Char('-'))
        value = -value;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

} // namespace TWMatchWire

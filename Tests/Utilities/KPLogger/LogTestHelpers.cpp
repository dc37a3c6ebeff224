#include "LogTestHelpers.h"

#include "Utilities/KPLogger/KPLogClient.h"

#include <QtEndian>

namespace {

// Loggers made in this program never capture its output, unless a test asks for it.
[[maybe_unused]] const bool g_noCapture = qputenv(kNoCaptureVariable, "1");

} // namespace

namespace logtest {

std::optional<QList<QByteArray>> splitRecords(const QByteArray& file)
{
    QList<QByteArray> out;
    qsizetype pos = 0;
    while (pos < file.size()) {
        if (file.size() - pos < 4)
            return std::nullopt;
        const qsizetype len = qFromBigEndian<uint32_t>(file.constData() + pos) + 4;
        if (file.size() - pos < len)
            return std::nullopt;
        out.append(file.mid(pos, len));
        pos += len;
    }
    return out;
}

std::optional<QString> text(const QByteArray& record, uint8_t key)
{
    for (const auto& p : KPLogRecord::parse(record).value_or(QList<KPLogRecord::Part>())) {
        if (p.key == key && p.type == KPLogRecord::PartString)
            return QString::fromUtf8(p.bytes);
    }
    return std::nullopt;
}

std::optional<int64_t> number(const QByteArray& record, uint8_t key)
{
    for (const auto& p : KPLogRecord::parse(record).value_or(QList<KPLogRecord::Part>())) {
        if (p.key == key && (p.type == KPLogRecord::PartInt32 || p.type == KPLogRecord::PartInt64))
            return p.number;
    }
    return std::nullopt;
}

int32_t recordType(const QByteArray& record)
{
    return static_cast<int32_t>(number(record, KPLogRecord::KeyType).value_or(-1));
}

} // namespace logtest

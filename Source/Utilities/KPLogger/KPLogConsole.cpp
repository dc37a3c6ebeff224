#include "Utilities/KPLogger/KPLogConsole.h"

#include "Utilities/KPLogger/KPLogRecord.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

// Thread names shorter than this are padded on the left so the messages line up.
constexpr qsizetype kThreadColumnWidth = 16;
constexpr int kDumpBytesPerLine = 16;

std::atomic<int> g_outputFd{STDERR_FILENO};

QString trimmedText(const QByteArray& utf8)
{
    static const QByteArray blanks(" \t\n\r");
    qsizetype from = 0;
    qsizetype to = utf8.size();
    while (from < to && blanks.contains(utf8.at(from)))
        ++from;
    while (to > from && blanks.contains(utf8.at(to - 1)))
        --to;
    return QString::fromUtf8(utf8.constData() + from, to - from);
}

} // namespace

QString KPLogConsole::hexDump(const QByteArray& data)
{
    QString out = data.size() == 1
                      ? QStringLiteral("Raw data, 1 byte:\n")
                      : QStringLiteral("Raw data, %1 bytes:\n").arg(data.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    for (qsizetype offset = 0; offset < data.size(); offset += kDumpBytesPerLine) {
        char line[128];
        int n = std::snprintf(line, sizeof line, " %04x: ", static_cast<unsigned>(offset));
        QByteArray text;
        for (int i = 0; i < kDumpBytesPerLine; ++i) {
            if (offset + i < data.size()) {
                const unsigned char c = bytes[offset + i];
                n += std::snprintf(line + n, sizeof line - n, "%02x ", c);
                text.append(c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : ' ');
            } else {
                n += std::snprintf(line + n, sizeof line - n, "   ");
                text.append(' ');
            }
        }
        out += QString::fromLatin1(line, n);
        out += QLatin1Char('\'') + QString::fromLatin1(text) + QStringLiteral("'\n");
    }
    return out;
}

QString KPLogConsole::formatLine(const QByteArray& record)
{
    if (record.isNull())
        return QStringLiteral("KPLogLogToConsole: data is NULL");
    const auto parts = KPLogRecord::parse(record);
    if (!parts)
        return QString();

    int64_t seconds = 0;
    int millis = 0;
    int32_t type = KPLogRecord::TypeLog;
    QString thread;
    QString message;
    for (const KPLogRecord::Part& p : *parts) {
        switch (p.key) {
        case KPLogRecord::KeyType:
            type = static_cast<int32_t>(p.number);
            break;
        case KPLogRecord::KeyTimestampSeconds:
            seconds = p.number;
            break;
        case KPLogRecord::KeyTimestampMillis:
            millis = static_cast<int>(p.number);
            break;
        case KPLogRecord::KeyTimestampMicros:
            millis = static_cast<int>(p.number / 1000);
            break;
        case KPLogRecord::KeyThreadId:
            if (p.type == KPLogRecord::PartString)
                thread = trimmedText(p.bytes);
            else if (p.type == KPLogRecord::PartInt64)
                thread = QString::asprintf("thread 0x%llx", static_cast<unsigned long long>(p.number));
            else
                thread = QString::asprintf("thread 0x%08x", static_cast<unsigned>(p.number));
            break;
        case KPLogRecord::KeyMessage:
            if (p.type == KPLogRecord::PartString)
                message = trimmedText(p.bytes);
            else if (p.type == KPLogRecord::PartBinary)
                message = hexDump(p.bytes);
            break;
        default:
            break;
        }
    }
    if (type != KPLogRecord::TypeLog && type != KPLogRecord::TypeMarker)
        return QString();
    for (const KPLogRecord::Part& p : *parts) {
        if (p.key == KPLogRecord::KeyMessage && p.type == KPLogRecord::PartImage) {
            int width = 0;
            int height = 0;
            for (const KPLogRecord::Part& q : *parts) {
                if (q.key == KPLogRecord::KeyImageWidth)
                    width = static_cast<int>(q.number);
                else if (q.key == KPLogRecord::KeyImageHeight)
                    height = static_cast<int>(q.number);
            }
            message = QStringLiteral("<image width=%1 height=%2>").arg(width).arg(height);
        }
    }

    const time_t t = static_cast<time_t>(seconds);
    tm utc{};
    ::gmtime_r(&t, &utc);
    char clock[16];
    std::strftime(clock, sizeof clock, "%T", &utc);
    const QString pad(qMax<qsizetype>(0, kThreadColumnWidth - thread.size()), QLatin1Char(' '));
    return QString::fromLatin1(clock) + QString::asprintf(".%04d ", millis) + pad + thread
           + QStringLiteral(" | ") + message;
}

void KPLogConsole::print(const QByteArray& record)
{
    QString line = formatLine(record);
    if (line.isEmpty())
        return;
    if (!line.endsWith(QLatin1Char('\n')))
        line += QLatin1Char('\n');
    write(line);
}

void KPLogConsole::write(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const int fd = g_outputFd.load();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

int KPLogConsole::outputDescriptor()
{
    return g_outputFd.load();
}

void KPLogConsole::setOutputDescriptor(int fd)
{
    g_outputFd.store(fd);
}

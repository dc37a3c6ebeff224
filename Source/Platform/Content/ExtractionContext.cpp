#include "Platform/Content/ExtractionContext.h"

#include <cerrno>

namespace platform {

std::unexpected<Error> contentErrorOfOpen(const Error& opening)
{
    const int code = opening.code == ENOENT || opening.code == ENOTDIR ? ContentError::NotFound
        : opening.code == ENODEV                                      ? ContentError::Unsupported
        : opening.code == EFBIG                                       ? ContentError::TooLarge
                                                                      : ContentError::Unreadable;
    return contentError(code, opening.message);
}

ExtractionLimits ExtractionLimits::forPreview()
{
    ExtractionLimits l;
    l.maxTextChars = 6000;
    l.maxEntryBytes = 32LL * 1024 * 1024;
    l.maxTotalBytes = 64LL * 1024 * 1024;
    l.maxFileBytes = 1024 * 1024;
    l.maxPdfPages = 2;
    l.timeoutMs = 10000;
    return l;
}

ExtractionContext::ExtractionContext(const ExtractionLimits& limits)
    : m_limits(limits)
    , m_deadline(limits.timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                      : QDeadlineTimer(limits.timeoutMs))
{
}

bool TextBuffer::append(QStringView text)
{
    if (m_full)
        return false;
    if (text.isEmpty())
        return true;
    const qint64 room = m_ctx.limits().maxTextChars - m_text.size();
    if (text.size() > room) {
        m_text.append(text.first(qMax<qint64>(0, room)));
        // Never leave half of a surrogate pair at the cut.
        if (!m_text.isEmpty() && m_text.back().isHighSurrogate())
            m_text.chop(1);
        m_full = true;
        m_ctx.markTruncated();
        return false;
    }
    m_text.append(text);
    return true;
}

bool TextBuffer::newline()
{
    if (m_text.isEmpty() || m_text.endsWith(QLatin1Char('\n')))
        return !m_full;
    return append(QLatin1Char('\n'));
}

bool TextBuffer::done() const
{
    if (m_full)
        return true;
    if (m_ctx.expired()) {
        m_ctx.markTruncated();
        return true;
    }
    return false;
}

Result<ExtractedText> finishExtraction(TextBuffer& buffer, QString title)
{
    ExtractionContext& ctx = buffer.context();
    QString text = tidyText(buffer.take());
    if (ctx.expired() && text.isEmpty())
        return contentError(ContentError::TimedOut, QStringLiteral("ran out of time"));
    return ExtractedText{std::move(text), title.simplified(), ctx.truncated() || ctx.expired()};
}

QString tidyText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    int blankRun = 0;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        QStringView line = QStringView(text).sliced(start, end - start);
        while (!line.isEmpty() && (line.back().isSpace()))
            line.chop(1);
        if (line.trimmed().isEmpty()) {
            ++blankRun;
        } else {
            // Keep one blank line between paragraphs at most, none at the start.
            if (blankRun > 0 && !out.isEmpty())
                out.append(QLatin1Char('\n'));
            blankRun = 0;
            if (!out.isEmpty())
                out.append(QLatin1Char('\n'));
            out.append(line);
        }
        start = end + 1;
    }
    return out;
}

} // namespace platform

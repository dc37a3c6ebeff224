// Bounds for reading documents that may be huge, hostile or broken, and the running state that
// enforces them.
//
// Every reader in this folder takes an ExtractionContext rather than its own limits, so one
// document's work is bounded as a whole: the bytes inflated from all of a package's entries
// count against one budget, text is cut at one cap, and one deadline covers the whole job.
// Readers check the deadline in their loops; a job that runs out of time keeps the text it has
// (marked truncated) or fails when it has none. A context belongs to the one thread doing the job.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringView>

namespace platform {

// Error codes shared by the content readers (domain ContentError::kDomain).
struct ContentError {
    static inline const QString kDomain = QStringLiteral("Content");
    enum Code {
        NotFound = 1,    // no such file, or a package lacks the entry
        Unsupported = 2, // no reader for this kind of file
        Unreadable = 3,  // corrupt, truncated or not what its name says
        TooLarge = 4,    // over a size or compression-ratio cap
        TimedOut = 5,    // the deadline passed before anything was read
        Encrypted = 6,   // protected by a password
    };
};

inline std::unexpected<Error> contentError(int code, const QString& message)
{
    return fail(ContentError::kDomain, code, message);
}

// A refusal of RegularFile (missing, no regular file, over its cap) as a content error.
std::unexpected<Error> contentErrorOfOpen(const Error& opening);

struct ExtractionLimits {
    // Tuning: 5 Mi characters (10 MiB as UTF-16) is far more than a search needs of one document.
    qint64 maxTextChars = 5 * 1024 * 1024;
    // Tuning: one inflated package entry (a document.xml of a very long book is ~20 MiB).
    qint64 maxEntryBytes = 64LL * 1024 * 1024;
    // Tuning: all entries of one package together.
    qint64 maxTotalBytes = 256LL * 1024 * 1024;
    // Tuning: inflated/compressed. XML packs 10–30:1; a zip bomb packs ~1000:1. Entries smaller
    // than kRatioFreeBytes are exempt, since tiny runs of padding compress absurdly well.
    int maxCompressionRatio = 200;
    // Tuning: bytes of a plain file (text, RTF, HTML, mail) read at most.
    qint64 maxFileBytes = 64LL * 1024 * 1024;
    // Tuning: PDF pages whose text is read.
    int maxPdfPages = 3000;
    // Tuning: wall time for one document; -1 means none.
    qint64 timeoutMs = 30000;

    static constexpr qint64 kRatioFreeBytes = 1024 * 1024;

    // Small bounds for previews, which only need the first screenful of text.
    static ExtractionLimits forPreview();
};

class ExtractionContext {
public:
    explicit ExtractionContext(const ExtractionLimits& limits = {});

    const ExtractionLimits& limits() const { return m_limits; }
    bool expired() const { return m_deadline.hasExpired(); }
    QDeadlineTimer deadline() const { return m_deadline; }

    // Inflated-byte budget shared by all package entries of this job.
    qint64 bytesLeft() const { return m_limits.maxTotalBytes - m_bytesRead; }
    void chargeBytes(qint64 n) { m_bytesRead += n; }

    // Whether the text or time cap cut the result short.
    bool truncated() const { return m_truncated; }
    void markTruncated() { m_truncated = true; }

private:
    ExtractionLimits m_limits;
    QDeadlineTimer m_deadline;
    qint64 m_bytesRead = 0;
    bool m_truncated = false;
};

// Text gathered under the context's cap. append() answers false once the cap is reached (or the
// deadline passed), telling the reader to stop.
class TextBuffer {
public:
    explicit TextBuffer(ExtractionContext& ctx) : m_ctx(ctx) {}

    bool append(QStringView text);
    bool append(QChar c) { return append(QStringView(&c, 1)); }
    // A line break, unless the text is empty or already ends with one.
    bool newline();
    // Whether reading should stop: cap reached or time up (this reads the clock).
    bool done() const;
    // Whether the cap is reached (cheap enough for every character).
    bool full() const { return m_full; }

    const QString& text() const { return m_text; }
    QString take() { return std::move(m_text); }
    ExtractionContext& context() { return m_ctx; }

private:
    ExtractionContext& m_ctx;
    QString m_text;
    bool m_full = false;
};

// What a text extractor answers.
struct ExtractedText {
    QString text;
    QString title;          // when the format names one (HTML title, mail subject, PDF title)
    bool truncated = false; // the text or time cap cut it short
};

// The usual end of a reader: what was gathered, or an error when the deadline left nothing.
Result<ExtractedText> finishExtraction(TextBuffer& buffer, QString title = {});

// Text with runs of blank lines and trailing spaces removed, for a tidy index and preview.
QString tidyText(const QString& text);

} // namespace platform

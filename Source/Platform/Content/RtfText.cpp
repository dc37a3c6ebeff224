#include "Platform/Content/RtfText.h"

#include "Platform/Content/TextDecoding.h"

#include <QSet>
#include <vector>

namespace platform {

namespace {

// Tuning: bytes between deadline checks.
constexpr qsizetype kCheckEvery = 64 * 1024;

// Destinations whose contents are not document text.
const QSet<QByteArray>& skippedDestinations()
{
    static const QSet<QByteArray> names = {
        "fonttbl", "colortbl", "stylesheet", "info", "pict", "objdata", "themedata", "colorschememapping",
        "datastore", "latentstyles", "xmlnstbl", "listtable", "listoverridetable", "rsidtbl", "generator",
        "filetbl", "revtbl", "fldinst", "pgdsctbl", "header", "headerl", "headerr", "headerf", "footer",
        "footerl", "footerr", "footerf", "nonshppict", "sp", "pntxta", "pntxtb", "bkmkstart", "bkmkend",
        "userprops", "atnid", "atnauthor", "mmathPr", "expandedcolortbl", "template", "passwordhash",
        "wgrffmtfilter", "listpicture", "protusertbl", "private",
    };
    return names;
}

struct GroupState {
    int ucSkip = 1;
    bool skip = false;
};

class RtfParser {
public:
    RtfParser(QByteArrayView rtf, TextBuffer& out) : m_in(rtf), m_out(out) {}

    Result<void> run()
    {
        m_stack.push_back(GroupState{});
        qsizetype nextCheck = kCheckEvery;
        while (m_pos < m_in.size()) {
            if (m_pos >= nextCheck) {
                nextCheck = m_pos + kCheckEvery;
                if (m_out.done())
                    return {};
            }
            const char c = m_in[m_pos++];
            switch (c) {
            case '{':
                if (int(m_stack.size()) >= RtfText::kMaxDepth)
                    return contentError(ContentError::Unreadable, QStringLiteral("RTF groups nest too deeply"));
                m_stack.push_back(m_stack.back());
                m_pendingSkip = 0;
                break;
            case '}':
                flush();
                if (m_stack.size() > 1)
                    m_stack.pop_back();
                m_pendingSkip = 0;
                break;
            case '\\':
                control();
                break;
            case '\r':
            case '\n':
                break;
            default:
                character(c);
            }
            if (m_out.full())
                break;
        }
        flush();
        return {};
    }

private:
    GroupState& state() { return m_stack.back(); }

    // Whether the next character is a \u fallback to drop.
    bool consumeSkip()
    {
        if (m_pendingSkip <= 0)
            return false;
        --m_pendingSkip;
        return true;
    }

    void character(char c)
    {
        if (consumeSkip() || state().skip)
            return;
        if (uchar(c) >= 0x80) {
            m_bytes.append(c);
            return;
        }
        flush();
        m_out.append(QLatin1Char(c));
    }

    void put(QStringView text)
    {
        flush();
        if (!state().skip)
            m_out.append(text);
    }

    // Code-page bytes are decoded together so that double-byte code pages come out whole.
    void flush()
    {
        if (m_bytes.isEmpty())
            return;
        m_out.append(TextDecoding::decodeCodePage(m_bytes, m_codePage));
        m_bytes.clear();
    }

    void control()
    {
        if (m_pos >= m_in.size())
            return;
        const char c = m_in[m_pos];
        if (!isLetter(c)) {
            ++m_pos;
            symbol(c);
            return;
        }
        const qsizetype start = m_pos;
        while (m_pos < m_in.size() && isLetter(m_in[m_pos]) && m_pos - start < 32)
            ++m_pos;
        const QByteArray word = m_in.sliced(start, m_pos - start).toByteArray();
        bool hasParam = false;
        qint64 param = 0;
        const qsizetype numStart = m_pos;
        if (m_pos < m_in.size() && m_in[m_pos] == '-')
            ++m_pos;
        while (m_pos < m_in.size() && m_in[m_pos] >= '0' && m_in[m_pos] <= '9' && m_pos - numStart < 11)
            ++m_pos;
        if (m_pos > numStart && !(m_pos == numStart + 1 && m_in[numStart] == '-')) {
            hasParam = true;
            param = m_in.sliced(numStart, m_pos - numStart).toLongLong();
        } else {
            m_pos = numStart;
        }
        if (m_pos < m_in.size() && m_in[m_pos] == ' ')
            ++m_pos;
        controlWord(word, hasParam, param);
    }

    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    void symbol(char c)
    {
        switch (c) {
        case '\'': {
            if (m_pos + 2 > m_in.size())
                return;
            bool ok = false;
            const int byte = m_in.sliced(m_pos, 2).toByteArray().toInt(&ok, 16);
            m_pos += 2;
            if (!ok || consumeSkip() || state().skip)
                return;
            m_bytes.append(char(byte));
            return;
        }
        case '*':
            state().skip = true;
            return;
        case '\\':
        case '{':
        case '}':
            if (!consumeSkip() && !state().skip) {
                flush();
                m_out.append(QLatin1Char(c));
            }
            return;
        case '~':
            if (!consumeSkip())
                put(u" ");
            return;
        case '_':
            if (!consumeSkip())
                put(u"-");
            return;
        case '\n':
        case '\r':
            put(u"\n");
            return;
        default:
            consumeSkip();
        }
    }

    void controlWord(const QByteArray& word, bool hasParam, qint64 param)
    {
        if (word == "bin") {
            // Raw binary data follows; it is never text, whatever group it is in.
            flush();
            m_pos = qMin(m_in.size(), m_pos + qsizetype(qMax<qint64>(0, param)));
            return;
        }
        if (word == "uc") {
            state().ucSkip = int(qBound<qint64>(0, param, qint64(16)));
            return;
        }
        if (word == "u" && hasParam) {
            if (consumeSkip())
                return;
            const char16_t unit = char16_t(param < 0 ? param + 65536 : param);
            if (!state().skip) {
                flush();
                m_out.append(QChar(unit));
            }
            m_pendingSkip = state().ucSkip;
            return;
        }
        if (consumeSkip())
            return;
        if (skippedDestinations().contains(word)) {
            state().skip = true;
            return;
        }
        if (word == "ansicpg" && hasParam) {
            flush();
            m_codePage = int(param);
        } else if (word == "mac") {
            m_codePage = 10000;
        } else if (word == "pc") {
            m_codePage = 437;
        } else if (word == "pca") {
            m_codePage = 850;
        } else if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row") {
            put(u"\n");
        } else if (word == "tab" || word == "cell") {
            put(u"\t");
        } else if (word == "emdash") {
            put(u"\u2014");
        } else if (word == "endash") {
            put(u"\u2013");
        } else if (word == "bullet") {
            put(u"\u2022");
        } else if (word == "lquote") {
            put(u"\u2018");
        } else if (word == "rquote") {
            put(u"\u2019");
        } else if (word == "ldblquote") {
            put(u"\u201C");
        } else if (word == "rdblquote") {
            put(u"\u201D");
        } else if (word == "emspace" || word == "enspace" || word == "qmspace") {
            put(u" ");
        }
    }

    QByteArrayView m_in;
    TextBuffer& m_out;
    qsizetype m_pos = 0;
    std::vector<GroupState> m_stack;
    QByteArray m_bytes;
    int m_codePage = 1252;
    int m_pendingSkip = 0;
};

} // namespace

Result<ExtractedText> RtfText::extract(QByteArrayView rtf, ExtractionContext& ctx)
{
    qsizetype start = 0;
    if (rtf.startsWith("\xEF\xBB\xBF"))
        start = 3;
    while (start < rtf.size() && (rtf[start] == ' ' || rtf[start] == '\r' || rtf[start] == '\n' || rtf[start] == '\t'))
        ++start;
    if (!rtf.sliced(start).startsWith("{\\rtf"))
        return contentError(ContentError::Unreadable, QStringLiteral("not an RTF document"));
    TextBuffer buffer(ctx);
    // The outer brace is consumed here so that the document's own state is the bottom group.
    RtfParser parser(rtf.sliced(start + 1), buffer);
    if (auto done = parser.run(); !done)
        return std::unexpected(done.error());
    return finishExtraction(buffer);
}

} // namespace platform

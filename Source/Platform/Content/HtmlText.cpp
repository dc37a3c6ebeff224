#include "Platform/Content/HtmlText.h"

#include "Platform/Content/TextDecoding.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace platform {

namespace {

// Tuning: bytes at the start of a page searched for its charset declaration.
constexpr qsizetype kCharsetProbeBytes = 4096;
// Character references longer than this are not references.
constexpr qsizetype kMaxEntityLength = 32;

const QHash<QStringView, char32_t>& namedEntities()
{
    static const QHash<QStringView, char32_t> table = [] {
        static const std::pair<const char16_t*, char32_t> entries[] = {
        {u"nbsp", 0xA0}, {u"iexcl", 0xA1}, {u"cent", 0xA2}, {u"pound", 0xA3}, {u"curren", 0xA4}, {u"yen", 0xA5},
        {u"brvbar", 0xA6}, {u"sect", 0xA7}, {u"uml", 0xA8}, {u"copy", 0xA9}, {u"ordf", 0xAA}, {u"laquo", 0xAB},
        {u"not", 0xAC}, {u"shy", 0xAD}, {u"reg", 0xAE}, {u"macr", 0xAF}, {u"deg", 0xB0}, {u"plusmn", 0xB1},
        {u"sup2", 0xB2}, {u"sup3", 0xB3}, {u"acute", 0xB4}, {u"micro", 0xB5}, {u"para", 0xB6}, {u"middot", 0xB7},
        {u"cedil", 0xB8}, {u"sup1", 0xB9}, {u"ordm", 0xBA}, {u"raquo", 0xBB}, {u"frac14", 0xBC}, {u"frac12", 0xBD},
        {u"frac34", 0xBE}, {u"iquest", 0xBF}, {u"Agrave", 0xC0}, {u"Aacute", 0xC1}, {u"Acirc", 0xC2}, {u"Atilde", 0xC3},
        {u"Auml", 0xC4}, {u"Aring", 0xC5}, {u"AElig", 0xC6}, {u"Ccedil", 0xC7}, {u"Egrave", 0xC8}, {u"Eacute", 0xC9},
        {u"Ecirc", 0xCA}, {u"Euml", 0xCB}, {u"Igrave", 0xCC}, {u"Iacute", 0xCD}, {u"Icirc", 0xCE}, {u"Iuml", 0xCF},
        {u"ETH", 0xD0}, {u"Ntilde", 0xD1}, {u"Ograve", 0xD2}, {u"Oacute", 0xD3}, {u"Ocirc", 0xD4}, {u"Otilde", 0xD5},
        {u"Ouml", 0xD6}, {u"times", 0xD7}, {u"Oslash", 0xD8}, {u"Ugrave", 0xD9}, {u"Uacute", 0xDA}, {u"Ucirc", 0xDB},
        {u"Uuml", 0xDC}, {u"Yacute", 0xDD}, {u"THORN", 0xDE}, {u"szlig", 0xDF}, {u"agrave", 0xE0}, {u"aacute", 0xE1},
        {u"acirc", 0xE2}, {u"atilde", 0xE3}, {u"auml", 0xE4}, {u"aring", 0xE5}, {u"aelig", 0xE6}, {u"ccedil", 0xE7},
        {u"egrave", 0xE8}, {u"eacute", 0xE9}, {u"ecirc", 0xEA}, {u"euml", 0xEB}, {u"igrave", 0xEC}, {u"iacute", 0xED},
        {u"icirc", 0xEE}, {u"iuml", 0xEF}, {u"eth", 0xF0}, {u"ntilde", 0xF1}, {u"ograve", 0xF2}, {u"oacute", 0xF3},
        {u"ocirc", 0xF4}, {u"otilde", 0xF5}, {u"ouml", 0xF6}, {u"divide", 0xF7}, {u"oslash", 0xF8}, {u"ugrave", 0xF9},
        {u"uacute", 0xFA}, {u"ucirc", 0xFB}, {u"uuml", 0xFC}, {u"yacute", 0xFD}, {u"thorn", 0xFE}, {u"yuml", 0xFF},
        {u"amp", '&'}, {u"lt", '<'}, {u"gt", '>'}, {u"quot", '"'}, {u"apos", '\''},
        {u"OElig", 0x152}, {u"oelig", 0x153}, {u"Scaron", 0x160}, {u"scaron", 0x161}, {u"Yuml", 0x178},
        {u"fnof", 0x192}, {u"circ", 0x2C6}, {u"tilde", 0x2DC}, {u"ensp", 0x2002}, {u"emsp", 0x2003},
        {u"thinsp", 0x2009}, {u"zwnj", 0x200C}, {u"zwj", 0x200D}, {u"lrm", 0x200E}, {u"rlm", 0x200F},
        {u"ndash", 0x2013}, {u"mdash", 0x2014}, {u"lsquo", 0x2018}, {u"rsquo", 0x2019}, {u"sbquo", 0x201A},
        {u"ldquo", 0x201C}, {u"rdquo", 0x201D}, {u"bdquo", 0x201E}, {u"dagger", 0x2020}, {u"Dagger", 0x2021},
        {u"bull", 0x2022}, {u"hellip", 0x2026}, {u"permil", 0x2030}, {u"prime", 0x2032}, {u"lsaquo", 0x2039},
        {u"rsaquo", 0x203A}, {u"euro", 0x20AC}, {u"trade", 0x2122}, {u"larr", 0x2190}, {u"rarr", 0x2192},
        {u"minus", 0x2212}, {u"le", 0x2264}, {u"ge", 0x2265}, {u"ne", 0x2260}, {u"infin", 0x221E},
        };
        QHash<QStringView, char32_t> t;
        for (const auto& [name, cp] : entries)
            t.insert(QStringView(name), cp);
        return t;
    }();
    return table;
}

const QSet<QString>& blockElements()
{
    static const QSet<QString> names = {
        QStringLiteral("p"), QStringLiteral("div"), QStringLiteral("br"), QStringLiteral("li"),
        QStringLiteral("ul"), QStringLiteral("ol"), QStringLiteral("dl"), QStringLiteral("dt"),
        QStringLiteral("dd"), QStringLiteral("tr"), QStringLiteral("table"), QStringLiteral("h1"),
        QStringLiteral("h2"), QStringLiteral("h3"), QStringLiteral("h4"), QStringLiteral("h5"),
        QStringLiteral("h6"), QStringLiteral("pre"), QStringLiteral("blockquote"), QStringLiteral("section"),
        QStringLiteral("article"), QStringLiteral("header"), QStringLiteral("footer"), QStringLiteral("nav"),
        QStringLiteral("aside"), QStringLiteral("hr"), QStringLiteral("title"), QStringLiteral("address"),
        QStringLiteral("figure"), QStringLiteral("figcaption"), QStringLiteral("caption"), QStringLiteral("body"),
        QStringLiteral("main"), QStringLiteral("form"), QStringLiteral("fieldset"), QStringLiteral("legend"),
    };
    return names;
}

// Elements whose contents are code or markup, never text.
bool isRawTextElement(const QString& name)
{
    return name == QLatin1String("script") || name == QLatin1String("style") || name == QLatin1String("template");
}

void appendCodePoint(QString& out, char32_t cp)
{
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (QChar::requiresSurrogates(cp)) {
        out.append(QChar::highSurrogate(cp));
        out.append(QChar::lowSurrogate(cp));
    } else {
        out.append(QChar(char16_t(cp)));
    }
}

// Collapses white space as a browser does and writes words to the buffer.
class TextWriter {
public:
    explicit TextWriter(TextBuffer& out) : m_out(out) {}

    void text(QStringView raw)
    {
        const QString decoded = raw.contains(QLatin1Char('&')) ? HtmlText::decodeEntities(raw) : raw.toString();
        QString run;
        run.reserve(decoded.size());
        for (QChar c : decoded) {
            if (c.isSpace()) {
                m_space = true;
                continue;
            }
            if (m_space && m_started)
                run.append(QLatin1Char(' '));
            m_space = false;
            m_started = true;
            run.append(c);
        }
        m_out.append(run);
    }
    void lineBreak()
    {
        m_out.newline();
        m_space = false;
        m_started = false;
    }
    void tab()
    {
        if (m_started)
            m_out.append(QLatin1Char('\t'));
        m_space = false;
    }

private:
    TextBuffer& m_out;
    bool m_space = false;
    bool m_started = false;
};

qsizetype indexOfCaseless(QStringView hay, QStringView needle, qsizetype from)
{
    return hay.indexOf(needle, from, Qt::CaseInsensitive);
}

// The end of a tag starting at `from` (just past '<'), honouring quoted attribute values.
qsizetype tagEnd(QStringView html, qsizetype from)
{
    QChar quote;
    for (qsizetype i = from; i < html.size(); ++i) {
        const QChar c = html[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            // Only quotes that open an attribute value count; a stray one must not eat the page.
            if (i > from && html[i - 1] == QLatin1Char('='))
                quote = c;
        } else if (c == QLatin1Char('>')) {
            return i;
        }
    }
    return html.size();
}

} // namespace

QString HtmlText::decodeEntities(QStringView text)
{
    QString out;
    out.reserve(text.size());
    const auto& named = namedEntities();
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c != QLatin1Char('&')) {
            out.append(c);
            ++i;
            continue;
        }
        const qsizetype semi = text.indexOf(QLatin1Char(';'), i + 1);
        if (semi < 0 || semi - i > kMaxEntityLength) {
            out.append(c);
            ++i;
            continue;
        }
        const QStringView body = text.sliced(i + 1, semi - i - 1);
        bool ok = false;
        char32_t cp = 0;
        if (body.startsWith(QLatin1Char('#'))) {
            const bool hex = body.size() > 1 && (body[1] == QLatin1Char('x') || body[1] == QLatin1Char('X'));
            const uint value = body.sliced(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            cp = ok ? char32_t(value) : 0;
            if (ok && value > 0x10FFFF)
                cp = 0xFFFD;
        } else if (auto it = named.constFind(body); it != named.constEnd()) {
            ok = true;
            cp = *it;
        }
        if (!ok) {
            out.append(c);
            ++i;
            continue;
        }
        appendCodePoint(out, cp);
        i = semi + 1;
    }
    return out;
}

QByteArray HtmlText::declaredCharset(QByteArrayView html)
{
    const QString head = QString::fromLatin1(html.first(qMin(html.size(), kCharsetProbeBytes)));
    static const QRegularExpression meta(QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9_.:-]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression xmlDecl(QStringLiteral("^\\s*<\\?xml[^>]*encoding\\s*=\\s*[\"']([A-Za-z0-9_.:-]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    for (const QRegularExpression* re : {&xmlDecl, &meta}) {
        const QRegularExpressionMatch m = re->match(head);
        if (m.hasMatch())
            return m.captured(1).toLatin1().toLower();
    }
    return {};
}

Result<ExtractedText> HtmlText::extract(QByteArrayView html, ExtractionContext& ctx)
{
    QString decoded;
    if (html.startsWith("\xEF\xBB\xBF") || html.startsWith("\xFF\xFE") || html.startsWith("\xFE\xFF"))
        decoded = TextDecoding::decode(html);
    else
        decoded = TextDecoding::decodeAs(html, declaredCharset(html));
    TextBuffer buffer(ctx);
    QString title;
    appendText(decoded, buffer, &title);
    return finishExtraction(buffer, title);
}

void HtmlText::appendText(QStringView html, TextBuffer& out, QString* title)
{
    TextWriter writer(out);
    qsizetype i = 0;
    qsizetype titleStart = -1;
    // done() also checks the deadline, once per tag.
    while (i < html.size() && !out.done()) {
        const qsizetype lt = html.indexOf(QLatin1Char('<'), i);
        const qsizetype textEnd = lt < 0 ? html.size() : lt;
        if (textEnd > i)
            writer.text(html.sliced(i, textEnd - i));
        if (lt < 0)
            break;
        i = lt + 1;
        if (i >= html.size()) {
            writer.text(u"<");
            break;
        }
        const QStringView rest = html.sliced(i);
        if (rest.startsWith(u"!--")) {
            const qsizetype end = html.indexOf(u"-->", i + 3);
            i = end < 0 ? html.size() : end + 3;
            continue;
        }
        if (rest.startsWith(u"![CDATA[")) {
            const qsizetype end = html.indexOf(u"]]>", i + 8);
            const qsizetype stop = end < 0 ? html.size() : end;
            writer.text(html.sliced(i + 8, stop - i - 8));
            i = end < 0 ? html.size() : end + 3;
            continue;
        }
        if (rest.startsWith(QLatin1Char('!')) || rest.startsWith(QLatin1Char('?'))) {
            const qsizetype end = html.indexOf(QLatin1Char('>'), i);
            i = end < 0 ? html.size() : end + 1;
            continue;
        }
        // A start or end tag: only its name matters; attributes (links, sources) are skipped.
        const bool closing = rest.startsWith(QLatin1Char('/'));
        qsizetype nameStart = i + (closing ? 1 : 0);
        qsizetype nameEnd = nameStart;
        while (nameEnd < html.size() && (html[nameEnd].isLetterOrNumber() || html[nameEnd] == QLatin1Char(':')
                                         || html[nameEnd] == QLatin1Char('-')))
            ++nameEnd;
        if (nameEnd == nameStart || !html[nameStart].isLetter()) {
            // A lone "<" in text, as in "a < b".
            writer.text(u"<");
            continue;
        }
        QString name = html.sliced(nameStart, nameEnd - nameStart).toString().toLower();
        if (const qsizetype colon = name.lastIndexOf(QLatin1Char(':')); colon >= 0)
            name = name.mid(colon + 1);
        const qsizetype end = tagEnd(html, nameEnd);
        i = end < html.size() ? end + 1 : html.size();

        if (!closing && isRawTextElement(name)) {
            const qsizetype close = indexOfCaseless(html, QString(QStringLiteral("</") + name), i);
            i = close < 0 ? html.size() : close;
            continue;
        }
        if (name == QLatin1String("title") && title) {
            if (!closing) {
                titleStart = i;
            } else if (titleStart >= 0) {
                *title = decodeEntities(html.sliced(titleStart, lt - titleStart)).simplified();
                titleStart = -1;
            }
        }
        if (name == QLatin1String("td") || name == QLatin1String("th")) {
            if (!closing)
                writer.tab();
        } else if (blockElements().contains(name)) {
            writer.lineBreak();
        }
    }
}

} // namespace platform

#include "Platform/Foundation/XmlPropertyList.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/PropertyListValues.h"

#include <QXmlStreamReader>
#include <cmath>
#include <limits>
#include <vector>

namespace platform {

using namespace plist;

namespace {

const QString kUidKey = QStringLiteral("CF$UID");

std::optional<quint64> digitsValue(QStringView digits, int base)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint64 v = 0;
    for (QChar c : digits) {
        const int d = c.isDigit() && c.unicode() < 0x80 ? c.unicode() - '0'
            : base == 16 && c.unicode() >= 'a' && c.unicode() <= 'f' ? c.unicode() - 'a' + 10
            : base == 16 && c.unicode() >= 'A' && c.unicode() <= 'F' ? c.unicode() - 'A' + 10
                                                                     : -1;
        if (d < 0 || v > (std::numeric_limits<quint64>::max() - quint64(d)) / quint64(base))
            return std::nullopt;
        v = v * quint64(base) + quint64(d);
    }
    return v;
}

QVariant integerVariant(quint64 v)
{
    return v <= quint64(std::numeric_limits<qint64>::max()) ? QVariant(qint64(v)) : QVariant(v);
}

// Decimal with an optional sign, or 0x-hex; nothing else. "0123" is 123, not octal.
std::optional<QVariant> parseInteger(QStringView text)
{
    const QStringView s = text.trimmed();
    if (s.startsWith(u"0x") || s.startsWith(u"0X")) {
        const auto v = digitsValue(s.sliced(2), 16);
        return v ? std::optional(integerVariant(*v)) : std::nullopt;
    }
    const bool negative = s.startsWith(u'-');
    const QStringView digits = negative || s.startsWith(u'+') ? s.sliced(1) : s;
    const auto v = digitsValue(digits, 10);
    if (!v)
        return std::nullopt;
    if (!negative)
        return integerVariant(*v);
    constexpr quint64 kLargestMagnitude = quint64(std::numeric_limits<qint64>::max()) + 1;
    if (*v > kLargestMagnitude)
        return std::nullopt;
    return QVariant(qint64(0 - *v));
}

std::optional<double> parseReal(QStringView text)
{
    const QString s = text.trimmed().toString().toLower();
    const bool negative = s.startsWith(QLatin1Char('-'));
    const QString word = negative || s.startsWith(QLatin1Char('+')) ? s.mid(1) : s;
    if (word == QLatin1String("nan"))
        return std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
    if (word == QLatin1String("inf") || word == QLatin1String("infinity"))
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    // Plain decimal notation only; Qt's parser would take "nan" and "inf" in other spellings.
    for (QChar c : s)
        if (!(c.isDigit() && c.unicode() < 0x80) && !QStringLiteral("+-.e").contains(c))
            return std::nullopt;
    bool ok = false;
    const double v = s.toLatin1().toDouble(&ok); // out of range either way fails here too
    return ok ? std::optional(v) : std::nullopt;
}

// "YYYY-MM-DDTHH:MM:SSZ" in UTC, ISO year 0000 being 1 BC.
std::optional<QDateTime> parseDate(QStringView text)
{
    const QStringView s = text.trimmed();
    static constexpr char16_t kPattern[] = u"0000-00-00T00:00:00Z";
    if (s.size() != qsizetype(std::size(kPattern) - 1))
        return std::nullopt;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const bool digit = s[i].unicode() >= '0' && s[i].unicode() <= '9';
        if (kPattern[i] == u'0' ? !digit : s[i] != QChar(kPattern[i]))
            return std::nullopt;
    }
    auto number = [&](int from, int length) { return s.sliced(from, length).toInt(); };
    const int isoYear = number(0, 4);
    const QDate date(isoYear > 0 ? isoYear : isoYear - 1, number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

std::optional<QByteArray> parseBase64(QStringView text)
{
    QByteArray compact;
    compact.reserve(text.size());
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r')
            continue;
        if (c.unicode() >= 0x80)
            return std::nullopt;
        compact += char(c.unicode());
    }
    // A lone final character carries 6 bits, not a byte: a cut-off text.
    if (compact.size() % 4 == 1)
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok)
        return std::nullopt;
    return std::move(decoded.decoded);
}

// Encodings whose every byte sequence Qt turns into exactly the characters it stands for (or
// an error). Others go through converters that may replace, drop or half-decode characters
// (UTF-7 yields lone surrogates), so what was read would not be what the file holds.
bool isExactEncoding(QStringView name)
{
    static const QStringList exact{QStringLiteral("utf-8"),    QStringLiteral("utf8"),     QStringLiteral("utf-16"),
                                   QStringLiteral("utf-16le"), QStringLiteral("utf-16be"), QStringLiteral("iso-8859-1"),
                                   QStringLiteral("latin1")};
    return name.isEmpty() || exact.contains(name.toString().toLower());
}

// Where text holds a character the XML writer cannot carry, which the XML tokenizer lets
// through in UTF-16 input; -1 when it holds none. Such text would be read but not written back.
qsizetype unwritableAt(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF)
            return i;
    }
    return -1;
}

class Reader {
public:
    explicit Reader(const QByteArray& bytes) : m_xml(bytes) {}

    Result<QVariant> read()
    {
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartDocument:
                if (!isExactEncoding(m_xml.documentEncoding()))
                    return bad(QStringLiteral("the encoding \"%1\" is not read (UTF-8 and UTF-16 are)")
                                   .arg(m_xml.documentEncoding().left(64)));
                break;
            case QXmlStreamReader::DTD:
                // Declared entities expand without a bound on the total (a few kilobytes of
                // declarations unfold to gigabytes); property lists never declare any.
                if (!m_xml.entityDeclarations().isEmpty() || !m_xml.notationDeclarations().isEmpty()
                    || m_xml.text().contains(u'['))
                    return bad(QStringLiteral("a DOCTYPE with declarations"));
                break;
            case QXmlStreamReader::StartElement:
                if (auto ok = start(); !ok)
                    return std::unexpected(ok.error());
                break;
            case QXmlStreamReader::EndElement:
                if (auto ok = end(); !ok)
                    return std::unexpected(ok.error());
                break;
            case QXmlStreamReader::Characters:
                if (!m_xml.isWhitespace())
                    return bad(QStringLiteral("text outside a value"));
                break;
            case QXmlStreamReader::EntityReference:
                return undefinedEntity();
            default: // the declaration, DOCTYPE, comments, processing instructions
                break;
            }
        }
        if (m_xml.hasError())
            return parseError();
        if (!m_root)
            return bad(QStringLiteral("no value"));
        return *m_root;
    }

private:
    enum class Container { Plist, Array, Dict };
    struct Frame {
        explicit Frame(Container k) : kind(k) {}
        Container kind;
        QVariantList list;
        QVariantMap map;
        QString key;
        bool hasKey = false;
        bool hasValue = false;
    };

    std::unexpected<Error> bad(const QString& why) const
    {
        return malformed(QStringLiteral("XML property list, line %1: %2")
                             .arg(m_xml.lineNumber())
                             .arg(why));
    }

    std::unexpected<Error> undefinedEntity() const
    {
        return bad(QStringLiteral("undefined entity &%1;").arg(m_xml.name()));
    }

    std::unexpected<Error> parseError() const
    {
        const QString why = m_xml.errorString();
        if (why.contains(QLatin1String("encod"), Qt::CaseInsensitive))
            return bad(QStringLiteral("%1 (UTF-8 and UTF-16 are read)").arg(why));
        return bad(why);
    }

    // The text of the element just started, up to its end tag; elements inside are errors.
    Result<QString> text()
    {
        const QString element = m_xml.name().toString();
        QString out;
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::Characters:
                out += m_xml.text();
                break;
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                break;
            case QXmlStreamReader::EndElement:
                if (const qsizetype at = unwritableAt(out); at >= 0)
                    return bad(QStringLiteral("<%1> holds U+%2, which XML cannot carry")
                                   .arg(element)
                                   .arg(int(out.at(at).unicode()), 4, 16, QLatin1Char('0')));
                return out;
            case QXmlStreamReader::EntityReference:
                return undefinedEntity();
            case QXmlStreamReader::StartElement:
                return bad(QStringLiteral("<%1> inside <%2>").arg(m_xml.name(), element));
            default:
                return m_xml.hasError() ? parseError() : bad(QStringLiteral("unexpected content"));
            }
        }
    }

    // Whether the innermost container has room for a value now.
    Result<void> expectValue() const
    {
        if (m_stack.empty())
            return {};
        const Frame& f = m_stack.back();
        if (f.kind == Container::Plist && f.hasValue)
            return bad(QStringLiteral("<plist> holds more than one value"));
        if (f.kind == Container::Dict && !f.hasKey)
            return bad(QStringLiteral("a dictionary value without a key"));
        return {};
    }

    void deliver(QVariant value)
    {
        if (m_stack.empty()) {
            m_root = std::move(value);
            return;
        }
        Frame& f = m_stack.back();
        switch (f.kind) {
        case Container::Plist:
            f.list.append(std::move(value));
            f.hasValue = true;
            break;
        case Container::Array:
            f.list.append(std::move(value));
            break;
        case Container::Dict:
            f.map.insert(f.key, std::move(value));
            f.hasKey = false;
            break;
        }
    }

    Result<void> start()
    {
        const QStringView name = m_xml.name();
        if (name == u"plist") {
            if (!m_stack.empty())
                return bad(QStringLiteral("<plist> inside a value"));
            m_stack.emplace_back(Container::Plist);
            return {};
        }
        if (name == u"key") {
            if (m_stack.empty() || m_stack.back().kind != Container::Dict)
                return bad(QStringLiteral("<key> outside a dictionary"));
            if (m_stack.back().hasKey)
                return bad(QStringLiteral("key \"%1\" without a value").arg(m_stack.back().key));
            auto key = text();
            if (!key)
                return std::unexpected(key.error());
            Frame& f = m_stack.back();
            if (f.map.contains(*key))
                return bad(QStringLiteral("key \"%1\" appears twice").arg(*key));
            f.key = *key;
            f.hasKey = true;
            return {};
        }
        if (auto ok = expectValue(); !ok)
            return ok;
        if (name == u"array" || name == u"dict") {
            if (++m_containers > kMaxNesting)
                return tooDeep();
            m_stack.emplace_back(name == u"array" ? Container::Array : Container::Dict);
            return {};
        }
        static const QStringList scalars{QStringLiteral("string"), QStringLiteral("integer"),
                                         QStringLiteral("real"),   QStringLiteral("true"),
                                         QStringLiteral("false"),  QStringLiteral("date"),
                                         QStringLiteral("data")};
        if (!scalars.contains(name))
            return bad(QStringLiteral("unknown element <%1>").arg(name));
        const QString element = name.toString();
        auto content = text();
        if (!content)
            return std::unexpected(content.error());
        auto value = scalar(element, *content);
        if (!value)
            return std::unexpected(value.error());
        deliver(std::move(*value));
        return {};
    }

    Result<QVariant> scalar(const QString& element, const QString& content) const
    {
        auto refuse = [&](const QString& what) {
            return bad(QStringLiteral("%1 \"%2\"").arg(what, content.left(64)));
        };
        if (element == QLatin1String("string"))
            return QVariant(content);
        if (element == QLatin1String("true") || element == QLatin1String("false")) {
            if (!content.trimmed().isEmpty())
                return refuse(QStringLiteral("text inside <%1/>:").arg(element));
            return QVariant(element == QLatin1String("true"));
        }
        auto either = [&](const auto& parsed, const char* what) -> Result<QVariant> {
            if (!parsed)
                return refuse(QString::fromLatin1(what));
            return QVariant(*parsed);
        };
        if (element == QLatin1String("integer"))
            return either(parseInteger(content), "not a 64-bit integer:");
        if (element == QLatin1String("real"))
            return either(parseReal(content), "not a number:");
        if (element == QLatin1String("date"))
            return either(parseDate(content), "not a date of the form YYYY-MM-DDTHH:MM:SSZ:");
        return either(parseBase64(content), "not base64 data:");
    }

    Result<void> end()
    {
        // Scalars and keys consume their own end tags; this one closes a container.
        Frame f = std::move(m_stack.back());
        m_stack.pop_back();
        switch (f.kind) {
        case Container::Plist:
            if (!f.hasValue)
                return bad(QStringLiteral("empty <plist>"));
            m_root = f.list.constFirst();
            return {};
        case Container::Array:
            --m_containers;
            deliver(std::move(f.list));
            return {};
        case Container::Dict: {
            --m_containers;
            if (f.hasKey)
                return bad(QStringLiteral("key \"%1\" without a value").arg(f.key));
            auto value = uidOrDict(std::move(f.map));
            if (!value)
                return std::unexpected(value.error());
            deliver(std::move(*value));
            return {};
        }
        }
        return {};
    }

    Result<QVariant> uidOrDict(QVariantMap map) const
    {
        if (map.size() != 1 || !map.contains(kUidKey))
            return QVariant(std::move(map));
        const QVariant ref = map.value(kUidKey);
        const int type = ref.metaType().id();
        if (type != QMetaType::LongLong && type != QMetaType::ULongLong)
            return QVariant(std::move(map));
        if (type == QMetaType::ULongLong || ref.toLongLong() < 0 || quint64(ref.toLongLong()) >= kUidLimit)
            return unsupported(QStringLiteral("XML property list, line %1: CF$UID %2 is outside 0 to 2^32-1")
                                   .arg(m_xml.lineNumber())
                                   .arg(ref.toString()));
        return QVariant::fromValue(PlistUID{quint64(ref.toLongLong())});
    }

    QXmlStreamReader m_xml;
    std::vector<Frame> m_stack;
    std::optional<QVariant> m_root;
    int m_containers = 0;
};

class Writer {
public:
    Result<QByteArray> write(const QVariant& value)
    {
        m_out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                "<plist version=\"1.0\">\n";
        if (auto ok = add(value, QStringLiteral("/"), 0); !ok)
            return std::unexpected(ok.error());
        m_out += "</plist>\n";
        return m_out;
    }

private:
    void line(int depth, const QByteArray& text)
    {
        m_out += QByteArray(depth, '\t');
        m_out += text;
        m_out += '\n';
    }

    void element(int depth, const char* name, const QByteArray& text)
    {
        line(depth, '<' + QByteArray(name) + '>' + text + "</" + QByteArray(name) + '>');
    }

    // The text escaped for XML, or an error when XML 1.0 has no way to carry it.
    static Result<QByteArray> escaped(const QString& s, const QString& path)
    {
        QString out;
        out.reserve(s.size());
        for (qsizetype i = 0; i < s.size(); ++i) {
            const char16_t c = s.at(i).unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
                out += s.at(i);
                out += s.at(++i);
                continue;
            }
            if (QChar::isSurrogate(c))
                return unsupported(QStringLiteral("text at %1 holds a lone UTF-16 surrogate").arg(path));
            if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF)
                return unsupported(QStringLiteral("text at %1 holds U+%2, which XML cannot carry")
                                       .arg(path)
                                       .arg(int(c), 4, 16, QLatin1Char('0')));
            switch (c) {
            case u'&': out += QLatin1String("&amp;"); break;
            case u'<': out += QLatin1String("&lt;"); break;
            case u'>': out += QLatin1String("&gt;"); break;
            case u'\r': out += QLatin1String("&#13;"); break;
            default: out += QChar(c);
            }
        }
        return out.toUtf8();
    }

    static QByteArray realText(double v)
    {
        if (std::isnan(v))
            return "nan";
        if (std::isinf(v))
            return v > 0 ? "inf" : "-inf";
        if (v == 0)
            return std::signbit(v) ? "-0.0" : "0.0";
        return QString::number(v, 'g', QLocale::FloatingPointShortest).toLatin1();
    }

    static Result<QByteArray> dateText(const QDateTime& value, const QString& path)
    {
        if (!value.isValid())
            return unsupported(QStringLiteral("invalid date at %1").arg(path));
        const QDateTime utc = value.toUTC();
        const QDate date = utc.date();
        const QTime time = utc.time();
        const int isoYear = date.year() > 0 ? date.year() : date.year() + 1;
        if (isoYear < 0 || isoYear > 9999)
            return unsupported(QStringLiteral("date at %1 lies outside the years 0000 to 9999 "
                                              "that XML property lists hold").arg(path));
        return QStringLiteral("%1-%2-%3T%4:%5:%6Z")
            .arg(isoYear, 4, 10, QLatin1Char('0'))
            .arg(date.month(), 2, 10, QLatin1Char('0'))
            .arg(date.day(), 2, 10, QLatin1Char('0'))
            .arg(time.hour(), 2, 10, QLatin1Char('0'))
            .arg(time.minute(), 2, 10, QLatin1Char('0'))
            .arg(time.second(), 2, 10, QLatin1Char('0'))
            .toLatin1();
    }

    Result<void> add(const QVariant& value, const QString& path, int depth)
    {
        switch (kindOf(value)) {
        case Kind::Bool:
            line(depth, value.toBool() ? "<true/>" : "<false/>");
            return {};
        case Kind::Signed:
            element(depth, "integer", QByteArray::number(value.toLongLong()));
            return {};
        case Kind::Unsigned:
            element(depth, "integer", QByteArray::number(value.toULongLong()));
            return {};
        case Kind::Real:
            element(depth, "real", realText(value.toDouble()));
            return {};
        case Kind::String: {
            auto text = escaped(value.toString(), path);
            if (!text)
                return std::unexpected(text.error());
            element(depth, "string", *text);
            return {};
        }
        case Kind::Data:
            element(depth, "data", value.toByteArray().toBase64());
            return {};
        case Kind::Date: {
            auto text = dateText(value.toDateTime(), path);
            if (!text)
                return std::unexpected(text.error());
            element(depth, "date", *text);
            return {};
        }
        case Kind::Uid: {
            const quint64 v = value.value<PlistUID>().value;
            if (v >= kUidLimit)
                return unsupported(QStringLiteral("UID %1 at %2 is beyond 32 bits").arg(v).arg(path));
            line(depth, "<dict>");
            element(depth + 1, "key", kUidKey.toLatin1());
            element(depth + 1, "integer", QByteArray::number(v));
            line(depth, "</dict>");
            return {};
        }
        case Kind::Array: {
            if (depth >= kMaxNesting)
                return tooDeep();
            const QVariantList list = value.toList();
            if (list.isEmpty()) {
                line(depth, "<array/>");
                return {};
            }
            line(depth, "<array>");
            for (qsizetype i = 0; i < list.size(); ++i)
                if (auto ok = add(list.at(i), indexPath(path, i), depth + 1); !ok)
                    return ok;
            line(depth, "</array>");
            return {};
        }
        case Kind::Dict: {
            if (depth >= kMaxNesting)
                return tooDeep();
            const QVariantMap map = value.toMap();
            if (map.isEmpty()) {
                line(depth, "<dict/>");
                return {};
            }
            if (map.size() == 1 && map.contains(kUidKey)) {
                const Kind kind = kindOf(map.value(kUidKey));
                if (kind == Kind::Signed || kind == Kind::Unsigned)
                    return unsupported(QStringLiteral("a dictionary of CF$UID alone at %1 would "
                                                      "read back as a UID").arg(path));
            }
            line(depth, "<dict>");
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                const QString at = keyPath(path, it.key());
                auto key = escaped(it.key(), at);
                if (!key)
                    return std::unexpected(key.error());
                element(depth + 1, "key", *key);
                if (auto ok = add(it.value(), at, depth + 1); !ok)
                    return ok;
            }
            line(depth, "</dict>");
            return {};
        }
        case Kind::None:
            break;
        }
        return noFormFor(value, path);
    }

    QByteArray m_out;
};

} // namespace

Result<QVariant> XmlPropertyList::read(const QByteArray& bytes)
{
    // UTF-16 without a byte-order mark is told by the zero byte beside the first "<"; Qt's
    // tokenizer needs the mark when the declaration names UTF-16, so it is put in front.
    if (bytes.startsWith(QByteArrayView("\0<", 2)))
        return Reader(QByteArray("\xFE\xFF") + bytes).read();
    if (bytes.startsWith(QByteArrayView("<\0", 2)))
        return Reader(QByteArray("\xFF\xFE") + bytes).read();
    return Reader(bytes).read();
}

Result<QByteArray> XmlPropertyList::write(const QVariant& value)
{
    return Writer().write(value);
}

} // namespace platform

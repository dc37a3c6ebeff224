#include "HTTP/KPHTTPRequestUtilities.h"

#include "Platform/Foundation/Bundle.h"

#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimeZone>
#include <cerrno>
#include <ctime>
#include <iconv.h>
#include <mutex>
#include <sys/utsname.h>

namespace {

std::mutex& agentMutex()
{
    static std::mutex m;
    return m;
}

struct AgentState {
    bool built = false;
    QString agent;
};

AgentState& agentState()
{
    static AgentState s;
    return s;
}

int monthIndex(QStringView name)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3)
        return -1;
    for (int i = 0; i < 12; ++i)
        if (name.compare(QLatin1String(months[i]), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool parseNumber(QStringView s, int minDigits, int maxDigits, int* out)
{
    if (s.size() < minDigits || s.size() > maxDigits)
        return false;
    int v = 0;
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c.unicode() - u'0');
    }
    *out = v;
    return true;
}

bool parseTime(QStringView s, int* h, int* m, int* sec)
{
    const auto parts = s.split(u':');
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    *sec = 0;
    return parseNumber(parts[0], 1, 2, h) && parseNumber(parts[1], 2, 2, m)
        && (parts.size() == 2 || parseNumber(parts[2], 2, 2, sec)) && *h < 24 && *m < 60 && *sec <= 60;
}

// Seconds east of UTC; false for a zone HTTP dates do not use.
bool parseZone(QStringView s, int* offset)
{
    *offset = 0;
    if (s.compare(u"GMT", Qt::CaseInsensitive) == 0 || s.compare(u"UTC", Qt::CaseInsensitive) == 0
        || s.compare(u"UT", Qt::CaseInsensitive) == 0 || s == u"Z")
        return true;
    if (s.size() == 5 && (s[0] == u'+' || s[0] == u'-')) {
        int hh = 0;
        int mm = 0;
        if (!parseNumber(s.mid(1, 2), 2, 2, &hh) || !parseNumber(s.mid(3, 2), 2, 2, &mm) || hh > 23 || mm > 59)
            return false;
        *offset = (hh * 3600 + mm * 60) * (s[0] == u'-' ? -1 : 1);
        return true;
    }
    return false;
}

std::optional<QDateTime> makeDate(int year, int month, int day, int h, int m, int s, int offset)
{
    if (year < 1 || year > 9999 || day < 1 || day > 31)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    const time_t t = timegm(&tm);
    // timegm normalises 31 Feb into March; such a date is not a date.
    if (tm.tm_mday != day || tm.tm_mon != month)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(qint64(t) - offset, Qt::UTC);
}

} // namespace

QString KPHTTPRequestUtilities::userAgentFor(const QString& name, const QString& shortVersion, const QString& build,
                                             const QString& kernelRelease, const QString& localeName)
{
    if (name.isEmpty())
        return {};
    static const QRegularExpression release(QStringLiteral("^(\\d+)\\.(\\d+)\\.(\\d+)"));
    const auto match = release.match(kernelRelease);
    if (!match.hasMatch())
        return {};
    QString version;
    if (!shortVersion.isEmpty() && !build.isEmpty())
        version = shortVersion == build ? shortVersion : QStringLiteral("%1 rv:%2").arg(shortVersion, build);
    else
        version = shortVersion.isEmpty() ? build : shortVersion;
    const QString system = QStringLiteral("%1.%2.%3")
                               .arg(match.captured(1).toUInt())
                               .arg(match.captured(2).toUInt())
                               .arg(match.captured(3).toUInt());
    // The name's UTF-8 bytes read as Latin 1, as the header has always been sent.
    const QString latin = QString::fromLatin1(name.toUtf8());
    return QStringLiteral("%1 %2 (%3; %4 %5; %6)")
        .arg(latin, version, QStringLiteral("X11"), QStringLiteral("Linux"), system, localeName);
}

QString KPHTTPRequestUtilities::defaultUserAgentString()
{
    std::lock_guard lock(agentMutex());
    auto& state = agentState();
    if (state.built)
        return state.agent;
    const auto& bundle = platform::Bundle::mainBundle();
    QString name = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleDisplayName")).toString();
    if (name.isEmpty())
        name = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleName")).toString();
    utsname uts{};
    if (uname(&uts) != 0)
        return {};
    const QString agent = userAgentFor(name,
        bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")).toString(),
        bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleVersion")).toString(),
        QString::fromLocal8Bit(uts.release), QLocale::system().name());
    if (agent.isEmpty())
        return {};
    state.agent = agent;
    state.built = true;
    return agent;
}

void KPHTTPRequestUtilities::setDefaultUserAgentString(const QString& agent)
{
    std::lock_guard lock(agentMutex());
    agentState().agent = agent;
    agentState().built = true;
}

QString KPHTTPRequestUtilities::mimeTypeForFileAtPath(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    static const QMimeDatabase db;
    const auto types = db.mimeTypesForFileName(info.fileName());
    if (types.isEmpty())
        return QStringLiteral("application/octet-stream");
    return types.first().name();
}

QString KPHTTPRequestUtilities::base64forData(const QByteArray& data)
{
    return QString::fromLatin1(data.toBase64());
}

std::optional<QDateTime> KPHTTPRequestUtilities::expiryDateForResponseHeaders(const platform::HTTPHeaders& headers,
                                                                             double maxAge, const QDateTime& now)
{
    if (maxAge == 0) {
        const QString control = headers.value(QStringLiteral("Cache-Control")).toLower();
        const qsizetype at = control.indexOf(QLatin1String("max-age"));
        if (at >= 0) {
            qsizetype i = at + 7;
            if (i < control.size() && control[i] == u'=')
                ++i;
            qint64 seconds = 0;
            bool any = false;
            // Capped at a century: a larger figure means "for ever" and must not overflow.
            while (i < control.size() && control[i].isDigit() && seconds < 3155760000LL) {
                seconds = seconds * 10 + (control[i].unicode() - u'0');
                any = true;
                ++i;
            }
            if (any)
                maxAge = double(std::min<qint64>(seconds, 3155760000LL));
        }
    }
    if (maxAge == 0) {
        const QString expires = headers.value(QStringLiteral("Expires"));
        if (expires.isNull())
            return std::nullopt;
        return dateFromRFC1123String(expires);
    }
    return now.addMSecs(qint64(maxAge * 1000.0));
}

std::optional<QDateTime> KPHTTPRequestUtilities::dateFromRFC1123String(const QString& input)
{
    if (input.size() > 100)
        return std::nullopt;
    QString text = input.trimmed();
    bool hadWeekdayComma = false;
    if (const qsizetype comma = text.indexOf(u','); comma >= 0) {
        text = text.mid(comma + 1).trimmed();
        hadWeekdayComma = true;
    }
    const auto tokens = QStringView(text).split(u' ', Qt::SkipEmptyParts);
    int day = 0, year = 0, h = 0, m = 0, s = 0, offset = 0;
    if (tokens.size() == 3 && hadWeekdayComma && tokens[0].count(u'-') == 2) {
        // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
        const auto parts = tokens[0].split(u'-');
        const int month = monthIndex(parts[1]);
        if (!parseNumber(parts[0], 1, 2, &day) || month < 0 || !parseNumber(parts[2], 2, 4, &year))
            return std::nullopt;
        if (parts[2].size() == 2)
            year += year < 70 ? 2000 : 1900;
        if (!parseTime(tokens[1], &h, &m, &s) || !parseZone(tokens[2], &offset))
            return std::nullopt;
        return makeDate(year, month, day, h, m, s, offset);
    }
    if (tokens.size() == 5 && !hadWeekdayComma && !tokens[0].front().isDigit() && monthIndex(tokens[1]) >= 0) {
        // asctime: "Sun Nov  6 08:49:37 1994", always UTC
        const int month = monthIndex(tokens[1]);
        if (!parseNumber(tokens[2], 1, 2, &day) || !parseTime(tokens[3], &h, &m, &s)
            || !parseNumber(tokens[4], 4, 4, &year))
            return std::nullopt;
        return makeDate(year, month, day, h, m, s, 0);
    }
    if (tokens.size() == 5) {
        // RFC 1123: "06 Nov 1994 08:49:37 GMT", the weekday already taken off
        const int month = monthIndex(tokens[1]);
        if (!parseNumber(tokens[0], 1, 2, &day) || month < 0 || !parseNumber(tokens[2], 4, 4, &year)
            || !parseTime(tokens[3], &h, &m, &s) || !parseZone(tokens[4], &offset))
            return std::nullopt;
        return makeDate(year, month, day, h, m, s, offset);
    }
    return std::nullopt;
}

void KPHTTPRequestUtilities::parseMimeType(QString* mimeType, QByteArray* encoding, const QString& contentType)
{
    if (contentType.isNull())
        return;
    const qsizetype semicolon = contentType.indexOf(u';');
    if (semicolon <= 0) {
        if (mimeType)
            *mimeType = contentType.trimmed();
        return;
    }
    if (mimeType)
        *mimeType = contentType.left(semicolon).trimmed();
    const qsizetype at = contentType.indexOf(QLatin1String("charset="), semicolon, Qt::CaseInsensitive);
    if (at < 0)
        return;
    QString charset = contentType.mid(at + 8);
    if (const qsizetype end = charset.indexOf(u';'); end >= 0)
        charset.truncate(end);
    charset = charset.trimmed();
    if (charset.size() >= 2 && charset.startsWith(u'"') && charset.endsWith(u'"'))
        charset = charset.mid(1, charset.size() - 2).trimmed();
    if (charset.isEmpty() || charset.size() > 64)
        return;
    const QByteArray name = charset.toLatin1();
    if (encoding && isKnownEncoding(name))
        *encoding = name;
}

bool KPHTTPRequestUtilities::isKnownEncoding(const QByteArray& name)
{
    if (name.isEmpty())
        return false;
    if (QStringDecoder(name.constData()).isValid())
        return true;
    iconv_t cd = iconv_open("UTF-8", name.constData());
    if (cd == iconv_t(-1))
        return false;
    iconv_close(cd);
    return true;
}

QString KPHTTPRequestUtilities::decode(const QByteArray& bytes, const QByteArray& encoding)
{
    QStringDecoder decoder(encoding.constData());
    if (decoder.isValid())
        return decoder.decode(bytes);
    iconv_t cd = iconv_open("UTF-8", encoding.constData());
    if (cd == iconv_t(-1))
        return {};
    QByteArray out;
    out.resize(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char* dst = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) == size_t(-1)) {
            if (errno == E2BIG)
                break;
            // An invalid byte becomes U+FFFD and decoding goes on, as Qt's decoders do.
            ++in;
            --inLeft;
            if (outLeft >= 3) {
                memcpy(dst, "\xEF\xBF\xBD", 3);
                dst += 3;
                outLeft -= 3;
            }
        }
    }
    iconv_close(cd);
    out.truncate(out.size() - qsizetype(outLeft));
    return QString::fromUtf8(out);
}

#include "Analytics/KPUrlUtil.h"

namespace {
bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}
} // namespace

bool KPUrlUtil::isPercentAtIndex(qsizetype index, const QString& text)
{
    return index + 2 < text.size() && text[index] == u'%' && isHex(text[index + 1]) && isHex(text[index + 2]);
}

QString KPUrlUtil::encodeUrl(const QString& text)
{
    QString out;
    out.reserve(text.size() * 3);
    bool query = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const auto escape = [&] { out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper(); };
        if (c == u'?' && !query) {
            out += c;
            query = true;
        } else if (c == u' ' || c == u';' || c == u'@' || c == u'^' || c == u'|' || c == u'~') {
            escape();
        } else if (c == u'%') {
            if (isPercentAtIndex(i, text)) {
                out += text.mid(i, 3);
                i += 2;
            } else {
                out += QStringLiteral("%25");
            }
        } else if (query && (c == u'-' || c == u'.' || c == u'/' || c == u':' || c == u'?' || c == u'{' || c == u'}')) {
            escape();
        } else {
            out += c;
        }
    }
    return out;
}

#include "SafeBox/SafeBoxContentGenerate.h"

#include "Platform/Foundation/StringHash.h"
#include "SafeBox/SafeBoxKeyConstants.h"

QString SafeBoxContentGenerate::generate() const
{
    QString text;
    for (qsizetype i = sourceValue.size() - 1; i >= 0; --i)
        text += QString::asprintf(safebox::kFormat4, unsigned(sourceValue.at(i).unicode()));
    const QString digest = platform::md5Hex(text.toUtf8());
    text.clear();
    for (qsizetype i = digest.size() - 1; i >= 0; --i)
        text += QString::asprintf(safebox::kFormat2, unsigned(digest.at(i).unicode()));
    for (const auto& [from, to] : safebox::kGenerateReplacements)
        text.replace(from, to, Qt::CaseInsensitive);
    text = text.mid(2);
    text.chop(2);
    return platform::md5Hex(text.toUtf8());
}

QVariantMap SafeBoxContentGenerate::generateD() const
{
    return {{QStringLiteral("Key"), safebox::kKeyPrefix + generate() + safebox::kKeySuffix}};
}

QString SafeBoxContentGenerate::derivedFromKey(const QString& key)
{
    const qsizetype front = safebox::kKeyPrefix.size();
    const qsizetype back = safebox::kKeySuffix.size();
    if (key.size() < front + back)
        return {};
    return key.mid(front, key.size() - front - back);
}

QString SafeBoxContentGenerate::encodeHint(const QString& hint)
{
    QString stored;
    for (const QChar c : hint)
        stored += QStringLiteral("%1|").arg(qint64(c.unicode()) * 6 + 10);
    return stored;
}

QString SafeBoxContentGenerate::decodeHint(const QString& stored)
{
    QString hint;
    for (const QString& piece : stored.split(QLatin1Char('|'))) {
        if (piece.isEmpty())
            break;
        const qint64 n = piece.toLongLong(); // not a number: 0
        const qint64 code = ((n + 8) / 6 - 3) % 65536;
        hint += QChar(char16_t(code < 0 ? code + 65536 : code));
    }
    return hint;
}

#include "Platform/Content/TextDecoding.h"

#include <QStringDecoder>

#include <langinfo.h>

namespace platform {

namespace {

// Windows-1252's printable characters in 0x80–0x9F, where Latin-1 has control codes (0 = unused).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

// Tuning: share of zero bytes at odd or even offsets that marks BOM-less UTF-16.
constexpr double kUtf16ZeroShare = 0.3;

// Length of an incomplete UTF-8 sequence at the end of bytes (0 when the end is complete).
qsizetype cutSequenceLength(QByteArrayView bytes)
{
    for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const uchar c = uchar(bytes[bytes.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue;
        const int need = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

QString decodeWith(QStringDecoder& decoder, QByteArrayView bytes, bool* failed)
{
    QString text = decoder.decode(bytes);
    if (failed)
        *failed = decoder.hasError();
    return text;
}

} // namespace

bool TextDecoding::isValidUtf8(QByteArrayView bytes, bool allowCutEnd)
{
    if (allowCutEnd)
        bytes.chop(cutSequenceLength(bytes));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // decode() only converts once its result becomes a QString.
    const QString decoded = utf8.decode(bytes);
    Q_UNUSED(decoded);
    return !utf8.hasError();
}

QString TextDecoding::fromWindows1252(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (char ch : bytes) {
        const uchar c = uchar(ch);
        const char16_t high = (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : 0;
        *d++ = QChar(high ? high : char16_t(c));
    }
    return out;
}

QString TextDecoding::decode(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.sliced(3));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(QStringDecoder::Utf16); // reads and drops the mark
        return utf16.decode(bytes);
    }
    if (isValidUtf8(bytes, true)) {
        const qsizetype cut = cutSequenceLength(bytes);
        return QString::fromUtf8(bytes.first(bytes.size() - cut));
    }

    // UTF-16 without a mark: Latin text has a zero in every other byte.
    qsizetype zeroEven = 0, zeroOdd = 0;
    const qsizetype probe = qMin<qsizetype>(bytes.size(), 4096) & ~qsizetype(1);
    for (qsizetype i = 0; i < probe; ++i) {
        if (bytes[i] == 0)
            ++((i % 2) ? zeroOdd : zeroEven);
    }
    if (probe >= 4) {
        const double half = double(probe) / 2;
        if (zeroOdd > kUtf16ZeroShare * half && zeroEven < zeroOdd / 8) {
            QStringDecoder le(QStringDecoder::Utf16LE);
            return le.decode(bytes.first(bytes.size() & ~qsizetype(1)));
        }
        if (zeroEven > kUtf16ZeroShare * half && zeroOdd < zeroEven / 8) {
            QStringDecoder be(QStringDecoder::Utf16BE);
            return be.decode(bytes.first(bytes.size() & ~qsizetype(1)));
        }
    }

    // A locale in a legacy encoding (KOI8-R, EUC-JP…) says how this user's old files were written.
    const QByteArray localeCharset = QByteArray(nl_langinfo(CODESET)).toLower();
    if (!localeCharset.contains("utf") && !localeCharset.contains("ascii") && !localeCharset.contains("8859-1")
        && localeCharset != "c" && localeCharset != "posix") {
        QStringDecoder locale(localeCharset.constData(), QStringDecoder::Flag::Stateless);
        bool failed = true;
        QString text = decodeWith(locale, bytes, &failed);
        if (locale.isValid() && !failed)
            return text;
    }
    return fromWindows1252(bytes);
}

QString TextDecoding::decodeAs(QByteArrayView bytes, const QByteArray& charset)
{
    const QByteArray name = charset.trimmed().toLower();
    if (name.isEmpty())
        return decode(bytes);
    // Mail and web pages label Windows-1252 text as Latin-1 or ASCII all the time.
    if (name == "us-ascii" || name == "ascii")
        return isValidUtf8(bytes, false) ? QString::fromUtf8(bytes) : fromWindows1252(bytes);
    if (name == "iso-8859-1" || name == "latin1" || name == "windows-1252" || name == "cp1252")
        return fromWindows1252(bytes);
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return decode(bytes);
    return decoder.decode(bytes);
}

QString TextDecoding::decodeCodePage(QByteArrayView bytes, int codePage)
{
    if (codePage == 1252 || codePage <= 0)
        return fromWindows1252(bytes);
    if (codePage == 65001)
        return QString::fromUtf8(bytes);
    const QByteArray name = codePage == 10000 ? QByteArray("macintosh")
                          : (codePage >= 1250 && codePage <= 1258) ? "windows-" + QByteArray::number(codePage)
                                                                    : "cp" + QByteArray::number(codePage);
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return fromWindows1252(bytes);
    return decoder.decode(bytes);
}

} // namespace platform

#include "Platform/Foundation/PropertyList.h"

#include "Platform/Foundation/BinaryPropertyList.h"
#include "Platform/Foundation/PropertyListValues.h"
#include "Platform/Foundation/XmlPropertyList.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace platform {

using namespace plist;

namespace {

// Far beyond any list the program keeps; bounds what a hostile file can make us allocate.
constexpr qint64 kMaxInputBytes = 256LL * 1024 * 1024;

// Whether text, once past white space, begins the way an XML property list does.
bool startsLikePlistXml(QStringView text)
{
    text = text.trimmed();
    return text.startsWith(u"<?xml") || text.startsWith(u"<!DOCTYPE plist") || text.startsWith(u"<plist");
}

} // namespace

std::optional<PlistFormat> PropertyList::detectFormat(const QByteArray& bytes)
{
    if (bytes.startsWith("bplist00"))
        return PlistFormat::Binary;
    // XML may start with a byte-order mark and white space before "<?xml" or "<plist", and
    // may be UTF-16, told by its byte-order mark or by the zero byte beside the first "<".
    const QByteArrayView head = QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), 4096));
    QStringDecoder::Encoding encoding = QStringDecoder::Utf8;
    if (head.startsWith("\xFF\xFE") || head.startsWith(QByteArrayView("<\0", 2)))
        encoding = QStringDecoder::Utf16LE;
    else if (head.startsWith("\xFE\xFF") || head.startsWith(QByteArrayView("\0<", 2)))
        encoding = QStringDecoder::Utf16BE;
    QStringDecoder decode(encoding, QStringDecoder::Flag::Stateless);
    const QString text = decode(head);
    if (startsLikePlistXml(QStringView(text).mid(text.startsWith(QChar(0xFEFF)) ? 1 : 0)))
        return PlistFormat::Xml;
    return std::nullopt;
}

Result<QVariant> PropertyList::read(const QByteArray& bytes)
{
    if (bytes.size() > kMaxInputBytes)
        return fail(kDomain, kTooLarge, QStringLiteral("property list of %1 bytes is too large")
                                            .arg(bytes.size()));
    const auto format = detectFormat(bytes);
    if (!format)
        return malformed(QStringLiteral("not a property list"));
    return *format == PlistFormat::Binary ? BinaryPropertyList::read(bytes)
                                          : XmlPropertyList::read(bytes);
}

Result<QVariant> PropertyList::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(kDomain, kIo, QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxInputBytes)
        return fail(kDomain, kTooLarge, QStringLiteral("%1 is too large for a property list").arg(path));
    const QByteArray bytes = file.readAll();
    auto value = read(bytes);
    if (!value)
        return fail(value.error().domain, value.error().code,
                    QStringLiteral("%1: %2").arg(path, value.error().message));
    return value;
}

Result<QByteArray> PropertyList::write(const QVariant& value, PlistFormat format)
{
    return format == PlistFormat::Binary ? BinaryPropertyList::write(value)
                                         : XmlPropertyList::write(value);
}

Result<void> PropertyList::writeFile(const QVariant& value, const QString& path, PlistFormat format)
{
    auto bytes = write(value, format);
    if (!bytes)
        return std::unexpected(bytes.error());
    // QSaveFile writes beside the target, syncs, then renames over it.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(kDomain, kIo, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(*bytes) != bytes->size() || !file.commit())
        return fail(kDomain, kIo, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return {};
}

QDateTime PropertyList::dateFromReferenceSeconds(double seconds)
{
    return plist::dateFromReferenceSeconds(seconds).value_or(QDateTime());
}

double PropertyList::referenceSecondsFromDate(const QDateTime& date)
{
    return plist::referenceSecondsFromDate(date);
}

} // namespace platform

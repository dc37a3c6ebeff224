#include "Platform/Kit/PasteboardCodec.h"

#include "Platform/Foundation/PropertyList.h"

#include <QMimeData>

namespace platform::kit::pasteboard {

namespace {
const QString kDomain = QStringLiteral("Pasteboard");
}

Result<void> writeValue(QMimeData& mime, const QString& mimeType, const QVariant& value)
{
    auto bytes = PropertyList::write(value, PlistFormat::Xml);
    if (!bytes)
        return std::unexpected(bytes.error());
    mime.setData(mimeType, *bytes);
    return {};
}

Result<QVariant> readValue(const QMimeData& mime, const QString& mimeType)
{
    if (!mime.hasFormat(mimeType))
        return fail(kDomain, 1, QStringLiteral("no %1 on the pasteboard").arg(mimeType));
    const QByteArray bytes = mime.data(mimeType);
    if (bytes.size() > kMaxPayloadBytes)
        return fail(kDomain, 2, QStringLiteral("%1 payload of %2 bytes is above the limit").arg(mimeType).arg(bytes.size()));
    // Binary plists are refused: the frame is XML, and nothing of ours writes anything else.
    if (PropertyList::detectFormat(bytes) != PlistFormat::Xml)
        return fail(kDomain, 3, QStringLiteral("%1 payload is not an XML property list").arg(mimeType));
    return PropertyList::read(bytes);
}

Result<QVariantList> readRecords(const QMimeData& mime, const QString& mimeType)
{
    auto value = readValue(mime, mimeType);
    if (!value)
        return std::unexpected(value.error());
    if (value->typeId() != QMetaType::QVariantList)
        return fail(kDomain, 4, QStringLiteral("%1 payload is not an array").arg(mimeType));
    QVariantList records = value->toList();
    for (const QVariant& record : records) {
        if (record.typeId() != QMetaType::QVariantMap)
            return fail(kDomain, 4, QStringLiteral("%1 payload holds an item that is not a dictionary").arg(mimeType));
    }
    return records;
}

} // namespace platform::kit::pasteboard

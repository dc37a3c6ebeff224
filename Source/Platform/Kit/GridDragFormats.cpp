#include "Platform/Kit/GridDragFormats.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Kit/Pasteboard.h"

#include <QMimeData>
#include <QUrl>

namespace platform::kit::pasteboard {

namespace {
const QString kDomain = QStringLiteral("GridDrag");
}

std::unique_ptr<QMimeData> gridDragMimeData(const GridDragPayload& payload)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setData(kDragResourceItemsToNode, QByteArray());
    QList<QUrl> urls;
    urls.reserve(payload.filePaths.size());
    for (const QString& path : payload.filePaths)
        urls.append(QUrl::fromLocalFile(path));
    mime->setUrls(urls);
    if (!payload.fileInfoURIs.isEmpty()) {
        // An array of strings always has a property-list form.
        auto bytes = PropertyList::write(QVariant(payload.fileInfoURIs), PlistFormat::Xml);
        if (bytes)
            mime->setData(kFileInfoURIs, *bytes);
    }
    return mime;
}

bool isGridDrag(const QMimeData& mime)
{
    return mime.hasFormat(kDragResourceItemsToNode);
}

Result<GridDragPayload> readGridDrag(const QMimeData& mime)
{
    if (!isGridDrag(mime))
        return fail(kDomain, 1, QStringLiteral("not a drag from the document grid"));
    if (mime.data(kFileNames).size() > kMaxGridDragBytes)
        return fail(kDomain, 2, QStringLiteral("the file list is above the size limit"));
    GridDragPayload payload;
    for (const QUrl& url : mime.urls()) {
        if (!url.isLocalFile())
            return fail(kDomain, 3, QStringLiteral("the file list holds a URL that is no file: %1").arg(url.toString()));
        payload.filePaths.append(url.toLocalFile());
    }
    if (!mime.hasFormat(kFileInfoURIs))
        return payload;
    const QByteArray bytes = mime.data(kFileInfoURIs);
    if (bytes.size() > kMaxGridDragBytes)
        return fail(kDomain, 2, QStringLiteral("the record list is above the size limit"));
    if (PropertyList::detectFormat(bytes) != PlistFormat::Xml)
        return fail(kDomain, 4, QStringLiteral("the record list is not an XML property list"));
    auto value = PropertyList::read(bytes);
    if (!value || value->typeId() != QMetaType::QVariantList)
        return fail(kDomain, 4, QStringLiteral("the record list is not an array"));
    for (const QVariant& uri : value->toList()) {
        if (uri.typeId() != QMetaType::QString)
            return fail(kDomain, 4, QStringLiteral("the record list holds an item that is not a string"));
        payload.fileInfoURIs.append(uri.toString());
    }
    if (payload.fileInfoURIs.size() != payload.filePaths.size())
        return fail(kDomain, 5, QStringLiteral("%1 records for %2 files").arg(payload.fileInfoURIs.size()).arg(payload.filePaths.size()));
    return payload;
}

QStringList readTagNodeURIs(const QMimeData& mime)
{
    const QByteArray bytes = mime.data(kDragDropTagNode);
    if (bytes.isEmpty() || bytes.size() > kMaxTagNodeBytes)
        return {};
    QStringList uris;
    for (const QString& part : QString::fromUtf8(bytes).split(QLatin1Char(','))) {
        const QString uri = part.trimmed();
        if (!uri.isEmpty())
            uris.append(uri);
    }
    return uris;
}

} // namespace platform::kit::pasteboard

#include "SideBar/SideBarPasteboard.h"

#include "Import/KPFileFormatManager.h"
#include "Platform/Kit/GridDragFormats.h"
#include "Platform/Kit/Pasteboard.h"
#include "Store/DBTag.h"

#include <QCoreApplication>
#include <QMimeData>
#include <QUrl>

namespace pb = platform::kit::pasteboard;

namespace sidebarpasteboard {

namespace {

QByteArray markerOf(const void* owner)
{
    return QByteArray::number(QCoreApplication::applicationPid()) + ':' +
           QByteArray::number(quintptr(owner), 16);
}

} // namespace

QByteArray tagNodeString(const QList<DBTag>& tags)
{
    QStringList uris;
    for (const DBTag& tag : tags) {
        if (tag)
            uris.append(tag.URIString());
    }
    return uris.join(QLatin1Char(',')).toUtf8();
}

QMimeData* nodeDragData(const void* owner, const QList<DBTag>& tags, bool withTags)
{
    auto* data = new QMimeData;
    data->setData(pb::kDragDropSideBarNode, markerOf(owner));
    if (withTags) {
        const QByteArray text = tagNodeString(tags);
        if (!text.isEmpty())
            data->setData(pb::kDragDropTagNode, text);
    }
    return data;
}

bool isNodeDragOf(const QMimeData& data, const void* owner)
{
    return data.hasFormat(pb::kDragDropSideBarNode) && data.data(pb::kDragDropSideBarNode) == markerOf(owner);
}

bool hasGridDocuments(const QMimeData& data)
{
    return pb::isGridDrag(data);
}

QStringList fileInfoURIs(const QMimeData& data)
{
    auto payload = pb::readGridDrag(data);
    return payload ? payload->fileInfoURIs : QStringList();
}

QStringList filePaths(const QMimeData& data)
{
    QStringList paths;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

bool hasImportableFiles(const QMimeData& data)
{
    const QStringList paths = filePaths(data);
    const KPFileFormatManager& formats = KPFileFormatManager::fileFormatManager();
    return !paths.isEmpty() && (formats.isExistFolder(paths) || formats.checkFileIsSupportByFiles(paths));
}

} // namespace sidebarpasteboard

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Kit/GridDragFormats.h"
#include "Platform/Kit/Pasteboard.h"

#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

namespace pb = platform::kit::pasteboard;

namespace {

QByteArray xml(const QVariant& value)
{
    return platform::PropertyList::write(value, platform::PlistFormat::Xml).value();
}

const QStringList kPaths{QStringLiteral("/lib/Documents/a b.pdf"), QStringLiteral("/lib/Documents/ü, 😀#?.txt"),
                         QStringLiteral("/idx/no-extension")};
const QStringList kURIs{QStringLiteral("x-folivo-store://A1/DBFileInfo/p1"), QStringLiteral("x-folivo-store://A1/DBFileInfo/p7"),
                        QStringLiteral("x-folivo-store://A1/DBFileInfo/p3")};

} // namespace

TEST(GridDragFormats, DocumentsRoundTripAsFilesForOtherProgramsToo)
{
    auto mime = pb::gridDragMimeData({kPaths, kURIs});
    ASSERT_TRUE(pb::isGridDrag(*mime));
    // A file manager sees a plain file drag; names with commas, spaces and '#' survive.
    ASSERT_EQ(mime->urls().size(), 3);
    EXPECT_EQ(mime->urls()[1].toLocalFile(), kPaths[1]);

    auto back = pb::readGridDrag(*mime);
    ASSERT_TRUE(back.has_value()) << qPrintable(back.error().toString());
    EXPECT_EQ(back->filePaths, kPaths);
    EXPECT_EQ(back->fileInfoURIs, kURIs);

    // SafeBox files carry paths only.
    auto safeBox = pb::gridDragMimeData({kPaths, {}});
    EXPECT_FALSE(safeBox->hasFormat(pb::kFileInfoURIs));
    auto files = pb::readGridDrag(*safeBox);
    ASSERT_TRUE(files.has_value());
    EXPECT_EQ(files->filePaths, kPaths);
    EXPECT_TRUE(files->fileInfoURIs.isEmpty());
}

TEST(GridDragFormats, RefusesForeignAndMalformedDragsAsAWhole)
{
    QMimeData plainFiles; // a file manager's drag: no marker
    plainFiles.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/x.pdf"))});
    EXPECT_FALSE(pb::isGridDrag(plainFiles));
    EXPECT_FALSE(pb::readGridDrag(plainFiles).has_value());

    const struct {
        const char* what;
        QByteArray uris;
    } cases[] = {
        {"one URI short", xml(QStringList(kURIs.mid(0, 2)))},
        {"a number among the URIs", xml(QVariantList{kURIs[0], 5, kURIs[2]})},
        {"a dictionary", xml(QVariantMap{{QStringLiteral("a"), 1}})},
        {"binary plist", platform::PropertyList::write(QVariant(kURIs), platform::PlistFormat::Binary).value()},
        {"not a plist", QByteArrayLiteral("x-folivo-store://A1/DBFileInfo/p1")},
        {"above the limit", QByteArray(pb::kMaxGridDragBytes + 1, ' ')},
    };
    for (const auto& c : cases) {
        auto mime = pb::gridDragMimeData({kPaths, {}});
        mime->setData(pb::kFileInfoURIs, c.uris);
        EXPECT_FALSE(pb::readGridDrag(*mime).has_value()) << c.what;
    }

    auto web = pb::gridDragMimeData({{}, {}});
    web->setUrls({QUrl(QStringLiteral("https://example.org/a.pdf"))});
    EXPECT_FALSE(pb::readGridDrag(*web).has_value());
}

// The tag side bar writes the URIs of the dragged tags joined with commas.
TEST(GridDragFormats, TagNodeURIsDecodeFromTheCommaJoinedText)
{
    QMimeData mime;
    EXPECT_TRUE(pb::readTagNodeURIs(mime).isEmpty());

    mime.setData(pb::kDragDropTagNode, kURIs.join(QLatin1Char(',')).toUtf8());
    EXPECT_EQ(pb::readTagNodeURIs(mime), kURIs);

    mime.setData(pb::kDragDropTagNode, QByteArrayLiteral(" x-folivo-store://A1/DBTag/p2 ,,\n,"));
    EXPECT_EQ(pb::readTagNodeURIs(mime), QStringList{QStringLiteral("x-folivo-store://A1/DBTag/p2")});

    mime.setData(pb::kDragDropTagNode, QByteArray(pb::kMaxTagNodeBytes + 1, 'a'));
    EXPECT_TRUE(pb::readTagNodeURIs(mime).isEmpty());
}

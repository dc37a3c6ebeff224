#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/Foundation/XAttr.h"
#include "SafeBox/SafeBoxFolderSyncer.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

QStringList relativePaths(const QList<QVariantMap>& items, const QString& root)
{
    QStringList out;
    for (const QVariantMap& item : items)
        out.append(item.value(QStringLiteral("Path")).toString().mid(root.size() + 1));
    return out;
}

std::optional<QList<QVariantMap>> list(const QString& root)
{
    std::optional<QList<QVariantMap>> result;
    auto syncer = SafeBoxFolderSyncer::create(root);
    syncer->startSyncWithCompleted([&](const QList<QVariantMap>& items) { result = items; });
    testsupport::spinUntil([&] { return result.has_value(); });
    return result;
}

} // namespace

TEST(SafeBoxFolderSyncer, ListsSupportedDocumentsDepthFirstInDescendingByteOrder)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("box"));
    testsupport::writeFile(root + QStringLiteral("/a.pdf"), "a");
    testsupport::writeFile(root + QStringLiteral("/B.pdf"), "b"); // bytes: "B" sorts before "a"
    testsupport::writeFile(root + QStringLiteral("/notes.unknownkind"), "x");
    testsupport::writeFile(root + QStringLiteral("/sub/c.pdf"), "c");
    testsupport::writeFile(root + QStringLiteral("/Report.pages/index.xml"), "p"); // a package: one item
    testsupport::writeFile(root + QStringLiteral("/Tool.app/inner.pdf"), "n");     // rejected: not walked
    testsupport::writeFile(root + QStringLiteral("/.Thumbnail/0123.pdf"), "t");
    testsupport::writeFile(root + QStringLiteral("/.hidden.pdf"), "h");
    testsupport::writeFile(root + QStringLiteral("/.sbx-attached"), "{}");
    QFile::link(root + QStringLiteral("/a.pdf"), root + QStringLiteral("/alias.pdf"));

    const auto items = list(root);
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ(relativePaths(*items, root),
              (QStringList{QStringLiteral("sub/c.pdf"), QStringLiteral("a.pdf"), QStringLiteral("Report.pages"),
                           QStringLiteral("B.pdf")}));
    const QVariantMap& first = items->first();
    EXPECT_EQ(first.value(QStringLiteral("Type")).toString(), QStringLiteral("SafeBox"));
    EXPECT_GT(first.value(QStringLiteral("ID")).toLongLong(), 0);
    EXPECT_TRUE(first.value(QStringLiteral("Date")).toDateTime().isValid());
    EXPECT_TRUE(first.contains(QStringLiteral("Size")));
}

TEST(SafeBoxFolderSyncer, CreationDateIsTheOneTheToolRestored)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("box"));
    testsupport::writeFile(root + QStringLiteral("/a.pdf"), "a");
    testsupport::writeFile(root + QStringLiteral("/b.pdf"), "b");
    const qint64 restored = qint64(1500000000) * 1000000000;
    ASSERT_TRUE(platform::XAttr::set(root + QStringLiteral("/a.pdf"), platform::sbx::kBirthTimeAttribute,
                                     QByteArray::number(restored)));
    // Where the file system takes no attributes the tool keeps the date in the sidecar.
    platform::sbx::Sidecar sidecar;
    sidecar[QByteArrayLiteral("b.pdf")].birthTimeNs = restored + 1000000000;
    ASSERT_TRUE(platform::sbx::writeSidecar(QFile::encodeName(root), sidecar));

    const auto items = list(root);
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 2);
    EXPECT_EQ(items->at(1).value(QStringLiteral("CreateDate")).toDateTime().toSecsSinceEpoch(), 1500000000);
    EXPECT_EQ(items->at(0).value(QStringLiteral("CreateDate")).toDateTime().toSecsSinceEpoch(), 1500000001);
}

TEST(SafeBoxFolderSyncer, EmptyBoxDeliversAnEmptyListAndACancelledWalkNothing)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("box"));
    const auto items = list(root);
    ASSERT_TRUE(items.has_value());
    EXPECT_TRUE(items->isEmpty());

    testsupport::writeFile(root + QStringLiteral("/a.pdf"), "a");
    bool called = false;
    auto syncer = SafeBoxFolderSyncer::create(root);
    syncer->startSyncWithCompleted([&](const QList<QVariantMap>&) { called = true; });
    syncer->stopSync();
    // A second walk, started after, tells when the first one's completion would have arrived.
    EXPECT_TRUE(list(root).has_value());
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

TEST(SafeBoxFolderSyncer, ALinkInPlaceOfTheThumbnailFolderIsRemovedBeforeTheListing)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("box"));
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    testsupport::writeFile(root + QStringLiteral("/a.pdf"), "%PDF-1.4");
    ASSERT_TRUE(QFile::link(outside, root + QStringLiteral("/.Thumbnail")));
    ASSERT_TRUE(list(root).has_value());
    EXPECT_FALSE(QFileInfo(root + QStringLiteral("/.Thumbnail")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside));
}

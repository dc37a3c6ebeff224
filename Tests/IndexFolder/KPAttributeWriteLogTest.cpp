#include "Support/TestSupport.h"
#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "TagMeta/TagMeta.h"
#include "IndexFolder/FSEventsListener.h"
#include "IndexFolder/KPAttributeWriteLog.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(KPAttributeWriteLog, OnlyAttributeEventsOfOurOwnRecentWritesAreDropped)
{
    auto previous = XAttr::setBackend(std::make_shared<FakeXAttrBackend>());
    KPAttributeWriteLog::install();
    KPAttributeWriteLog::install(); // a second install keeps one recorder in front

    const QString root = testsupport::makeTempDir("watched");
    const QString ours = root + "/tagged here.pdf";
    const QString theirs = root + "/tagged elsewhere.pdf";
    testsupport::writeFile(ours, "%PDF");
    testsupport::writeFile(theirs, "%PDF");
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"Work"}, ours));
    EXPECT_TRUE(KPAttributeWriteLog::shared().wasWrittenRecently(ours));
    EXPECT_FALSE(KPAttributeWriteLog::shared().wasWrittenRecently(theirs));
    EXPECT_EQ(TagMeta::getUserTags(ours), std::optional<QStringList>(QStringList{"Work"}));

    FSEventsListener listener("/elsewhere/Library");
    const FileEventFlags attributes = FileEventFlag::ItemIsFile | FileEventFlag::ItemInodeMetaMod;
    EXPECT_EQ(listener.folderToReport({ours, root, attributes}), std::nullopt);
    EXPECT_EQ(listener.folderToReport({theirs, root, attributes}), std::optional(root));
    // Content written, by whoever: always a change.
    EXPECT_EQ(listener.folderToReport({ours, root, attributes | FileEventFlag::ItemModified}), std::optional(root));
    XAttr::setBackend(previous);
}

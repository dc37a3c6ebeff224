#include "SubSideBarTestSupport.h"

#include "Platform/Kit/Scheduler.h"
#include "SideBar/RefreshItemCountObject.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolderMetadata.h"

#include <QCoreApplication>

using namespace sidebartest;
namespace K = ItemCountKey;

namespace {

// Stops itself at the given check, as a driver's cancel arriving then would.
class CancelledAt final : public RefreshItemCountObject {
public:
    CancelledAt(QVariantMap setting, DataBaseEngine* engine, int at)
        : RefreshItemCountObject(Private{}, std::move(setting), engine), m_at(at)
    {
    }

protected:
    bool checkCancel() override
    {
        if (++m_checks >= m_at)
            setIsCancel(true);
        return isCancel();
    }

private:
    int m_at;
    int m_checks = 0;
};

class RefreshItemCountTest : public SubSideBarFixture {
protected:
    // Runs job through the settle and waits for its one delivery.
    QVariantMap run(const RefreshItemCountObject::Ptr& job, bool cancelFirst = false)
    {
        int deliveries = 0;
        QVariantMap result;
        job->refreshWithBlock([&](const QVariantMap& r, const RefreshItemCountObject::Ptr& j) {
            EXPECT_EQ(j, job);
            result = r;
            ++deliveries;
        });
        if (cancelFirst)
            job->setIsCancel(true);
        scheduler.advance(RefreshItemCountObject::kSettleMs);
        EXPECT_TRUE(testsupport::spinUntil([&] { return deliveries > 0; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(deliveries, 1);
        return result;
    }
    static QVariant id(const DBRecord& record) { return QVariant::fromValue(record.objectID()); }

    platform::kit::VirtualScheduler scheduler;
};

TEST_F(RefreshItemCountTest, CountsWhatTheBadgesShow)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode folder = addNode(QStringLiteral("Folder"), DBNode::Folder, work);
    DBTag a = addTag(QStringLiteral("a"));
    DBTag b = addTag(QStringLiteral("b"));
    DBTag unused = addTag(QStringLiteral("unused"));
    addDocument(QStringLiteral("d1"), {a}, folder);
    addDocument(QStringLiteral("d2"), {a, b});
    addDocument(QStringLiteral("gone"), {a}, folder).setIsTrash(true);
    DBFileInfo purged = addDocument(QStringLiteral("purged"), {b}, folder);
    purged.setIsTrash(true);
    purged.setIsNeedDelete(true);
    addDocument(QStringLiteral("received")).setExtendField(DBFileInfo::kExtendReceiveFromDevice);
    DBFileInfo indexed = addDocument(QStringLiteral("indexed"), {}, work);
    auto link = DBRecord::insertNewObject<DBIndexFolderMetadata>(engine->context());
    link.setFolderID(DBHelper::folderIDForFolderPath(QStringLiteral("/Data/Index")));
    link.setFileInfo(indexed);
    save();
    // Not saved: the job sees it all the same.
    addDocument(QStringLiteral("unsaved"), {b}, folder);

    const QVariantMap setting{{K::CollectionObj, QVariantList{id(folder), id(work)}},
                              {K::TagObj, QVariantList{id(a), id(b), id(unused)}},
                              {K::IndexObj, QStringList{QStringLiteral("/data/index"), QStringLiteral("/elsewhere")}}};
    const QVariantMap result = run(RefreshItemCountObject::initWithSetting(setting, engine.get()));
    EXPECT_EQ(result.value(K::DocumentsCount).toInt(), 5);
    EXPECT_EQ(result.value(K::TrashCount).toInt(), 1);
    EXPECT_EQ(result.value(K::ReceiveCount).toInt(), 1);
    EXPECT_EQ(result.value(K::UnCollectionCount).toInt(), 2);
    EXPECT_EQ(result.value(K::UnTagCount).toInt(), 2);
    const QVariantMap byNode = result.value(K::CollectionObj).toMap();
    EXPECT_EQ(byNode.value(folder.URIString()).toInt(), 2);
    EXPECT_EQ(byNode.value(work.URIString()).toInt(), 1);
    const QVariantMap byTag = result.value(K::TagObj).toMap();
    EXPECT_EQ(byTag.value(a.URIString()).toInt(), 2);
    EXPECT_EQ(byTag.value(b.URIString()).toInt(), 2);
    EXPECT_EQ(byTag.value(unused.URIString()).toInt(), 0);
    // The grouped counts agree with one count per tag.
    for (const DBTag& tag : {a, b, unused}) {
        auto predicate = platform::Predicate::format(QStringLiteral("isTrash == NO && (ANY tags == %@)"), {tag.ref()});
        EXPECT_EQ(byTag.value(tag.URIString()).toLongLong(),
                  engine->countByObject(DBFileInfo::entityName(), *predicate));
    }
    const QVariantMap byPath = result.value(K::IndexObj).toMap();
    EXPECT_EQ(byPath.keys(), (QStringList{"/data/index", "/elsewhere"}));
    EXPECT_EQ(byPath.value("/data/index").toInt(), 1);
    EXPECT_EQ(byPath.value("/elsewhere").toInt(), 0);

    // Tags only.
    const QVariantMap tags = run(RefreshTagItemCountObject::initWithSetting(setting, engine.get()));
    EXPECT_EQ(tags.keys(), (QStringList{K::TagObj, K::UnTagCount}));
    EXPECT_EQ(tags.value(K::TagObj), result.value(K::TagObj));
}

TEST_F(RefreshItemCountTest, StopsWhereItIsCancelled)
{
    DBTag a = addTag(QStringLiteral("a"));
    DBTag b = addTag(QStringLiteral("b"));
    addDocument(QStringLiteral("d"), {a, b});
    save();
    const QVariantMap setting{{K::TagObj, QVariantList{id(a), id(b)}}};

    EXPECT_EQ(run(RefreshItemCountObject::initWithSetting({}, engine.get())).keys(),
              (QStringList{K::DocumentsCount, K::ReceiveCount, K::TrashCount, K::UnCollectionCount, K::UnTagCount}));
    EXPECT_TRUE(run(RefreshItemCountObject::initWithSetting(setting, engine.get()), true).isEmpty());

    // Checks: after each of the four totals, before the tags, after UnTag, after the first tag.
    const QVariantMap partial = run(std::make_shared<CancelledAt>(setting, engine.get(), 7));
    EXPECT_EQ(partial.value(K::TagObj).toMap().keys(), QStringList{a.URIString()});
    EXPECT_EQ(partial.value(K::TagObj).toMap().value(a.URIString()).toInt(), 1);
    EXPECT_FALSE(partial.contains(K::IndexObj));
}

// Quitting while a job settles: the scheduler's work goes without running, and the job with it.
TEST_F(RefreshItemCountTest, AJobStillSettlingGoesWithItsScheduler)
{
    std::weak_ptr<RefreshItemCountObject> weak;
    int deliveries = 0;
    {
        platform::kit::VirtualScheduler quitting;
        auto job = RefreshItemCountObject::initWithSetting({}, engine.get());
        weak = job;
        job->refreshWithBlock([&](const QVariantMap&, const RefreshItemCountObject::Ptr&) { ++deliveries; });
        job->setIsCancel(true);
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(deliveries, 0);
}

} // namespace

#include "../Search/LibraryFixture.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Tools/DuplicateGrouping.h"
#include "Tools/DuplicateInfoWindowController.h"
#include "Tools/DuplicationInfoViewController.h"
#include "Utilities/MD5Generator.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <mutex>

using platform::kit::Alert;
using platform::kit::VirtualScheduler;

namespace {

DuplicateRecordInfo info(const QString& name, const QString& md5)
{
    DuplicateRecordInfo record;
    record.filePath = QStringLiteral("/docs/") + name;
    record.md5 = md5;
    return record;
}

QStringList names(const QList<DuplicateRecordInfo>& group)
{
    QStringList result;
    for (const DuplicateRecordInfo& record : group)
        result << record.filePath.mid(6);
    return result;
}

class DuplicateInfoWindowControllerTest : public libraryfixture::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        Alert::setPresenterForTesting([this](const Alert& alert) {
            alerts << alert.messageText();
            return answer;
        });
    }
    void TearDown() override
    {
        Alert::setPresenterForTesting({});
        MD5Generator::setPieceObserverForTesting({});
        LibraryTest::TearDown();
    }

    // Opens the window and waits until the finder has shown everything.
    DuplicateInfoWindowController* open()
    {
        auto* controller = new DuplicateInfoWindowController;
        controller->showWindow();
        EXPECT_EQ(controller->window()->windowModality(), Qt::ApplicationModal);
        const DuplicateInfoOutlets& ui = controller->outlets();
        EXPECT_TRUE(testsupport::spinUntil([&] {
            return ui.txtLabelInfo->isVisible() && !ui.progressIndicator->isVisible()
                   && ui.btnRemoveSelected->isEnabled() == !controller->dataSource().isEmpty();
        }));
        QCoreApplication::processEvents();
        return controller;
    }

    qsizetype hashedInStore()
    {
        qsizetype count = 0;
        KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const platform::ContextPtr& context) {
            count = context->countForFetchRequest(platform::FetchRequest(
                DBFileInfo::entityName(), *platform::Predicate::parse(QStringLiteral("metadata.md5 != nil")))).value_or(-1);
        });
        return count;
    }

    VirtualScheduler clock;
    QStringList alerts;
    int answer = Alert::kDefaultReturn;
};

} // namespace

TEST(DuplicateGrouping, GroupsRunsOfEqualHashesWithTheRunsFirstRecordLast)
{
    const QList<DuplicateRecordInfo> storeOrder{info(QStringLiteral("r0"), QStringLiteral("bb")),
                                                info(QStringLiteral("r1"), QStringLiteral("aa")),
                                                info(QStringLiteral("r2"), QStringLiteral("bb")),
                                                info(QStringLiteral("r3"), QStringLiteral("cc")),
                                                info(QStringLiteral("r4"), QStringLiteral("bb")),
                                                info(QStringLiteral("r5"), QStringLiteral("aa")),
                                                info(QStringLiteral("r6"), QStringLiteral("BB"))};
    const QList<QList<DuplicateRecordInfo>> groups = DuplicateGrouping::groups(storeOrder);
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(names(groups[0]), (QStringList{QStringLiteral("r2"), QStringLiteral("r4"), QStringLiteral("r0")}));
    EXPECT_EQ(names(groups[1]), (QStringList{QStringLiteral("r5"), QStringLiteral("r1")}));
    EXPECT_TRUE(DuplicateGrouping::groups({}).isEmpty());
    EXPECT_TRUE(DuplicateGrouping::groups({info(QStringLiteral("alone"), QStringLiteral("aa"))}).isEmpty());
}

TEST(DuplicateGrouping, AtLeastOneRowOfAGroupStaysUnchecked)
{
    QList<bool> checks = DuplicateGrouping::initialChecks(3);
    EXPECT_EQ(checks, (QList<bool>{false, true, true}));
    checks[0] = true; // the click on the only unchecked row
    DuplicateGrouping::settleCheck(checks, 0);
    EXPECT_EQ(checks, (QList<bool>{false, true, true}));
    checks[2] = false; // unchecking is always allowed
    DuplicateGrouping::settleCheck(checks, 2);
    checks[0] = true;
    DuplicateGrouping::settleCheck(checks, 0);
    EXPECT_EQ(checks, (QList<bool>{true, true, false}));
    checks[2] = true;
    DuplicateGrouping::settleCheck(checks, 2);
    EXPECT_EQ(checks, (QList<bool>{true, true, false}));
}

TEST(DuplicateGrouping, TextsAndHeights)
{
    EXPECT_EQ(DuplicateGrouping::groupCountText(0), QStringLiteral("0 item"));
    EXPECT_EQ(DuplicateGrouping::groupCountText(1), QStringLiteral("1 item"));
    EXPECT_EQ(DuplicateGrouping::groupCountText(2), QStringLiteral("2 items"));
    EXPECT_EQ(DuplicateGrouping::groupHeight(2), 120);
    EXPECT_EQ(DuplicateGrouping::groupHeight(3), 124);
    EXPECT_EQ(DuplicateGrouping::fileSizeText(1023), QStringLiteral("1023 bytes"));
    EXPECT_EQ(DuplicateGrouping::fileSizeText(1536), QStringLiteral("1.50 KB"));
    EXPECT_EQ(DuplicateGrouping::fileSizeText(1048576), QStringLiteral("1.00 MB"));
    EXPECT_EQ(DuplicateGrouping::fileSizeText(3LL * 1073741824), QStringLiteral("3.00 GB"));
}

TEST_F(DuplicateInfoWindowControllerTest, EqualDocumentsFormAGroupAndCheckedOnesGoToTheLibrarysTrash)
{
    const DBFileInfo a = addDocument(QStringLiteral("a.pdf"), "same bytes");
    const DBFileInfo b = addDocument(QStringLiteral("b.pdf"), "same bytes");
    const DBFileInfo c = addDocument(QStringLiteral("c.pdf"), "same bytes");
    const DBFileInfo twinInTrash = addDocument(QStringLiteral("t.pdf"), "same bytes", true);
    const DBFileInfo pairA = addDocument(QStringLiteral("p.txt"), "pair");
    const DBFileInfo pairB = addDocument(QStringLiteral("q.txt"), "pair");
    const DBFileInfo unique = addDocument(QStringLiteral("u.pdf"), "unique");
    ASSERT_TRUE(KPContextHelper::save(engine->context()));

    QPointer<DuplicateInfoWindowController> controller = open();
    ASSERT_EQ(controller->dataSource().size(), 2);
    EXPECT_EQ(controller->outlets().txtLabelInfo->text(), QStringLiteral("2 items"));
    EXPECT_TRUE(twinInTrash.metadata().md5().isNull()); // never hashed
    EXPECT_FALSE(unique.metadata().md5().isNull());

    DuplicationInfoViewController* three = controller->dataSource().at(0);
    if (three->views().size() != 3)
        three = controller->dataSource().at(1);
    ASSERT_EQ(three->views().size(), 3);
    EXPECT_EQ(three->view()->height(), 124);
    EXPECT_EQ(controller->dataSource().at(0) == three ? controller->dataSource().at(1)->view()->height()
                                                      : controller->dataSource().at(0)->view()->height(),
              120);
    QList<int> states;
    for (DuplicationInfoSelectView* row : three->views())
        states << row->state();
    EXPECT_EQ(states, (QList<int>{0, 1, 1}));
    // Checking the kept row as well is undone: one file of the group always stays.
    three->views().at(0)->btnCheck()->click();
    EXPECT_EQ(three->views().at(0)->state(), 0);
    const QList<platform::ObjectID> chosen = three->needRemoveObjIDs();
    ASSERT_EQ(chosen.size(), 2);

    // Cancelled alert: nothing moves.
    answer = Alert::kAlternateReturn;
    controller->outlets().btnRemoveSelected->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return alerts.size() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(a.isTrash() || b.isTrash() || c.isTrash());

    int refreshes = 0;
    QVariant refreshObject = QStringLiteral("unset");
    platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("RefreshItemCountNotification"), [&](const platform::Notification& note) {
            ++refreshes;
            refreshObject = note.object;
        });
    answer = Alert::kDefaultReturn;
    // Only the three-row group keeps its checks: uncheck the pair's removal.
    for (DuplicationInfoViewController* group : controller->dataSource())
        if (group != three)
            for (DuplicationInfoSelectView* row : group->views())
                row->setState(0);
    controller->outlets().btnRemoveSelected->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return refreshes == 1; }));
    EXPECT_EQ(alerts.last(), QStringLiteral("Do you want to delete selected documents?"));
    EXPECT_FALSE(refreshObject.isValid());
    int trashed = 0;
    for (const DBFileInfo& doc : {a, b, c}) {
        trashed += doc.isTrash() ? 1 : 0;
        EXPECT_TRUE(QFileInfo::exists(DBHelper::CombinFileAbsolutePath(doc))); // files stay
        EXPECT_EQ(doc.isTrash(), chosen.contains(doc.objectID()));
    }
    EXPECT_EQ(trashed, 2);
    EXPECT_FALSE(pairA.isTrash() || pairB.isTrash());

    clock.advance(DuplicateInfoWindowController::kCloseDelayMs - 1);
    EXPECT_TRUE(controller->window()->isVisible());
    clock.advance(1);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return controller.isNull();
    }));
}

TEST_F(DuplicateInfoWindowControllerTest, HashesAreSavedInBatchesOfTenAndOnlyOnce)
{
    QList<DBFileInfo> docs;
    for (int i = 0; i < 25; ++i)
        docs.append(addDocument(QStringLiteral("d%1.pdf").arg(i), QByteArray::number(i)));
    const DBFileInfo vanished = addDocument(QStringLiteral("gone.pdf"), "gone");
    ASSERT_TRUE(QFile::remove(DBHelper::CombinFileAbsolutePath(vanished)));
    ASSERT_TRUE(KPContextHelper::save(engine->context()));

    // What the store holds as each file is hashed.
    std::mutex mutex;
    QList<qsizetype> storedWhileHashing;
    MD5Generator::setPieceObserverForTesting([&](const QString&, qint64) {
        const qsizetype stored = hashedInStore();
        std::lock_guard lock(mutex);
        storedWhileHashing << stored;
    });
    QPointer<DuplicateInfoWindowController> controller = open();
    EXPECT_EQ(controller->outlets().txtLabelInfo->text(), QStringLiteral("0 item"));
    EXPECT_FALSE(controller->outlets().btnRemoveSelected->isEnabled());
    {
        std::lock_guard lock(mutex);
        QList<qsizetype> expected;
        for (int i = 0; i < 25; ++i)
            expected << (i / 10) * 10;
        EXPECT_EQ(storedWhileHashing, expected);
        storedWhileHashing.clear();
    }
    EXPECT_EQ(hashedInStore(), 25);
    EXPECT_TRUE(vanished.metadata().md5().isNull());
    controller->outlets().btnCancel->click();
    EXPECT_TRUE(controller->isStop());

    // A second run hashes nothing that has a hash.
    testsupport::writeFile(DBHelper::CombinFileAbsolutePath(vanished), "back again");
    controller = open();
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(storedWhileHashing, QList<qsizetype>{25});
    }
    EXPECT_EQ(hashedInStore(), 26);
    controller->btnCancelClick();
}

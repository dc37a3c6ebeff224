// Copying and moving documents into the open SafeBox and deleting files from it, with a fake
// volume and a fake seal status: names never overwrite, the free-space check counts packages
// whole, and a move deletes an original only after a seal that holds its copy.
#include "../Search/LibraryFixture.h"
#include "Browser/KPSafeBoxItemData.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Sheet.h"
#include "SafeBox/Views/CopyFileToSafeBoxWindowController.h"
#include "SafeBox/Views/RemoveSafeBoxFilesWindowController.h"
#include "Store/KPSafeBoxMoveJournal.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using Kind = platform::kit::RecordingDialogService::Kind;

namespace {

class SafeBoxCopySheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window.resize(800, 600);
        m_box = testsupport::makeTempDir(QStringLiteral("box"));
        m_sources = testsupport::makeTempDir(QStringLiteral("sources"));
        m_services.dialogs = &m_dialogs;
        m_services.sealPollMs = 5;
        m_services.volumeInfo = [this](const QString&) -> std::optional<platform::SafeBoxVolumeInfo> {
            while (m_holdVolume.load())
                std::this_thread::yield();
            platform::SafeBoxVolumeInfo info;
            info.capacity = 1 << 30;
            info.free = m_free.load();
            return info;
        };
        m_services.sealStatus = [this](const QString&) {
            std::lock_guard lock(m_statusMutex);
            platform::sbx::SealStatus status = m_status;
            if (m_sealBeginsNow)
                status.lastSealBeganNs = platform::sbx::monotonicNowNs();
            return status;
        };
        m_services.sealerAlive = [this](const platform::sbx::SealStatus&, const QString&) {
            const bool alive = m_sealerAlive.load();
            if (!alive)
                ++m_deadLooks;
            return alive;
        };
        // A sealer that stays dead is given up on soon here; the case of a replacement sets it long.
        m_services.sealerReplacementMs = 200;
        m_services.requestSeal = [this](const QString&) -> platform::Result<void> {
            ++m_sealRequests;
            if (m_sealOnRequest) {
                std::lock_guard lock(m_statusMutex);
                ++m_status.generation;
                m_status.lastSealBeganNs = platform::sbx::monotonicNowNs();
            }
            return {};
        };
        m_status.generation = 1;
        m_status.lastSealBeganNs = 1;
    }

    KPItemDataPtr source(const QString& name, const QByteArray& bytes = "content")
    {
        const QString path = m_sources + QLatin1Char('/') + name;
        testsupport::writeFile(path, bytes);
        return std::make_shared<KPSafeBoxItemData>(QVariantMap{{QStringLiteral("Path"), path}}, m_sources);
    }

    // Begins the sheet; the controller deletes itself when it ends.
    CopyFileToSafeBoxWindowController* begin(const QList<KPItemDataPtr>& sources)
    {
        m_dialogs.scriptSheetShown();
        auto* controller = new CopyFileToSafeBoxWindowController(m_services);
        controller->setSafeBoxFolder(m_box);
        controller->setSafeBoxDisk(QStringLiteral("/dev/folivo-sbx-00000001"));
        m_done = false;
        controller->copyFilesWithSheedWindow(&m_window, sources, [this, controller](const QList<KPItemDataPtr>& copied) {
            m_copied = copied;
            m_moved = controller->isMoveMode();
            if (m_onCompleted)
                m_onCompleted();
            m_done = true;
        });
        return controller;
    }

    void setStatus(const std::function<void(platform::sbx::SealStatus&)>& change)
    {
        std::lock_guard lock(m_statusMutex);
        change(m_status);
    }

    QWidget m_window;
    QString m_box;
    QString m_sources;
    platform::kit::RecordingDialogService m_dialogs;
    CopyFileToSafeBoxWindowController::Services m_services;
    std::atomic<quint64> m_free{1 << 30};
    std::atomic<bool> m_holdVolume{false};
    std::atomic<bool> m_sealerAlive{true};
    std::atomic<int> m_deadLooks{0};
    std::mutex m_statusMutex;
    platform::sbx::SealStatus m_status;
    bool m_sealBeginsNow = false;
    std::function<void()> m_onCompleted;
    // A sealer that seals only when asked: its last seal began before the move's wait.
    std::atomic<bool> m_sealOnRequest{false};
    std::atomic<int> m_sealRequests{0};
    QList<KPItemDataPtr> m_copied;
    bool m_moved = false;
    bool m_done = false;
};

} // namespace

TEST_F(SafeBoxCopySheetTest, NamesInTheBoxAreNeverOverwrittenAndGetNoTrailingDot)
{
    testsupport::writeFile(m_box + QStringLiteral("/report.pdf"), "first");
    testsupport::writeFile(m_box + QStringLiteral("/report copy.pdf"), "second");
    testsupport::writeFile(m_box + QStringLiteral("/notes"), "n");
    const KPItemDataPtr report = source(QStringLiteral("report.pdf"), "third");
    const KPItemDataPtr notes = source(QStringLiteral("notes"), "n2");

    begin({report, notes})->btnCopy();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
    EXPECT_EQ(m_copied.size(), 2);
    EXPECT_FALSE(m_moved);
    EXPECT_EQ(testsupport::readFile(m_box + QStringLiteral("/report.pdf")), "first");
    EXPECT_EQ(testsupport::readFile(m_box + QStringLiteral("/report copy 2.pdf")), "third");
    EXPECT_EQ(testsupport::readFile(m_box + QStringLiteral("/notes copy")), "n2");
    EXPECT_TRUE(QFileInfo::exists(report->filePath())); // a copy keeps the originals
    // No temporary name is left behind.
    EXPECT_EQ(QDir(m_box).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".part")).size(), 0);
}

TEST_F(SafeBoxCopySheetTest, WhatDoesNotFitIsRefusedAndAPackageCountsWhole)
{
    const KPItemDataPtr small = source(QStringLiteral("small.txt"), QByteArray(10, 'a'));
    QDir().mkpath(m_sources + QStringLiteral("/Album.pages"));
    for (int i = 0; i < 3; ++i)
        testsupport::writeFile(m_sources + QStringLiteral("/Album.pages/part%1").arg(i), QByteArray(64 * 1024, 'p'));
    const KPItemDataPtr package =
        std::make_shared<KPSafeBoxItemData>(QVariantMap{{QStringLiteral("Path"), m_sources + QStringLiteral("/Album.pages")}}, m_sources);
    const quint64 smallSize = CopyFileToSafeBoxWindowController::requiredSize(small->filePath());
    const quint64 packageSize = CopyFileToSafeBoxWindowController::requiredSize(package->filePath());
    EXPECT_GE(packageSize, quint64(3 * 64 * 1024)); // not the size of the folder's own entry

    // Exactly as much as is left is refused too; what came before it stays.
    m_free = smallSize + packageSize;
    begin({small, package})->btnCopy();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
    ASSERT_EQ(m_copied.size(), 1);
    EXPECT_EQ(m_copied.first(), small);
    EXPECT_FALSE(QFileInfo::exists(m_box + QStringLiteral("/Album.pages")));
    ASSERT_EQ(m_dialogs.count(Kind::Alert), 1);
    EXPECT_EQ(m_dialogs.last(Kind::Alert).messageText, QStringLiteral("Not enough free space to process this action."));
}

TEST_F(SafeBoxCopySheetTest, AMoveDeletesTheOriginalsOnlyAfterASealThatHoldsTheCopies)
{
    const KPItemDataPtr a = source(QStringLiteral("a.pdf"));
    const KPItemDataPtr b = source(QStringLiteral("b.pdf"));
    CopyFileToSafeBoxWindowController* sheet = begin({a, b});
    sheet->btnMove();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->txtCopyingHint->text() == QStringLiteral("Sealing…"); }));
    EXPECT_TRUE(QFileInfo::exists(m_box + QStringLiteral("/a.pdf")));
    EXPECT_TRUE(QFileInfo::exists(a->filePath()));
    EXPECT_TRUE(QFileInfo::exists(b->filePath()));
    EXPECT_FALSE(m_done);

    setStatus([](platform::sbx::SealStatus& status) {
        status.generation = 2;
        status.lastSealBeganNs = platform::sbx::monotonicNowNs();
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
    EXPECT_TRUE(m_moved);
    EXPECT_EQ(m_copied.size(), 2);
    EXPECT_FALSE(QFileInfo::exists(a->filePath()));
    EXPECT_FALSE(QFileInfo::exists(b->filePath()));
    EXPECT_EQ(testsupport::readFile(m_box + QStringLiteral("/b.pdf")), "content");
}

TEST_F(SafeBoxCopySheetTest, AMoveAsksForTheSealItWaitsForInsteadOfWaitingForAChange)
{
    // The sealer sealed after the last copy but before the wait began: the folder stays quiet,
    // so only a seal asked for can ever come.
    setStatus([](platform::sbx::SealStatus& status) {
        status.generation = 5;
        status.lastSealBeganNs = platform::sbx::monotonicNowNs();
    });
    m_sealOnRequest = true;
    const KPItemDataPtr doc = source(QStringLiteral("quiet.pdf"));
    begin({doc})->btnMove();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; })) << "the move waits on Sealing… for good";
    EXPECT_TRUE(m_moved);
    EXPECT_EQ(m_sealRequests.load(), 1);
    EXPECT_FALSE(QFileInfo::exists(doc->filePath()));
    EXPECT_EQ(testsupport::readFile(m_box + QStringLiteral("/quiet.pdf")), "content");
}

TEST_F(SafeBoxCopySheetTest, AMoveJournalsTheDocumentsWhoseOriginalsItDeletesUntilTheyHaveLeftTheLibrary)
{
    const QString library = testsupport::makeTempDir(QStringLiteral("library"));
    const auto engine = libraryfixture::openLibrary(library);
    const auto document = [&](const QString& name) {
        testsupport::writeFile(library + QStringLiteral("/Documents/") + name, name.toUtf8());
        const DBFileInfo file = engine->insertRecords({{{ImportRecordKey::Path, QStringLiteral("/Documents/") + name}}}).value(0);
        EXPECT_TRUE(file);
        return KPItemData::create(file);
    };
    const KPItemDataPtr letter = document(QStringLiteral("letter.pdf"));
    ASSERT_TRUE(engine->writeToDiskAndWait());
    m_sealBeginsNow = true;

    // While the block takes the moved documents out of the library, the journal names them.
    QList<KPSafeBoxMoveJournal::Entry> journalled;
    bool originalGone = false;
    m_onCompleted = [&] {
        for (const QString& journal : KPSafeBoxMoveJournal::journals(library))
            journalled += KPSafeBoxMoveJournal::read(journal);
        originalGone = !QFileInfo::exists(letter->filePath());
    };
    CopyFileToSafeBoxWindowController* sheet = begin({letter});
    sheet->setMoveJournalFolder(library);
    sheet->btnMove();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
    EXPECT_TRUE(m_moved);
    EXPECT_TRUE(originalGone);
    ASSERT_EQ(journalled.size(), 1);
    EXPECT_EQ(journalled.first().uri, letter->data().URIString());
    EXPECT_EQ(journalled.first().path, letter->filePath());
    EXPECT_TRUE(KPSafeBoxMoveJournal::journals(library).isEmpty()) << "the journal goes when the move has ended";

    // A move that cannot be journalled deletes nothing.
    const KPItemDataPtr memo = document(QStringLiteral("memo.pdf"));
    ASSERT_TRUE(engine->writeToDiskAndWait());
    m_onCompleted = nullptr;
    sheet = begin({memo});
    sheet->setMoveJournalFolder(library + QStringLiteral("/no such folder"));
    sheet->btnMove();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
    EXPECT_FALSE(m_moved);
    EXPECT_TRUE(QFileInfo::exists(memo->filePath()));
    EXPECT_TRUE(m_dialogs.last(Kind::Alert).messageText.contains(QStringLiteral("originals were kept")));
}

TEST_F(SafeBoxCopySheetTest, AFailedOrDeadSealerOrAStoppedWaitKeepsEveryOriginalAndReportsACopy)
{
    for (int scenario = 0; scenario < 3; ++scenario) {
        SCOPED_TRACE(scenario);
        setStatus([](platform::sbx::SealStatus& status) { status = {1, 1, 0, {}, 0}; });
        m_sealerAlive = true;
        const KPItemDataPtr doc = source(QStringLiteral("doc%1.pdf").arg(scenario));
        CopyFileToSafeBoxWindowController* sheet = begin({doc});
        sheet->btnMove();
        ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->txtCopyingHint->text() == QStringLiteral("Sealing…"); }));
        if (scenario == 0)
            setStatus([](platform::sbx::SealStatus& status) { status.lastFailure = QStringLiteral("No space left on device"); });
        else if (scenario == 1)
            m_sealerAlive = false;
        else
            sheet->btnCancelCopying();
        ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
        EXPECT_FALSE(m_moved);
        EXPECT_EQ(m_copied.size(), 1);
        EXPECT_TRUE(QFileInfo::exists(doc->filePath()));
        EXPECT_TRUE(m_dialogs.last(Kind::Alert).messageText.contains(QStringLiteral("originals were kept")));
    }
}

TEST_F(SafeBoxCopySheetTest, AMoveWaitsForTheSealerThatReplacesADeadOne)
{
    m_services.sealerReplacementMs = 60 * 60 * 1000; // the replacement below comes long before
    setStatus([](platform::sbx::SealStatus& status) { status = {1, 1, 0, {}, 41}; });
    const KPItemDataPtr doc = source(QStringLiteral("doc.pdf"));
    CopyFileToSafeBoxWindowController* sheet = begin({doc});
    sheet->btnMove();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->txtCopyingHint->text() == QStringLiteral("Sealing…"); }));
    // The sealer dies while the move waits, and the wait sees it dead more than once.
    m_sealerAlive = false;
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_deadLooks.load() >= 3 || m_done; }));
    EXPECT_FALSE(m_done) << "the move gave up on a sealer that was about to be replaced";
    // Another sealer takes charge and seals.
    setStatus([](platform::sbx::SealStatus& status) {
        status.sealerPid = 42;
        ++status.generation;
        status.lastSealBeganNs = platform::sbx::monotonicNowNs();
    });
    m_sealerAlive = true;
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
    EXPECT_TRUE(m_moved);
    EXPECT_FALSE(QFileInfo::exists(doc->filePath()));
    EXPECT_EQ(m_dialogs.count(Kind::Alert), 0);
}

TEST_F(SafeBoxCopySheetTest, CancelMidWayMovesOnlyWhatWasDone)
{
    m_sealBeginsNow = true;
    const QList<KPItemDataPtr> docs = {source(QStringLiteral("1.pdf")), source(QStringLiteral("2.pdf")),
                                       source(QStringLiteral("3.pdf"))};
    m_holdVolume = true; // the worker waits before its first file
    CopyFileToSafeBoxWindowController* sheet = begin(docs);
    sheet->btnMove();
    sheet->btnCancelCopying(); // takes effect after the current file
    m_holdVolume = false;
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_done; }));
    ASSERT_EQ(m_copied.size(), 1);
    EXPECT_TRUE(m_moved);
    EXPECT_FALSE(QFileInfo::exists(docs[0]->filePath()));
    EXPECT_TRUE(QFileInfo::exists(docs[1]->filePath()));
    EXPECT_TRUE(QFileInfo::exists(docs[2]->filePath()));
    EXPECT_FALSE(QFileInfo::exists(m_box + QStringLiteral("/2.pdf")));
}

TEST_F(SafeBoxCopySheetTest, RemovalDeletesOnlyFilesOfTheBoxAndLeavesOutWhatWasGone)
{
    testsupport::writeFile(m_box + QStringLiteral("/keep.pdf"), "k");
    testsupport::writeFile(m_box + QStringLiteral("/gone.pdf"), "g");
    const auto item = [this](const QString& path) {
        return std::make_shared<KPSafeBoxItemData>(QVariantMap{{QStringLiteral("Path"), path}}, m_box);
    };
    const KPItemDataPtr present = item(m_box + QStringLiteral("/keep.pdf"));
    const KPItemDataPtr missing = item(m_box + QStringLiteral("/gone.pdf"));
    QFile::remove(missing->filePath());
    testsupport::writeFile(present->thumbPath(), "thumb");
    const QString outsidePath = m_sources + QStringLiteral("/outside.pdf");
    testsupport::writeFile(outsidePath, "o");
    const KPItemDataPtr outside = item(outsidePath);

    m_dialogs.scriptSheetShown();
    auto* sheet = new RemoveSafeBoxFilesWindowController(&m_dialogs);
    sheet->setSafeBoxFolder(m_box);
    QList<KPItemDataPtr> removed;
    bool done = false;
    sheet->removeFilesWithSheedWindow(&m_window, {missing, present, outside}, [&](const QList<KPItemDataPtr>& r) {
        removed = r;
        done = true;
    });
    sheet->btnRemove();
    ASSERT_TRUE(testsupport::spinUntil([&] { return done; }));
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.first(), present);
    EXPECT_FALSE(QFileInfo::exists(present->filePath()));
    EXPECT_FALSE(QFileInfo::exists(present->thumbPath()));
    EXPECT_TRUE(QFileInfo::exists(outsidePath));
}

#include "Import/KPFileImport.h"
#include "ImportTestKit.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <fcntl.h>
#include <unistd.h>

using namespace importtest;
using namespace KPImportKeys;

namespace {

class KPFileImportTest : public ImportFixture {
protected:
    std::shared_ptr<KPFileImport> flat(const QVariantMap& options) { return make<KPFileImport>(options); }
    QStringList journals() const
    {
        return QDir(libraryPath).entryList({QStringLiteral(".folivo-import-*.journal")}, QDir::Files | QDir::Hidden);
    }
    QVariantMap recordFor(const QString& source) const
    {
        for (const QVariant& r : store->flatRecords)
            if (r.toMap().value(Original) == source)
                return r.toMap();
        return {};
    }
    KPFileImportQueue queue;
};

platform::Result<QString> failWithFullDisk(const KPLibraryFileManager& lib, const QString& source)
{
    // Half a file arrives, then the disk is full: the library must not keep the half.
    testsupport::writeFile(lib.dayFolder() + QStringLiteral(".partial-") + QFileInfo(source).fileName(), "hal");
    QFile::remove(lib.dayFolder() + QStringLiteral(".partial-") + QFileInfo(source).fileName());
    return std::unexpected(platform::Error::posix(ENOSPC, QStringLiteral("copy %1").arg(source)));
}

} // namespace

TEST_F(KPFileImportTest, MixedFolderWithCollisionUnsupportedFileAndFailedCopy)
{
    write(QStringLiteral("drop/a.pdf"), "new a");
    write(QStringLiteral("drop/notes.txt"), "some text");
    write(QStringLiteral("drop/full.jpg"), "jpeg bytes");
    write(QStringLiteral("drop/readme.xyz"));
    write(QStringLiteral("drop/.hidden.pdf"));
    testsupport::writeFile(library->dayFolder() + QStringLiteral("a.pdf"), "an earlier a");
    CopyGate gate;
    gate.copy = [](const KPLibraryFileManager& lib, const QString& source,
                   const KPLibraryFileManager::BeforeClaim& beforeClaim) -> platform::Result<QString> {
        if (source.endsWith(QStringLiteral("full.jpg")))
            return failWithFullDisk(lib, source);
        return lib.addFile(source, beforeClaim);
    };

    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{src(QStringLiteral("drop"))}}, {NewTags, QStringList{"inbox"}}})));

    EXPECT_EQ(log.order, QStringList({"ImportStart", "Progress", "Progress", "Progress", "SaveDataBaseStart",
                                      "SaveDataBaseFinished"}));
    const auto progress = log.progress();
    for (int i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].value(CurrIndex).toInt(), i + 1);
        EXPECT_EQ(progress[i].value(Count).toInt(), 3);
        EXPECT_FALSE(progress[i].value(Image).value<QImage>().isNull());
    }
    const QVariantMap finished = log.last();
    EXPECT_EQ(finished.value(SuccessCount).toInt(), 2);
    EXPECT_EQ(setOf(finished.value(LostFiles).toStringList()),
              (QSet<QString>{src(QStringLiteral("drop/readme.xyz")), src(QStringLiteral("drop/full.jpg"))}));

    const QVariantMap a = recordFor(src(QStringLiteral("drop/a.pdf")));
    EXPECT_EQ(a.value(Path).toString(), library->removeAbsolutePath(library->dayFolder() + QStringLiteral("a_1.pdf")));
    EXPECT_EQ(testsupport::readFile(library->dayFolder() + QStringLiteral("a_1.pdf")), "new a");
    EXPECT_EQ(testsupport::readFile(library->dayFolder() + QStringLiteral("a.pdf")), "an earlier a");
    EXPECT_EQ(a.value(Tags).toStringList(), QStringList{"inbox"});
    EXPECT_FALSE(a.value(IsIndex).toBool());
    EXPECT_EQ(a.value(Comment).toString(), QString(""));
    EXPECT_TRUE(QFileInfo::exists(libraryPath + a.value(Thumb).toString()));
    EXPECT_EQ(dayFolderNames(), QStringList({"a.pdf", "a_1.pdf", "notes.txt"})) << "no partial or staged file";
    EXPECT_EQ(thumbnailCount(), 2);
}

TEST_F(KPFileImportTest, OnlyUnsupportedFilesAreStillReported)
{
    const QString odd = write(QStringLiteral("odd.xyz"));
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{odd}}, {LastSelectNode, QStringLiteral("node")}})));
    EXPECT_EQ(log.count(Progress), 0);
    EXPECT_EQ(store->calls, 0);
    EXPECT_EQ(log.last().value(LostFiles).toStringList(), QStringList{odd});
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 0);
    EXPECT_EQ(log.last().value(LastSelectNode).toString(), QStringLiteral("node"));
}

TEST_F(KPFileImportTest, MoveRemovesSourcesOnlyAfterADurableStoreAndNeverThroughALink)
{
    const QString a = write(QStringLiteral("a.pdf"));
    write(QStringLiteral("doc.rtfd/TXT.rtf"), "rich");
    const QString outside = write(QStringLiteral("elsewhere/keep.pdf"), "not part of the package");
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(src(QStringLiteral("doc.rtfd/link.pdf"))).constData()), 0);
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{a, src(QStringLiteral("doc.rtfd"))}}, {CMD, true}})));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 2);
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_FALSE(QFileInfo::exists(src(QStringLiteral("doc.rtfd"))));
    EXPECT_EQ(testsupport::readFile(outside), "not part of the package");
    EXPECT_EQ(dayFolderNames(), QStringList({"a.pdf", "doc.rtfd"}));
    EXPECT_EQ(testsupport::readFile(library->dayFolder() + QStringLiteral("doc.rtfd/TXT.rtf")), "rich");
}

TEST_F(KPFileImportTest, MoveWithAFailingStoreKeepsSourcesAndLeavesNoCopies)
{
    const QString a = write(QStringLiteral("a.pdf"));
    const QString b = write(QStringLiteral("b.txt"));
    store->failSave = true;
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{a, b}}, {CMD, true}})));
    EXPECT_TRUE(QFileInfo::exists(a));
    EXPECT_TRUE(QFileInfo::exists(b));
    EXPECT_TRUE(dayFolderNames().isEmpty());
    EXPECT_EQ(thumbnailCount(), 0);
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 0) << "a failed store is not reported as success";
    EXPECT_EQ(log.last().value(LostFiles).toStringList(), QStringList({a, b}));
    EXPECT_EQ(log.last().value(SaveError).toString(), QStringLiteral("the disk is full"));
    EXPECT_TRUE(journals().isEmpty()) << "the copies are gone, so is their journal";
}

TEST_F(KPFileImportTest, EveryCopyIsInTheJournalUntilItsRecordIsStored)
{
    const QString a = write(QStringLiteral("a.pdf"));
    const QString b = write(QStringLiteral("b.pdf"));
    CopyGate gate(2);
    queue.addOperation(flat({{Paths, QStringList{a, b}}}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.arrived(); }));
    ASSERT_EQ(journals().size(), 1);
    const QString copyOfA = library->removeAbsolutePath(library->dayFolder() + QStringLiteral("a.pdf"));
    EXPECT_TRUE(testsupport::readFile(libraryPath + QLatin1Char('/') + journals().value(0))
                    .contains(QFile::encodeName(copyOfA).toPercentEncoding()));
    gate.release();
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 2);
    EXPECT_TRUE(journals().isEmpty());
}

TEST_F(KPFileImportTest, MoveNeverDeletesAFileOfTheLibraryItself)
{
    const QString inside = library->documentsFolder() + QStringLiteral("/kept.pdf");
    testsupport::writeFile(inside, "library's own");
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{inside}}, {CMD, true}})));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 1);
    EXPECT_EQ(testsupport::readFile(inside), "library's own");
}

TEST_F(KPFileImportTest, VanishingShortAndLinkedSourcesEndReportedWithNothingLeftBehind)
{
    const QString gone = write(QStringLiteral("gone.pdf"));
    const QString shortened = write(QStringLiteral("short.pdf"), "0123456789");
    const QString target = write(QStringLiteral("target.pdf"));
    const QString link = src(QStringLiteral("link.pdf"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
    const QString ok = write(QStringLiteral("ok.pdf"));
    CopyGate gate;
    gate.copy = [&](const KPLibraryFileManager& lib, const QString& source,
                    const KPLibraryFileManager::BeforeClaim& beforeClaim) -> platform::Result<QString> {
        if (source == gone)
            QFile::remove(gone); // removed by the user between walk and copy
        auto copied = lib.addFile(source, beforeClaim);
        if (copied && source == shortened) // a copy that claims success but came out short
            ::truncate(QFile::encodeName(lib.CombinFileAbsolutePath(*copied)).constData(), 4);
        return copied;
    };
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{sources}}})));
    const QStringList lost = log.last().value(LostFiles).toStringList();
    EXPECT_TRUE(lost.contains(gone));
    EXPECT_TRUE(lost.contains(shortened));
    EXPECT_FALSE(lost.contains(target));
    EXPECT_TRUE(QFileInfo::exists(shortened));
    const QStringList stored = pathsOf(store->flatRecords, Original);
    EXPECT_EQ(setOf(stored), (QSet<QString>{ok, target})) << "the link itself is skipped";
    EXPECT_EQ(dayFolderNames(), QStringList({"ok.pdf", "target.pdf"}));
    EXPECT_EQ(thumbnailCount(), 2);
}

TEST_F(KPFileImportTest, GivenLinkIsReportedNotFollowed)
{
    const QString target = write(QStringLiteral("t/target.pdf"));
    const QString link = src(QStringLiteral("link.pdf"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{link}}, {CMD, true}})));
    EXPECT_EQ(log.last().value(LostFiles).toStringList(), QStringList{link});
    EXPECT_TRUE(QFileInfo::exists(target));
    EXPECT_TRUE(dayFolderNames().isEmpty());
}

TEST_F(KPFileImportTest, HiddenFilesHandedOverArriveUnderVisibleNamesOrAreReported)
{
    const QString hidden = write(QStringLiteral(".hidden report.pdf"), "hidden");
    const QString profile = write(QStringLiteral(".bashrc"), "shell");
    const QString plain = write(QStringLiteral("plain.pdf"), "plain");
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{hidden, profile, plain}}})));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 2);
    EXPECT_EQ(log.last().value(LostFiles).toStringList(), QStringList{profile}) << "no kind: said, not dropped";
    EXPECT_EQ(dayFolderNames(), QStringList({"hidden report.pdf", "plain.pdf"}));
    EXPECT_EQ(testsupport::readFile(library->dayFolder() + QStringLiteral("hidden report.pdf")), "hidden");
    EXPECT_EQ(recordFor(hidden).value(Path).toString(),
              library->removeAbsolutePath(library->dayFolder() + QStringLiteral("hidden report.pdf")));
}

TEST_F(KPFileImportTest, OddNamesArriveUnchangedAndUndecodableNamesAreReported)
{
    const QStringList names{QStringLiteral("with space & #hash%.pdf"), QStringLiteral("ünïcødé 文書.pdf"),
                            QStringLiteral("quote'\"$(x).pdf"), QStringLiteral("new\nline.pdf"),
                            QStringLiteral("report")};
    for (const QString& name : names)
        write(QStringLiteral("odd/") + name);
    const QByteArray raw = QFile::encodeName(src(QStringLiteral("odd"))) + "/caf\xe9.pdf";
    const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{src(QStringLiteral("odd"))}}})));
    ::unlink(raw.constData());
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 4);
    const QStringList arrived = dayFolderNames();
    EXPECT_EQ(setOf(arrived), setOf(names.mid(0, 4)));
    const QStringList lost = log.last().value(LostFiles).toStringList();
    EXPECT_EQ(lost.size(), 2) << lost.join(',').toStdString(); // "report" has no kind, "caf\xe9" no name
}

TEST_F(KPFileImportTest, NewFolderAndNewTagsAreReportedInOrder)
{
    const QString a = write(QStringLiteral("a.pdf"));
    store->tagsToReport = {QStringLiteral("tag-ref")};
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{a}}, {NewFolderName, QStringLiteral("Scans")}, {DoNewFolderAction, false},
                     {DBNode, QStringLiteral("target")}})));
    EXPECT_EQ(store->flatFolderName, QStringLiteral("Scans"));
    EXPECT_EQ(store->flatTarget.toString(), QStringLiteral("target"));
    EXPECT_EQ(log.order.mid(log.order.size() - 2), QStringList({NewTagNotification, SaveDataBaseFinished}));
    const QVariantMap finished = log.last();
    EXPECT_EQ(finished.value(NewNode).toString(), QStringLiteral("Scans"));
    EXPECT_EQ(finished.value(DBNode).toString(), QStringLiteral("target"));
    EXPECT_TRUE(finished.value(DoNewFolderAction).toBool()) << "present whenever the options hold the key";
    EXPECT_EQ(log.newTags, QVariantList{QVariant(QVariantList{QStringLiteral("tag-ref")})});
}

TEST_F(KPFileImportTest, TenThousandFilesAllArrive)
{
    // Thumbnails are encoded and flushed one by one, which is not what this test is about.
    KPImportFileWorker::setThumbFunctionForTesting([](const KPLibraryFileManager&, const QString&, const QImage&) {
        return platform::Result<QString>(std::unexpected(platform::Error::posix(ENOSPC, QStringLiteral("thumbnail"))));
    });
    constexpr int kFiles = 10000;
    QDir().mkpath(src(QStringLiteral("many")));
    for (int i = 0; i < kFiles; ++i) {
        QFile f(src(QStringLiteral("many/f%1.txt").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    const auto noThumbSeam = qScopeGuard([] { KPImportFileWorker::setThumbFunctionForTesting(nullptr); });
    // Generous: ten thousand verified copies on a machine busy with other builds.
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{src(QStringLiteral("many"))}}}), 240000));
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), kFiles);
    EXPECT_EQ(dayFolderNames().size(), kFiles);
    EXPECT_TRUE(log.last().value(LostFiles).toStringList().isEmpty()) << "no thumbnail is no reason to lose a file";
    ASSERT_EQ(store->flatRecords.size(), kFiles);
    EXPECT_FALSE(store->flatRecords.first().toMap().contains(Thumb));
}

namespace {

// A store that notes, when asked to store, which items of the library had been synced by then.
class SyncWatchingStore : public RecordingStore {
public:
    std::mutex syncMutex;
    QStringList synced;
    QStringList syncedAtStore;
    QString failAt;

    SyncWatchingStore()
    {
        KPLibraryFileManager::setSyncFunctionForTesting([this](int fd, const QString& path) {
            std::lock_guard lock(syncMutex);
            synced.append(path);
            if (path == failAt) {
                errno = EIO;
                return -1;
            }
            return ::fsync(fd);
        });
    }
    ~SyncWatchingStore() override { KPLibraryFileManager::setSyncFunctionForTesting(nullptr); }

    Outcome storeFlat(const QVariantList& records, const QVariant& target, const QString& folderName,
                      const std::function<bool()>& cancelled) override
    {
        {
            std::lock_guard lock(syncMutex);
            syncedAtStore = synced;
        }
        return RecordingStore::storeFlat(records, target, folderName, cancelled);
    }
};

} // namespace

TEST_F(KPFileImportTest, EveryCopyAndThumbnailIsSyncedWithItsFoldersBeforeItsRecordIsStoredAndNothingElse)
{
    const QString a = write(QStringLiteral("a.pdf"), "pdf bytes");
    const QString b = write(QStringLiteral("b.txt"), "some text");
    write(QStringLiteral("doc.rtfd/TXT.rtf"), "rich");
    auto watching = std::make_shared<SyncWatchingStore>();
    store = watching;
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{a, b, src(QStringLiteral("doc.rtfd"))}}})));
    ASSERT_EQ(log.last().value(SuccessCount).toInt(), 3);

    QSet<QString> expected{library->dayFolder().chopped(1), library->documentsFolder(), library->thumbFolder(),
                           libraryPath, library->dayFolder() + QStringLiteral("doc.rtfd/TXT.rtf")};
    for (const QVariant& r : store->flatRecords) {
        const QVariantMap record = r.toMap();
        expected.insert(libraryPath + record.value(Path).toString());
        ASSERT_FALSE(record.value(Thumb).toString().isEmpty());
        expected.insert(libraryPath + record.value(Thumb).toString());
    }
    EXPECT_EQ(expected.size(), 11);
    // Every copy, every thumbnail and the folders naming them were on disk before the store was
    // asked; nothing else of the disk was flushed (the sources, other programs' files).
    EXPECT_EQ(setOf(watching->syncedAtStore), expected) << qPrintable(watching->syncedAtStore.join(QLatin1Char('\n')));
    EXPECT_EQ(setOf(watching->synced), expected);
}

TEST_F(KPFileImportTest, ACopyThatCannotBeSyncedKeepsEveryRecordOutAndLeavesNoCopies)
{
    const QString a = write(QStringLiteral("a.pdf"), "pdf bytes");
    const QString b = write(QStringLiteral("b.txt"), "some text");
    auto watching = std::make_shared<SyncWatchingStore>();
    watching->failAt = library->dayFolder() + QStringLiteral("b.txt");
    store = watching;
    ASSERT_TRUE(run(queue, flat({{Paths, QStringList{a, b}}, {CMD, true}})));
    EXPECT_EQ(store->calls, 0) << "nothing may name a copy that might not be on disk";
    EXPECT_EQ(log.last().value(SuccessCount).toInt(), 0);
    EXPECT_TRUE(log.last().value(SaveError).toString().contains(QStringLiteral("b.txt")))
        << qPrintable(log.last().value(SaveError).toString());
    EXPECT_TRUE(QFileInfo::exists(a));
    EXPECT_TRUE(QFileInfo::exists(b));
    EXPECT_TRUE(dayFolderNames().isEmpty());
    EXPECT_EQ(thumbnailCount(), 0);
}

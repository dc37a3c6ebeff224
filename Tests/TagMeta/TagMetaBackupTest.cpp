#include "TagMetaFixture.h"

#include "Platform/Foundation/PropertyList.h"
#include "TagMeta/TagMetaBackupOperation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <utime.h>

namespace {

class TagMetaBackupTest : public TagMetaFixture {
protected:
    QString backupRoot() const { return TagMetaBackup::backupFolder(); }

    // A backup of the file as it is now, the way the worker writes it.
    QString backUp(const QString& file)
    {
        TagMetaBackup::backupMetadataNow(file);
        return TagMetaBackup::backupPathForItem(file);
    }

    void stripAttributes(const QString& file)
    {
        for (const QString& name : names(file))
            platform::XAttr::remove(file, name);
    }

    void setFileTime(const QString& file, const QString& key, const QDateTime& when)
    {
        ASSERT_TRUE(TagMeta::setXAttr(when, TagMeta::tagmetaTimeKey(key), file));
    }
};

} // namespace

TEST_F(TagMetaBackupTest, NamesAndHashesFollowTheStoredFormula)
{
    EXPECT_EQ(TagMetaBackup::hashString(QStringLiteral("abc")), QStringLiteral("26499"));
    EXPECT_EQ(TagMetaBackup::hashString(QStringLiteral("é")), QStringLiteral("24897")); // decomposed, bytes signed
    EXPECT_EQ(TagMetaBackup::hashString(QStringLiteral("e\u0301")), QStringLiteral("24897"));
    EXPECT_EQ(TagMetaBackup::hashString(QString()), QStringLiteral("0"));
    EXPECT_EQ(TagMetaBackup::calculateBackupFileName(QStringLiteral("/Users/a/Documents/Report.pdf")),
              QStringLiteral("Report.pdf__110418646__228794995.tmback"));
    EXPECT_EQ(TagMetaBackup::backupPathForMonthsBeforeNow(0), backupRoot() + QStringLiteral("/2024/3"));

    const QString forty(40, QLatin1Char('n'));
    EXPECT_EQ(TagMetaBackup::truncatedPathComponent(forty), forty);
    const QString fortyOne = QString(20, QLatin1Char('a')) + QLatin1Char('M') + QString(20, QLatin1Char('z'));
    EXPECT_EQ(TagMetaBackup::truncatedPathComponent(fortyOne), QString(20, QLatin1Char('a')) + QString(20, QLatin1Char('z')));
}

TEST_F(TagMetaBackupTest, ShortenedNamesNeverSplitASurrogatePair)
{
    const QString emoji = QStringLiteral("\U0001F600");
    // One pair straddles the end of the first 20 units, the other the start of the last 20.
    const QString name = QString(19, QLatin1Char('a')) + emoji + QString(10, QLatin1Char('b')) + emoji
        + QString(15, QLatin1Char('c')) + QStringLiteral(".pdf");
    ASSERT_TRUE(name.at(19).isHighSurrogate());
    ASSERT_TRUE(name.at(name.size() - 20).isLowSurrogate());
    const QString shortened = TagMetaBackup::truncatedPathComponent(name);
    for (qsizetype i = 0; i < shortened.size(); ++i) {
        if (shortened.at(i).isHighSurrogate())
            EXPECT_TRUE(i + 1 < shortened.size() && shortened.at(++i).isLowSurrogate()) << i;
        else
            EXPECT_FALSE(shortened.at(i).isLowSurrogate()) << i;
    }
    EXPECT_LE(shortened.size(), 40);

    const QString file = makeFile(name);
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("x")}, file));
    const QString backup = backUp(file);
    EXPECT_TRUE(QFileInfo::exists(backup)) << backup.toStdString();
}

TEST_F(TagMetaBackupTest, MonthFoldersCountBackAcrossYears)
{
    EXPECT_TRUE(TagMetaBackup::backupPathForMonthsBeforeNow(3).endsWith(QStringLiteral("/2023/12")));
    EXPECT_TRUE(TagMetaBackup::backupPathForMonthsBeforeNow(14).endsWith(QStringLiteral("/2023/1")));
    EXPECT_TRUE(TagMetaBackup::backupPathForMonthsBeforeNow(15).endsWith(QStringLiteral("/2022/12")));
    EXPECT_TRUE(TagMetaBackup::backupPathForMonthsBeforeNow(26).endsWith(QStringLiteral("/2022/1")));
    setNow(QDateTime(QDate(2025, 1, 15), QTime(12, 0), Qt::UTC));
    EXPECT_TRUE(TagMetaBackup::backupPathForMonthsBeforeNow(12).endsWith(QStringLiteral("/2024/1")));
    EXPECT_TRUE(TagMetaBackup::backupPathForMonthsBeforeNow(1).endsWith(QStringLiteral("/2024/12")));
}

TEST_F(TagMetaBackupTest, OldBackupFolderIsMovedOnceAndLinked)
{
    const QString oldFolder = QFileInfo(backupRoot()).path() + QStringLiteral("/backups");
    testsupport::writeFile(oldFolder + QStringLiteral("/2020/5/old.tmback"), "keep me");
    TagMetaBackup::backupPathForMonthsBeforeNow(0);
    EXPECT_EQ(testsupport::readFile(backupRoot() + QStringLiteral("/2020/5/old.tmback")), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(oldFolder).isSymLink());
    EXPECT_EQ(QFileInfo(oldFolder).symLinkTarget(), backupRoot());
}

TEST_F(TagMetaBackupTest, QuickWritesCoalesceIntoOneBackupWrittenAtShutdown)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("one")}, file));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("two")}, file));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("three")}, file));
    EXPECT_EQ(TagMetaBackup::pendingBackupCount(), 1);
    EXPECT_TRUE(TagMetaBackup::tagMetaThreadIsBusy());

    drainBackups();
    EXPECT_FALSE(TagMetaBackup::backupThreadIsBusy());
    EXPECT_EQ(TagMetaBackup::backupFilesWritten(), 1u);
    const auto record = platform::PropertyList::readFile(TagMetaBackup::backupPathForItem(file))->toMap();
    EXPECT_EQ(record.value(QStringLiteral("bu_path")).toString(), file);
    EXPECT_EQ(record.value(QStringLiteral("bu_date")).toDateTime(), current);
    EXPECT_FALSE(record.value(QStringLiteral("bu_alias")).toByteArray().isEmpty());
    const QVariantMap omDict = record.value(QStringLiteral("omDict")).toMap();
    EXPECT_EQ(omDict.value(QStringLiteral("com.apple.metadata:kMDItemTMUserTags")).toStringList(),
              QStringList{QStringLiteral("three")});
    EXPECT_EQ(omDict.size(), 7); // the Spotlight copy of the old key is not backed up
}

TEST_F(TagMetaBackupTest, WorkerCoalescesOnItsOwnWithTheRealDelays)
{
    TagMetaBackup::resetForTesting();
    const QString file = makeFile(QStringLiteral("a.pdf"));
    const QString other = makeFile(QStringLiteral("b.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("x")}, file));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("y")}, other));
    ASSERT_TRUE(testsupport::spinUntil([] { return !TagMetaBackup::backupThreadIsBusy(); }));
    EXPECT_TRUE(QFileInfo::exists(TagMetaBackup::backupPathForItem(file)));
    EXPECT_TRUE(QFileInfo::exists(TagMetaBackup::backupPathForItem(other)));
}

TEST_F(TagMetaBackupTest, MarkerFileLetsOnlyTheFirstRequestOfTheRunThrough)
{
    QDir().mkpath(TagMetaBackup::backupPathForMonthsBeforeNow(0));
    testsupport::writeFile(backupRoot() + QLatin1Char('/') + TagMetaBackup::kNoBackupsMarker, "");
    const QString first = makeFile(QStringLiteral("first.pdf"));
    const QString second = makeFile(QStringLiteral("second.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("x")}, first));
    EXPECT_FALSE(TagMetaBackup::backupsEnabled());
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("y")}, second));
    EXPECT_EQ(TagMetaBackup::pendingBackupCount(), 1);
    drainBackups();
    EXPECT_TRUE(QFileInfo::exists(TagMetaBackup::backupPathForItem(first)));
    EXPECT_FALSE(QFileInfo::exists(TagMetaBackup::backupPathForItem(second)));
}

TEST_F(TagMetaBackupTest, ReadingTheRatingRestoresALostCopy)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("Work")}, file));
    ASSERT_TRUE(TagMeta::setRating(4, file));
    backUp(file);
    stripAttributes(file); // rewritten by a program that drops attributes

    EXPECT_EQ(TagMeta::getRating(file), 4.0);
    EXPECT_EQ(TagMeta::getUserTags(file), QStringList{QStringLiteral("Work")});
    EXPECT_TRUE(TagMetaBackup::hasTagsOrRatingsSet(file));
}

TEST_F(TagMetaBackupTest, FileWithATimeStampIsNeverRestored)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("old")}, file));
    backUp(file);
    stripAttributes(file);
    setFileTime(file, TagMeta::kMDItemTMUserTags, current);
    // Even a stamp in a form we cannot read marks the file as tagged by someone.
    const QString garbled = makeFile(QStringLiteral("b.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("old")}, garbled));
    backUp(garbled);
    stripAttributes(garbled);
    platform::XAttr::set(garbled, QStringLiteral("org.tagmetainfo.time:kMDItemStarRating"), "garbage");

    TagMeta::getRating(file);
    TagMeta::getRating(garbled);
    EXPECT_FALSE(TagMeta::getUserTags(file).has_value());
    EXPECT_FALSE(TagMeta::getUserTags(garbled).has_value());
}

TEST_F(TagMetaBackupTest, AliasDecidesBetweenTheRecordedPathAndAMovedFile)
{
    const QString original = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("mine")}, original));
    const QString backup = backUp(original);
    stripAttributes(original);

    // The tagged file was renamed and an unrelated file took its name: the recorded path
    // matches, the alias leads elsewhere, so the newcomer gets nothing.
    const QString moved = dir + QStringLiteral("/renamed.pdf");
    ASSERT_TRUE(QFile::rename(original, moved));
    makeFile(QStringLiteral("a.pdf"), "another document");
    EXPECT_FALSE(TagMetaBackup::restoreMetadataFromBackupFile(backup, original, 0.0));
    EXPECT_TRUE(names(original).isEmpty());
    EXPECT_EQ(TagMetaBackup::resolveAliasDataToPathFileIDFirst(
                  platform::PropertyList::readFile(backup)->toMap().value(QStringLiteral("bu_alias")).toByteArray()),
              moved);

    // The moved file itself, having lost its attributes, is found through the alias.
    EXPECT_TRUE(TagMetaBackup::restoreMetadataFromBackupFile(backup, moved, 0.0));
    EXPECT_EQ(TagMeta::getUserTags(moved), QStringList{QStringLiteral("mine")});
}

TEST_F(TagMetaBackupTest, BackupOlderThanTheMovedFileEndsTheSearchWithoutWriting)
{
    const QString original = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("mine")}, original));
    const QString backup = backUp(original);
    const QString moved = dir + QStringLiteral("/b.pdf");
    ASSERT_TRUE(QFile::rename(original, moved));
    stripAttributes(moved);
    struct utimbuf old {946684800, 946684800}; // 2000-01-01, before any file here was born
    ASSERT_EQ(::utime(QFile::encodeName(backup).constData(), &old), 0);

    EXPECT_TRUE(TagMetaBackup::restoreMetadataFromBackupFile(backup, moved, 0.0));
    EXPECT_TRUE(names(moved).isEmpty());

    int status = 0;
    EXPECT_TRUE(TagMetaBackup::resolveAliasDataToPathFileIDFirst("not an alias", &status).isEmpty());
    EXPECT_EQ(status, -50);
}

TEST_F(TagMetaBackupTest, TimeStampsDecideWhichValueWins)
{
    const QString rating = TagMeta::tagmetaKey(TagMeta::kMDItemStarRating);
    const QString ratingTime = TagMeta::tagmetaTimeKey(TagMeta::kMDItemStarRating);
    const QString ratingCopy = TagMeta::spotlightKey(TagMeta::kMDItemStarRating);
    auto recordWith = [&](double value, const QDateTime& when) {
        return QVariantMap{{QStringLiteral("omDict"),
                            QVariantMap{{rating, value}, {ratingTime, when}, {ratingCopy, value}}}};
    };
    const QString file = makeFile(QStringLiteral("a.pdf"));
    auto fileWith = [&](double value) {
        ASSERT_TRUE(TagMeta::setXAttr(value, rating, file));
        ASSERT_TRUE(TagMeta::setXAttr(current, ratingTime, file));
    };

    fileWith(2.0);
    EXPECT_EQ(TagMetaBackup::restoreMetadataDict(recordWith(4.0, current.addMSecs(1500)), file), 0);
    EXPECT_EQ(value(file, rating), QVariant(2.0)) << "the same change must not overwrite";

    ASSERT_TRUE(platform::XAttr::remove(file, rating));
    EXPECT_EQ(TagMetaBackup::restoreMetadataDict(recordWith(4.0, current.addMSecs(-1500)), file), 1);
    EXPECT_EQ(value(file, rating), QVariant(4.0)) << "a missing value of the same change is put back";

    fileWith(2.0);
    EXPECT_EQ(TagMetaBackup::restoreMetadataDict(recordWith(4.0, current.addSecs(3)), file), 1);
    EXPECT_EQ(value(file, rating), QVariant(4.0));
    EXPECT_EQ(value(file, ratingCopy), QVariant(4.0));
    EXPECT_EQ(value(file, ratingTime).toDateTime(), current.addSecs(3));

    fileWith(2.0);
    EXPECT_EQ(TagMetaBackup::restoreMetadataDict(recordWith(4.0, current.addSecs(-3)), file), 0);
    EXPECT_EQ(value(file, rating), QVariant(2.0));
}

TEST_F(TagMetaBackupTest, OldTagKeyIsCarriedOverOnRestoreAndOnRead)
{
    const QVariantList tags{QStringLiteral("legacy")};
    const QVariantMap record{{QStringLiteral("omDict"),
                              QVariantMap{{QStringLiteral("org.tagmetainfo:kTMUserTags"), tags},
                                          {QStringLiteral("com.apple.metadata:kTMUserTags"), tags}}}};
    const QString file = makeFile(QStringLiteral("a.pdf"));
    EXPECT_EQ(TagMetaBackup::restoreMetadataDict(record, file), 1);
    EXPECT_EQ(value(file, QStringLiteral("org.tagmetainfo:kMDItemTMUserTags")), QVariant(tags));
    EXPECT_EQ(value(file, QStringLiteral("com.apple.metadata:kMDItemTMUserTags")), QVariant(tags));
    EXPECT_EQ(TagMetaBackup::restoreMetadataDict(record, file), 0) << "a present new key is kept";

    // Another program wrote the old key later than our tags: the read takes them over.
    const QString other = makeFile(QStringLiteral("b.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("ours")}, other));
    ASSERT_TRUE(TagMeta::setXAttr(tags, QStringLiteral("org.tagmetainfo:kTMUserTags"), other));
    ASSERT_TRUE(TagMeta::setXAttr(current.addSecs(1), QStringLiteral("org.tagmetainfo.time:kTMUserTags"), other));
    EXPECT_EQ(TagMeta::getUserTags(other), QStringList{QStringLiteral("ours")}) << "1 s is the same change";
    ASSERT_TRUE(TagMeta::setXAttr(current.addSecs(3), QStringLiteral("org.tagmetainfo.time:kTMUserTags"), other));
    EXPECT_EQ(TagMeta::getUserTags(other), QStringList{QStringLiteral("legacy")});
    EXPECT_EQ(value(other, QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags")).toDateTime(), current.addSecs(3));
}

TEST_F(TagMetaBackupTest, DamagedBackupsAreSkipped)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    const QString backup = TagMetaBackup::backupPathForItem(file);
    testsupport::writeFile(backup, "<plist><dict><key>omDict");
    EXPECT_FALSE(TagMetaBackup::restoreMetadataFromBackupFile(backup, file, 0.0));
    testsupport::writeFile(backup, platform::PropertyList::write(QVariantList{1, 2}, platform::PlistFormat::Xml).value());
    EXPECT_FALSE(TagMetaBackup::restoreMetadataFromBackupFile(backup, file, 0.0));
    const QVariantMap wrongTypes{{QStringLiteral("omDict"), QStringLiteral("not a dictionary")},
                                 {QStringLiteral("bu_path"), file},
                                 {QStringLiteral("bu_alias"), 17}};
    EXPECT_EQ(TagMetaBackup::restoreMetadataDict(wrongTypes, file), 0);
    EXPECT_EQ(TagMetaBackup::restoreMetadataFromBackupDictIfNeeded(wrongTypes), 0);
    TagMeta::getRating(file);
    EXPECT_TRUE(names(file).isEmpty());
}

TEST_F(TagMetaBackupTest, SearchByNameNeverHandsTagsToAnUnrelatedNamesake)
{
    const QString tagged = makeFile(QStringLiteral("old/Report.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("private")}, tagged));
    backUp(tagged);
    const QString namesake = makeFile(QStringLiteral("new/Report.pdf"), "someone else's report");

    TagMetaBackup::restoreMetadata(namesake); // exact backup name only: differs by folder hash
    EXPECT_TRUE(names(namesake).isEmpty());
    TagMetaBackup::restoreMetadata(namesake, 0.001); // the search by name finds the other's backup
    EXPECT_TRUE(names(namesake).isEmpty());
    EXPECT_EQ(TagMetaBackup::cachedContentsOfDirectoryAtPath(TagMetaBackup::backupPathForMonthsBeforeNow(0)).size(), 1);
}

TEST_F(TagMetaBackupTest, RestoreAllReportsWhatItRestored)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setRating(3, file));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("x")}, file));
    backUp(file);
    stripAttributes(file);
    EXPECT_TRUE(TagMetaBackup::backupDictsTheSame(
        {{QStringLiteral("t"), current}}, {{QStringLiteral("t"), current.addSecs(2)}}));
    EXPECT_FALSE(TagMetaBackup::backupDictsTheSame(
        {{QStringLiteral("t"), current}}, {{QStringLiteral("t"), current.addSecs(3)}}));

    QString title, message;
    TagMetaBackup::setReportPresenter([&](const QString& t, const QString& m) { title = t; message = m; });
    TagMetaBackup::restoreAllMetadataOnBackgroundThread(true);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !TagMetaBackup::restoreThreadIsBusy(); }));
    TagMetaBackup::setReportPresenter({});
    EXPECT_EQ(title, QStringLiteral("Open Meta Restore Done"));
    // Attributes written: the rating, the tag time and the tags (the old key was already carried).
    EXPECT_EQ(message, QStringLiteral("3 files had meta data such as tags and ratings restored."));
    EXPECT_EQ(TagMeta::getUserTags(file), QStringList{QStringLiteral("x")});
    EXPECT_EQ(TagMetaBackup::restoreAllMetadata(false), 0) << "nothing left to restore";
}

TEST_F(TagMetaBackupTest, RepairThreadEndsWhenItsQueryCannotRun)
{
    TagMetaBackup::startLiveRepairThread();
    ASSERT_TRUE(testsupport::spinUntil([] { return !TagMetaBackup::liveRepairThreadIsRunning(); }));
    TagMetaBackup::stopLiveRepairThread();
}

TEST_F(TagMetaBackupTest, ASingleFileBackupLeavesOutOnlyWhatXmlCannotCarry)
{
    // Linux file names may hold control characters, which an XML property list cannot.
    const QString odd = makeFile(QStringLiteral("files/odd\x01name.pdf"));
    const QString plain = makeFile(QStringLiteral("files/plain.pdf"));
    for (const QString& file : {odd, plain})
        ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("Work")}, file));

    TagMetaBackupOperation operation;
    operation.writeFile = true;
    operation.singleFile = dir + QStringLiteral("/all.plist");
    operation.searchScopes = {dir + QStringLiteral("/files")};
    operation.writeSingleFile();
    EXPECT_TRUE(operation.returnDict.value(QStringLiteral("worked")).toBool());
    const auto stored = platform::PropertyList::readFile(operation.singleFile);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->toMap().keys(), QStringList{plain});
}

// A file that leaves for good takes every month's backup of it along; backups of other files,
// also one stored under the same name, stay.
TEST_F(TagMetaBackupTest, ARemovedFileTakesEveryBackupOfItAlongAndNoOtherFilesBackup)
{
    QDir().mkpath(dir + QStringLiteral("/library"));
    QDir().mkpath(dir + QStringLiteral("/elsewhere"));
    const QString leaving = makeFile(QStringLiteral("library/report.pdf"));
    const QString namesake = makeFile(QStringLiteral("elsewhere/report.pdf"));
    for (const QString& file : {leaving, namesake})
        ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("private")}, file));
    setNow(QDateTime(QDate(2023, 12, 2), QTime(9, 0), Qt::UTC));
    const QString december = backUp(leaving);
    setNow(QDateTime(QDate(2024, 3, 15), QTime(12, 0), Qt::UTC));
    const QString march = backUp(leaving);
    const QString other = backUp(namesake);
    ASSERT_NE(december, march);
    ASSERT_TRUE(QFileInfo::exists(december) && QFileInfo::exists(march) && QFileInfo::exists(other));
    // Another file's record under the leaving file's name, as a collision of the name's hashes
    // would put it there.
    const QString collision = TagMetaBackup::backupPathForMonthsBeforeNow(1) + QLatin1Char('/')
        + TagMetaBackup::calculateBackupFileName(leaving);
    QDir().mkpath(QFileInfo(collision).path());
    ASSERT_TRUE(QFile::copy(other, collision));

    EXPECT_EQ(TagMetaBackup::removeBackupsOfFiles({leaving, QString()}), QStringList());

    EXPECT_FALSE(QFileInfo::exists(december));
    EXPECT_FALSE(QFileInfo::exists(march));
    EXPECT_TRUE(QFileInfo::exists(other));
    EXPECT_TRUE(QFileInfo::exists(collision)) << "it names another file";
    EXPECT_TRUE(TagMetaBackup::removeBackupsOfFiles({namesake + QStringLiteral(".gone")}).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(other));
}

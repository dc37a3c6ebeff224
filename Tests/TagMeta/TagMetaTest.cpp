#include "TagMetaFixture.h"

#include "Platform/Foundation/PropertyList.h"
#include "TagMeta/KPSetFinderComment.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const QString kCafeNFD = QStringLiteral("Cafe\u0301");

QStringList list(const QVariant& value)
{
    return value.toStringList();
}

// A tag list whose binary property list is exactly `size` bytes, found by probing the encoder
// the writes use: the limit is measured on that encoder's output.
QStringList tagsEncodingTo(qsizetype size)
{
    for (int first = 1; first < 4200; ++first) {
        for (int second = 0; second < 3; ++second) {
            QVariantList tags{QString(first, QLatin1Char('a'))};
            if (second > 0)
                tags.append(QString(second, QLatin1Char('b')));
            const auto bytes = platform::PropertyList::write(tags, platform::PlistFormat::Binary);
            if (bytes && bytes->size() == size) {
                QStringList strings;
                for (const QVariant& v : tags)
                    strings.append(v.toString());
                return strings;
            }
        }
    }
    ADD_FAILURE() << "no tag list encodes to " << size << " bytes";
    return {};
}

class TagMetaTest : public TagMetaFixture {};

} // namespace

TEST_F(TagMetaTest, UserTagsAreDecomposedDeduplicatedAndWrittenToEightAttributes)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("Work"), QStringLiteral("work"), QStringLiteral("Café")}, file));

    const QSet<QString> expected{
        QStringLiteral("org.tagmetainfo:kMDItemTMUserTagTime"), QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTagTime"),
        QStringLiteral("com.apple.metadata:kMDItemTMUserTagTime"), QStringLiteral("com.apple.metadata:kTMUserTags"),
        QStringLiteral("org.tagmetainfo:kTMUserTags"), QStringLiteral("org.tagmetainfo:kMDItemTMUserTags"),
        QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags"), QStringLiteral("com.apple.metadata:kMDItemTMUserTags")};
    EXPECT_EQ(names(file), expected);

    const QStringList clean{QStringLiteral("Work"), kCafeNFD};
    EXPECT_EQ(TagMeta::getUserTags(file), clean);
    EXPECT_EQ(list(value(file, QStringLiteral("org.tagmetainfo:kMDItemTMUserTags"))), clean);
    EXPECT_EQ(list(value(file, QStringLiteral("com.apple.metadata:kTMUserTags"))), clean);
    EXPECT_EQ(list(value(file, QStringLiteral("org.tagmetainfo:kTMUserTags"))), clean);
    EXPECT_EQ(value(file, QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags")).toDateTime(), current);
    // The value really is a binary property list, as other TagMeta programs expect.
    const QByteArray raw = backend->attributes(QFile::encodeName(file)).value("user.com.apple.metadata:kMDItemTMUserTags");
    EXPECT_TRUE(raw.startsWith("bplist00"));
}

TEST_F(TagMetaTest, EmptyListIsStoredAndBadListsWriteNothing)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList(), file));
    const auto stored = TagMeta::getUserTags(file);
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(stored->isEmpty());

    const QString other = makeFile(QStringLiteral("b.pdf"));
    for (const QVariant& bad : {QVariant(QVariantList{QStringLiteral("a"), 3}), QVariant(QStringLiteral("a")), QVariant()}) {
        const auto result = TagMeta::setUserTags(bad, other);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().domain, TagMeta::kErrorDomain);
        EXPECT_EQ(result.error().code, TagMeta::kErrorParameter);
        EXPECT_EQ(result.error().message, QStringLiteral("Open Meta parameter error"));
    }
    EXPECT_TRUE(names(other).isEmpty());

    // Paths that name no file faithfully are refused before anything is touched.
    EXPECT_EQ(TagMeta::setUserTags(QStringList{QStringLiteral("x")}, QString()).error().code, TagMeta::kErrorParameter);
    const QString loneSurrogate = dir + QStringLiteral("/a") + QChar(0xD800) + QStringLiteral(".pdf");
    EXPECT_EQ(TagMeta::setXAttr(1, QStringLiteral("org.tagmetainfo:x"), loneSurrogate).error().code, TagMeta::kErrorParameter);
    TagMeta::ErrorSlot error;
    EXPECT_FALSE(TagMeta::getXAttr(QStringLiteral("org.tagmetainfo:x"), loneSurrogate, &error).isValid());
    EXPECT_EQ(error->code, TagMeta::kErrorParameter);
}

TEST_F(TagMetaTest, ValueSizeLimitIsExactly4096EncodedBytes)
{
    const QString fits = makeFile(QStringLiteral("fits.pdf"));
    const QStringList tags4096 = tagsEncodingTo(4096);
    ASSERT_TRUE(TagMeta::setUserTags(tags4096, fits));
    EXPECT_EQ(TagMeta::getUserTags(fits), tags4096);

    const QString tooBig = makeFile(QStringLiteral("big.pdf"));
    const auto result = TagMeta::setUserTags(tagsEncodingTo(4097), tooBig);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, TagMeta::kErrorTooBig);
    // No tag value went out, but the time stamps did, and one of them asked for a backup.
    const QSet<QString> expected{QStringLiteral("org.tagmetainfo:kMDItemTMUserTagTime"),
                                 QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTagTime"),
                                 QStringLiteral("com.apple.metadata:kMDItemTMUserTagTime"),
                                 QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags")};
    EXPECT_EQ(names(tooBig), expected);
    EXPECT_EQ(TagMetaBackup::pendingBackupCount(), 2); // fits.pdf and big.pdf, once each
}

TEST_F(TagMetaTest, ReadsOfAbsentOrDamagedAttributes)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    TagMeta::ErrorSlot error = TagMeta::tagmetaError(42, QStringLiteral("sentinel"));
    EXPECT_FALSE(TagMeta::getUserTags(file, &error).has_value());
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, 42) << "an absent attribute must leave the error untouched";

    const QByteArray tagsName = platform::XAttr::systemName(QStringLiteral("com.apple.metadata:kMDItemTMUserTags"));
    const QByteArray path = QFile::encodeName(file);

    backend->set(path, tagsName, "certainly not a property list");
    error.reset();
    EXPECT_FALSE(TagMeta::getUserTags(file, &error).has_value());
    EXPECT_EQ(error->code, TagMeta::kErrorSerialize);

    backend->set(path, tagsName, platform::PropertyList::write(QStringLiteral("Work"), platform::PlistFormat::Binary).value());
    EXPECT_FALSE(TagMeta::getUserTags(file).has_value()) << "a text is no tag list";

    backend->set(path, tagsName,
                 platform::PropertyList::write(QVariantList{QStringLiteral("a"), 7, QVariantMap{}, QStringLiteral("b")},
                                               platform::PlistFormat::Binary).value());
    EXPECT_EQ(TagMeta::getUserTags(file), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));

    backend->set(path, tagsName, QByteArray(5000, 'x'));
    error.reset();
    EXPECT_FALSE(TagMeta::getUserTags(file, &error).has_value());
    EXPECT_TRUE(TagMeta::isPosixError(*error, ERANGE));
    EXPECT_EQ(error->message, TagMeta::errnoString(ERANGE));
    EXPECT_TRUE(error->message.startsWith(QStringLiteral("errno error: %1, ").arg(ERANGE)));

    const QByteArray ratingName = platform::XAttr::systemName(QStringLiteral("com.apple.metadata:kMDItemStarRating"));
    backend->set(path, ratingName, platform::PropertyList::write(QStringLiteral("5"), platform::PlistFormat::Binary).value());
    EXPECT_EQ(TagMeta::getRating(file), 0.0);
    backend->set(path, ratingName, platform::PropertyList::write(9.5, platform::PlistFormat::Binary).value());
    EXPECT_EQ(TagMeta::getRating(file), 5.0);
}

TEST_F(TagMetaTest, AddAndClearChangeOnlyWhatDiffers)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("work"), QStringLiteral("home")}, file));
    const QVariant stamp = value(file, QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags"));

    setNow(current.addSecs(60));
    ASSERT_TRUE(TagMeta::addUserTags(QStringList{QStringLiteral("WORK"), QStringLiteral("Home")}, file));
    EXPECT_EQ(value(file, QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags")), stamp) << "case variants wrote";
    ASSERT_TRUE(TagMeta::clearUserTags(QStringList{QStringLiteral("absent")}, file));
    EXPECT_EQ(value(file, QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags")), stamp);

    ASSERT_TRUE(TagMeta::addUserTags(QStringList{QStringLiteral("new")}, file));
    EXPECT_EQ(TagMeta::getUserTags(file), (QStringList{QStringLiteral("work"), QStringLiteral("home"), QStringLiteral("new")}));
    ASSERT_TRUE(TagMeta::clearUserTags(QStringList{QStringLiteral("WORK")}, file));
    EXPECT_EQ(TagMeta::getUserTags(file), (QStringList{QStringLiteral("home"), QStringLiteral("new")}));

    EXPECT_EQ(TagMeta::addUserTags(QVariantList{1}, file).error().code, TagMeta::kErrorParameter);
    EXPECT_EQ(TagMeta::clearUserTags(QStringLiteral("home"), file).error().code, TagMeta::kErrorParameter);
}

TEST_F(TagMetaTest, RatingIsClampedAndRemovedAtZero)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    ASSERT_TRUE(TagMeta::setRating(7, file));
    EXPECT_EQ(value(file, QStringLiteral("com.apple.metadata:kMDItemStarRating")), QVariant(5.0));
    EXPECT_EQ(TagMeta::getRating(file), 5.0);
    ASSERT_TRUE(TagMeta::setRating(2.5, file));
    EXPECT_EQ(TagMeta::getRating(file), 2.5);

    setNow(current.addSecs(10));
    ASSERT_TRUE(TagMeta::setRating(0, file));
    EXPECT_FALSE(names(file).contains(QStringLiteral("com.apple.metadata:kMDItemStarRating")));
    EXPECT_FALSE(names(file).contains(QStringLiteral("org.tagmetainfo:kMDItemStarRating")));
    EXPECT_EQ(value(file, QStringLiteral("org.tagmetainfo.time:kMDItemStarRating")).toDateTime(), current);
    EXPECT_EQ(TagMeta::getRating(file), 0.0);

    const QString unrated = makeFile(QStringLiteral("b.pdf"));
    const auto result = TagMeta::setRating(0, unrated);
    ASSERT_FALSE(result);
    EXPECT_TRUE(TagMeta::isPosixError(result.error(), ENODATA));
    EXPECT_TRUE(names(unrated).contains(QStringLiteral("org.tagmetainfo.time:kMDItemStarRating")));

    EXPECT_EQ(TagMeta::setRating(std::nan(""), unrated).error().code, TagMeta::kErrorParameter);
}

TEST_F(TagMetaTest, CommonTagsKeepTheFirstFilesSpellingAndOrder)
{
    const QString one = makeFile(QStringLiteral("1.pdf"));
    const QString two = makeFile(QStringLiteral("2.pdf"));
    const QString untagged = makeFile(QStringLiteral("3.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("A"), QStringLiteral("b")}, one));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("B"), QStringLiteral("c")}, two));
    EXPECT_EQ(TagMeta::getCommonUserTags({one, two}), QStringList{QStringLiteral("b")});
    EXPECT_TRUE(TagMeta::getCommonUserTags({one, untagged, two}).isEmpty());
    EXPECT_TRUE(TagMeta::getCommonUserTags({}).isEmpty());

    ASSERT_TRUE(TagMeta::setCommonUserTags({one, two}, {QStringLiteral("b")}, {QStringLiteral("x")}));
    EXPECT_EQ(TagMeta::getUserTags(one), (QStringList{QStringLiteral("A"), QStringLiteral("x")}));
    EXPECT_EQ(TagMeta::getUserTags(two), (QStringList{QStringLiteral("c"), QStringLiteral("x")}));

    QMap<QString, QString> dict{{QStringLiteral("x"), QStringLiteral("x")},
                                {QStringLiteral("y"), QStringLiteral("Y")},
                                {QStringLiteral("z"), QStringLiteral("Z")}};
    EXPECT_EQ(TagMeta::orderedArrayWithDict(dict, {QStringLiteral("X"), QStringLiteral("y")}),
              (QStringList{QStringLiteral("X"), QStringLiteral("y"), QStringLiteral("Z")}));
}

TEST_F(TagMetaTest, RefusedWritesAreErrorsAndQueueNoBackup)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    backend->setFailure(EACCES);
    const auto refused = TagMeta::setUserTags(QStringList{QStringLiteral("x")}, file);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(TagMeta::isPosixError(refused.error(), EACCES));
    EXPECT_EQ(TagMetaBackup::pendingBackupCount(), 0);
    EXPECT_FALSE(TagMetaBackup::backupThreadIsBusy());

    backend->setFailure(ENOTSUP);
    EXPECT_TRUE(TagMeta::isPosixError(TagMeta::setRating(3, file).error(), ENOTSUP));
}

TEST_F(TagMetaTest, FirstFailureOfAMultiAttributeWriteIsReportedAndTheRestStillWritten)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    // A full attribute block refuses one early copy; the later writes succeed.
    backend->refuse(platform::XAttr::systemName(QStringLiteral("com.apple.metadata:kTMUserTags")), ENOSPC);
    const auto result = TagMeta::setUserTags(QStringList{QStringLiteral("x")}, file);
    ASSERT_FALSE(result);
    EXPECT_TRUE(TagMeta::isPosixError(result.error(), ENOSPC));
    EXPECT_EQ(names(file).size(), 7);
    EXPECT_EQ(TagMeta::getUserTags(file), QStringList{QStringLiteral("x")});

    backend->refuse(platform::XAttr::systemName(QStringLiteral("org.tagmetainfo:kMDItemStarRating")), E2BIG);
    const auto rating = TagMeta::setXAttrMetaData(4.0, TagMeta::kMDItemStarRating, file);
    ASSERT_FALSE(rating);
    EXPECT_TRUE(TagMeta::isPosixError(rating.error(), E2BIG));
    EXPECT_EQ(TagMeta::getRating(file), 4.0) << "the Spotlight copy after the failure must still be written";
}

TEST_F(TagMetaTest, VanishedFileIsAnErrorWithoutBackup)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    QFile::remove(file);
    const auto result = TagMeta::setUserTags(QStringList{QStringLiteral("x")}, file);
    ASSERT_FALSE(result);
    EXPECT_TRUE(TagMeta::isPosixError(result.error(), ENOENT));
    TagMeta::ErrorSlot error;
    EXPECT_FALSE(TagMeta::getUserTags(file, &error).has_value());
    EXPECT_TRUE(TagMeta::isPosixError(*error, ENOENT));
    EXPECT_EQ(TagMetaBackup::pendingBackupCount(), 0);
}

TEST_F(TagMetaTest, FinderCommentIsStoredVerbatimWithoutAnyInterpretation)
{
    const QString file = makeFile(QStringLiteral("a \"quoted\" name.pdf"));
    const QString comment = QStringLiteral("\" end tell\ndo shell script \"rm -rf ~\"");
    ASSERT_TRUE(KPSetFinderComment::setFinderComment(comment, file));
    EXPECT_EQ(TagMeta::getString(TagMeta::kMDItemFinderComment, file), comment);
    EXPECT_FALSE(KPSetFinderComment::setFinderComment(QString(), file));
    EXPECT_TRUE(QFile::exists(file));
}

TEST_F(TagMetaTest, ArrayHelpersAppendOnlyMissingValues)
{
    const QString file = makeFile(QStringLiteral("a.pdf"));
    EXPECT_EQ(TagMeta::setNSArrayMetaData(QStringLiteral("x"), TagMeta::kMDItemTMBookmarks, file).error().code,
              TagMeta::kErrorParameter);
    ASSERT_TRUE(TagMeta::addToNSArrayMetaData({QStringLiteral("a")}, TagMeta::kMDItemTMBookmarks, file));
    const QVariant stamp = value(file, TagMeta::tagmetaTimeKey(TagMeta::kMDItemTMBookmarks));
    setNow(current.addSecs(5));
    ASSERT_TRUE(TagMeta::addToNSArrayMetaData({QStringLiteral("a")}, TagMeta::kMDItemTMBookmarks, file));
    EXPECT_EQ(value(file, TagMeta::tagmetaTimeKey(TagMeta::kMDItemTMBookmarks)), stamp);
    ASSERT_TRUE(TagMeta::addToNSArrayMetaData({QStringLiteral("b"), QStringLiteral("a")}, TagMeta::kMDItemTMBookmarks, file));
    EXPECT_EQ(TagMeta::getNSArrayMetaData(TagMeta::kMDItemTMBookmarks, file),
              (QVariantList{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST_F(TagMetaTest, SchemaFileIsWrittenAndRemovedAgain)
{
    TagMeta::registerOMAttributes({{TagMeta::kMDItemTMManaged, true}}, QStringLiteral("Folivo 2.app"));
    const QString path = TagMeta::schemaRegisterFolder() + QStringLiteral("/Folivo 2.app.tagmetaschema");
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(platform::PropertyList::readFile(path)->toMap().value(TagMeta::kMDItemTMManaged), QVariant(true));
    EXPECT_TRUE(testsupport::spinUntil([&] { return !QFile::exists(path); }));

    const QString elsewhere = makeFile(QStringLiteral("keep.tagmetaschema"));
    TagMeta::removeSchemaFile(elsewhere);
    EXPECT_TRUE(QFile::exists(elsewhere));
}

// ---- The real file system ------------------------------------------------------------------

class TagMetaRealFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TagMetaBackup::resetForTesting();
        dir = testsupport::makeTempDir(QStringLiteral("tagmeta-real"));
        TagMetaBackup::setBackupFolderForTesting(dir + QStringLiteral("/backups.noindex"));
        TagMetaBackup::setDelaysForTesting(std::chrono::hours(1), std::chrono::hours(1));
    }
    void TearDown() override
    {
        TagMetaBackup::resetForTesting();
        TagMetaBackup::setBackupFolderForTesting(QString());
    }
    QString dir;
};

TEST_F(TagMetaRealFileTest, TagsRoundTripOrTheRefusalIsReported)
{
    const QString file = dir + QStringLiteral("/real.pdf");
    testsupport::writeFile(file, "x");
    const auto written = TagMeta::setUserTags(QStringList{QStringLiteral("Work"), QStringLiteral("Café")}, file);
    if (!written) {
        // A file system without user attributes: the refusal must reach the caller.
        EXPECT_EQ(written.error().domain, TagMeta::posixError(ENOTSUP).domain);
        GTEST_SKIP() << "no user extended attributes here";
    }
    EXPECT_EQ(TagMeta::getUserTags(file), (QStringList{QStringLiteral("Work"), kCafeNFD}));
    char buffer[256];
    EXPECT_GT(::lgetxattr(QFile::encodeName(file).constData(), "user.org.tagmetainfo:kMDItemTMUserTags", buffer, sizeof buffer), 0);

    // ext4 keeps all of a file's attributes in about one block: a 4096-byte value does not fit
    // there and must come back as an error, never as a success that stored nothing.
    const auto big = TagMeta::setUserTags(tagsEncodingTo(4096), file);
    if (big)
        EXPECT_EQ(TagMeta::getUserTags(file), tagsEncodingTo(4096));
    else
        EXPECT_EQ(big.error().domain, TagMeta::posixError(ENOSPC).domain);
}

TEST_F(TagMetaRealFileTest, NamesThatAreNotUtf8AreNeverTouchedThroughAMangledPath)
{
    const QByteArray rawDir = QFile::encodeName(dir);
    const QByteArray rawName = rawDir + "/caf\xe9.pdf"; // Latin-1, not UTF-8
    const int fd = ::open(rawName.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QString decoded = QFile::decodeName(rawName);
    const auto result = TagMeta::setUserTags(QStringList{QStringLiteral("x")}, decoded);
    ASSERT_FALSE(result);
    EXPECT_EQ(::llistxattr(rawName.constData(), nullptr, 0), 0) << "the real file got attributes";
    ::unlink(rawName.constData()); // Qt's clean-up cannot name it
}

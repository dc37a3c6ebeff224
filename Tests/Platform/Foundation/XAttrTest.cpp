#include "Platform/Foundation/XAttr.h"

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/xattr.h>

using platform::FakeXAttrBackend;
using platform::XAttr;

namespace {

const QString TagsName = QStringLiteral("com.apple.metadata:_kMDItemUserTags");

class XAttrFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeXAttrBackend>();
        previous = XAttr::setBackend(fake);
        file = testsupport::makeTempDir(QStringLiteral("xattr")) + QStringLiteral("/doc.pdf");
        testsupport::writeFile(file, "pdf");
    }
    void TearDown() override { XAttr::setBackend(previous); }

    std::shared_ptr<FakeXAttrBackend> fake;
    std::shared_ptr<platform::XAttrBackend> previous;
    QString file;
};

class XAttrReal : public ::testing::Test {
protected:
    void SetUp() override
    {
        file = testsupport::makeTempDir(QStringLiteral("xattr")) + QStringLiteral("/doc.pdf");
        testsupport::writeFile(file, "pdf");
        const auto probe = XAttr::set(file, QStringLiteral("probe"), "1");
        if (!probe && XAttr::isNotSupported(probe.error()))
            GTEST_SKIP() << "the temporary file system refuses user extended attributes";
        ASSERT_TRUE(probe) << probe.error().toString().toStdString();
        ASSERT_TRUE(XAttr::remove(file, QStringLiteral("probe")));
    }
    QString file;
};

} // namespace

TEST_F(XAttrFake, NamesGainAndLoseTheUserPrefix)
{
    ASSERT_TRUE(XAttr::set(file, TagsName, "bplist00"));
    const auto stored = fake->attributes(QFile::encodeName(file));
    EXPECT_EQ(stored.keys(), QList<QByteArray>{"user.com.apple.metadata:_kMDItemUserTags"});
    EXPECT_EQ(*XAttr::get(file, TagsName), QByteArray("bplist00"));

    // Attributes of other namespaces exist but are not the program's.
    fake->set(QFile::encodeName(file), "security.selinux", "ctx");
    fake->set(QFile::encodeName(file), "user.", "empty-name");
    ASSERT_TRUE(XAttr::set(file, QString::fromUtf16(u"Étiquette"), "x"));
    EXPECT_EQ(*XAttr::list(file), (QStringList{TagsName, QString::fromUtf16(u"Étiquette")}));

    ASSERT_TRUE(XAttr::remove(file, TagsName));
    EXPECT_TRUE(XAttr::isMissing(XAttr::get(file, TagsName).error()));
    // An empty value is a value, not a missing attribute.
    ASSERT_TRUE(XAttr::set(file, QStringLiteral("rating"), QByteArray()));
    EXPECT_TRUE(XAttr::get(file, QStringLiteral("rating")).has_value());
}

TEST_F(XAttrFake, ValueSizeLimitIsExact)
{
    fake->setMaxValueSize(100, ENOSPC);
    ASSERT_TRUE(XAttr::set(file, TagsName, QByteArray(100, 'a')));
    const auto tooBig = XAttr::set(file, TagsName, QByteArray(101, 'b'));
    ASSERT_FALSE(tooBig);
    EXPECT_TRUE(XAttr::isTooLarge(tooBig.error()));
    EXPECT_TRUE(tooBig.error().message.contains(QStringLiteral("101 bytes")));
    // The refused write left the old value as it was.
    EXPECT_EQ(*XAttr::get(file, TagsName), QByteArray(100, 'a'));

    fake->setMaxValueSize(10, E2BIG);
    EXPECT_TRUE(XAttr::isTooLarge(XAttr::set(file, TagsName, QByteArray(11, 'c')).error()));
}

TEST_F(XAttrFake, RefusingFileSystemIsReportedAsSuch)
{
    fake->setFailure(ENOTSUP);
    const auto r = XAttr::set(file, TagsName, "x");
    ASSERT_FALSE(r);
    EXPECT_TRUE(XAttr::isNotSupported(r.error()));
    EXPECT_FALSE(XAttr::isMissing(r.error()));
    EXPECT_TRUE(r.error().message.contains(QStringLiteral("refuses user extended attributes")));
    EXPECT_TRUE(XAttr::isNotSupported(XAttr::list(file).error()));
    EXPECT_TRUE(XAttr::isNotSupported(XAttr::get(file, TagsName).error()));
}

TEST_F(XAttrFake, MissingFileIsNotAMissingAttribute)
{
    const QString gone = file + QStringLiteral(".gone");
    const auto r = XAttr::get(gone, TagsName);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, ENOENT);
    EXPECT_FALSE(XAttr::isMissing(r.error()));
    EXPECT_FALSE(XAttr::set(gone, TagsName, "x"));
    EXPECT_TRUE(XAttr::isMissing(XAttr::remove(file, TagsName).error()));
}

TEST_F(XAttrFake, BadNamesNeverReachTheFileSystem)
{
    EXPECT_EQ(XAttr::set(file, QString(), "x").error().code, EINVAL);
    EXPECT_EQ(XAttr::set(file, QStringLiteral("a") + QChar(0) + QStringLiteral("b"), "x").error().code, EINVAL);
    // "user." + 250 bytes is the longest name the kernel takes.
    EXPECT_TRUE(XAttr::set(file, QString(250, u'n'), "x"));
    const auto tooLong = XAttr::set(file, QString(251, u'n'), "x");
    ASSERT_FALSE(tooLong);
    EXPECT_TRUE(XAttr::isTooLarge(tooLong.error()));
    // Multi-byte characters count in bytes: 126 × "é" is 252 bytes.
    EXPECT_FALSE(XAttr::set(file, QString(126, QChar(0xE9)), "x"));
    EXPECT_EQ(fake->attributes(QFile::encodeName(file)).size(), 1);
}

TEST_F(XAttrReal, RoundTripOnDisk)
{
    const QByteArray value("\x00\x01binary\xff", 9);
    ASSERT_TRUE(XAttr::set(file, TagsName, value));
    EXPECT_EQ(*XAttr::get(file, TagsName), value);
    char raw[16] = {};
    EXPECT_EQ(::getxattr(QFile::encodeName(file).constData(), "user.com.apple.metadata:_kMDItemUserTags", raw, sizeof raw), 9);
    EXPECT_EQ(*XAttr::list(file), QStringList{TagsName});
    ASSERT_TRUE(XAttr::remove(file, TagsName));
    EXPECT_TRUE(XAttr::isMissing(XAttr::get(file, TagsName).error()));
    EXPECT_TRUE(XAttr::list(file)->isEmpty());
}

TEST_F(XAttrReal, OverTheKernelLimitIsTooLarge)
{
    const auto r = XAttr::set(file, TagsName, QByteArray(65537, 'v'));
    ASSERT_FALSE(r);
    EXPECT_TRUE(XAttr::isTooLarge(r.error())) << r.error().toString().toStdString();
}

TEST_F(XAttrReal, LinksAreNotFollowed)
{
    const QString link = file + QStringLiteral(".link");
    ASSERT_TRUE(QFile::link(file, link));
    ASSERT_TRUE(XAttr::set(file, TagsName, "target's"));
    // Linux keeps no user attributes on links; what matters is that the target is not used.
    EXPECT_FALSE(XAttr::get(link, TagsName).has_value());
    EXPECT_FALSE(XAttr::set(link, QStringLiteral("other"), "x"));
    EXPECT_EQ(*XAttr::list(file), QStringList{TagsName});
}

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Metadata/MetadataQuery.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QSet>
#include <gtest/gtest.h>
#include <unistd.h>

using platform::MetadataQuery;

namespace {

QSet<QString> attrs(std::initializer_list<const char*> keys)
{
    QSet<QString> set;
    for (const char* key : keys)
        set.insert(MetadataQuery::kAttributePrefix + QString::fromUtf8(key));
    return set;
}

class MetadataQueryWalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        backend = std::make_shared<platform::FakeXAttrBackend>();
        previous = platform::XAttr::setBackend(backend);
        dir = testsupport::makeTempDir(QStringLiteral("mdquery"));
    }
    void TearDown() override { platform::XAttr::setBackend(previous); }

    QString tagged(const QString& relative, const QString& key = QStringLiteral("kMDItemTMUserTags"))
    {
        const QString path = dir + QLatin1Char('/') + relative;
        testsupport::writeFile(path, "x");
        EXPECT_TRUE(platform::XAttr::set(path, MetadataQuery::kAttributePrefix + key, "v"));
        return path;
    }

    std::shared_ptr<platform::FakeXAttrBackend> backend;
    std::shared_ptr<platform::XAttrBackend> previous;
    QString dir;
};

} // namespace

TEST(MetadataQueryTest, OnlyPresenceTestsCanBeAnswered)
{
    for (const char* good : {"(kMDItemTMUserTags == *)", "kA == * || kB == *", "((kTMUserTags == *) && (kMDItemTMUserTags != *))",
                             "(a == \"*\") && (b != '*')"})
        EXPECT_TRUE(MetadataQuery::create(QString::fromUtf8(good))) << good;
    for (const char* bad : {"", "   ", "(kMDItemContentModificationDate > $time.now)", "(kMDItemCreator == '*Adobe*')",
                            "(a == *", "a == * ||", "a = *", "(a == *) garbage"})
        EXPECT_FALSE(MetadataQuery::create(QString::fromUtf8(bad))) << bad;
    const QString deep = QString(5000, QLatin1Char('(')) + QStringLiteral("a == *") + QString(5000, QLatin1Char(')'));
    EXPECT_FALSE(MetadataQuery::create(deep)) << "nesting is bounded, not a stack overflow";
}

TEST(MetadataQueryTest, AndBindsTighterThanOr)
{
    const auto query = MetadataQuery::create(QStringLiteral("a == * || b == * && c != *"));
    ASSERT_TRUE(query);
    EXPECT_TRUE(query->matchesAttributeNames(attrs({"a", "c"})));
    EXPECT_TRUE(query->matchesAttributeNames(attrs({"b"})));
    EXPECT_FALSE(query->matchesAttributeNames(attrs({"b", "c"})));
    EXPECT_FALSE(query->matchesAttributeNames({QStringLiteral("org.tagmetainfo:a")})) << "only the metadata copy counts";
    EXPECT_EQ(query->keys(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

TEST_F(MetadataQueryWalkTest, WalkFindsTaggedFilesButSkipsHiddenNoindexAndLinks)
{
    const QString top = tagged(QStringLiteral("top.pdf"));
    const QString deep = tagged(QStringLiteral("a/b/deep.pdf"));
    tagged(QStringLiteral(".hidden/in-hidden.pdf"));
    tagged(QStringLiteral("backups.noindex/2024/3/x.tmback"));
    tagged(QStringLiteral("other.pdf"), QStringLiteral("kMDItemStarRating"));
    testsupport::writeFile(dir + QStringLiteral("/plain.pdf"), "x");
    ASSERT_EQ(::symlink(QFile::encodeName(dir).constData(), QFile::encodeName(dir + QStringLiteral("/a/loop")).constData()), 0);

    auto query = MetadataQuery::create(QStringLiteral("(kMDItemTMUserTags == *)"));
    ASSERT_TRUE(query);
    query->setSearchScopes({dir});
    const auto found = query->execute();
    ASSERT_TRUE(found);
    EXPECT_EQ(QSet<QString>(found->begin(), found->end()), (QSet<QString>{top, deep}));
}

TEST_F(MetadataQueryWalkTest, BoundsAndFailures)
{
    for (int i = 0; i < 20; ++i)
        tagged(QStringLiteral("f%1.pdf").arg(i));
    auto query = MetadataQuery::create(QStringLiteral("kMDItemTMUserTags == *"));
    ASSERT_TRUE(query);
    query->setSearchScopes({dir});
    query->setMaxResultCount(5);
    EXPECT_EQ(query->execute()->size(), 5);
    query->setMaxResultCount(100);
    query->setMaxVisitedCount(3);
    EXPECT_LE(query->execute()->size(), 3);

    std::atomic<bool> cancel{true};
    EXPECT_TRUE(query->execute(&cancel)->isEmpty());

    query->setSearchScopes({dir + QStringLiteral("/absent")});
    const auto failed = query->execute();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, 2);

    backend->setFailure(ENOTSUP); // a file system without user attributes: no matches, no error
    query->setSearchScopes({dir});
    EXPECT_TRUE(query->execute()->isEmpty());
}

#include "MetadataFixtures.h"
#include "Platform/Metadata/RecentlyUsed.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

using platform::RecentlyUsed;

namespace {

QDateTime utc(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toUTC();
}

QByteArray xbel(const QList<std::pair<QString, QByteArray>>& bookmarks)
{
    QByteArray out = "<?xml version=\"1.0\"?>\n<xbel version=\"1.0\" xmlns:bookmark=\"urn:b\">\n";
    for (const auto& [path, times] : bookmarks)
        out += "<bookmark href=\"" + QUrl::fromLocalFile(path).toEncoded() + "\" " + times
            + "><info><metadata><bookmark:applications/></metadata></info></bookmark>\n";
    return out + "</xbel>\n";
}

class RecentlyUsedTest : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir(QStringLiteral("recent")); }
    void TearDown() override { QFile::remove(RecentlyUsed::defaultListPath()); }
    QString document(const QString& name)
    {
        testsupport::writeFile(dir + u'/' + name, "x");
        return dir + u'/' + name;
    }
    static void writeList(const QByteArray& bytes) { testsupport::writeFile(RecentlyUsed::defaultListPath(), bytes); }
    QString dir;
};

} // namespace

TEST_F(RecentlyUsedTest, LatestTimeOfTheFilesBookmark)
{
    const QString spaced = document(QStringLiteral("Résumé 2024 #1.pdf"));
    const QString other = document("other.pdf");
    writeList(xbel({{spaced, "added=\"2024-01-01T08:00:00Z\" modified=\"2024-03-02T10:15:30.123456Z\" "
                             "visited=\"2024-02-01T00:00:00Z\""},
                    {other, "added=\"2023-05-05T05:05:05Z\" visited=\"1970-01-01T00:00:00Z\""}}));
    ASSERT_TRUE(RecentlyUsed::defaultListPath().startsWith(testsupport::homeDir()));

    EXPECT_EQ(RecentlyUsed::lastUsedDate(spaced), utc("2024-03-02T10:15:30.123Z"));
    // The zero time means "never"; another spelling of the path finds the same file.
    EXPECT_EQ(RecentlyUsed::lastUsedDate(dir + "/./sub/../other.pdf"), utc("2023-05-05T05:05:05Z"));
    EXPECT_FALSE(RecentlyUsed::lastUsedDate(document("unlisted.pdf")).has_value());

    // A rewritten list is read again; a removed one names nothing.
    writeList(xbel({{other, "modified=\"2025-01-01T00:00:00Z\""}}));
    EXPECT_EQ(RecentlyUsed::lastUsedDate(other), utc("2025-01-01T00:00:00Z"));
    QFile::remove(RecentlyUsed::defaultListPath());
    EXPECT_FALSE(RecentlyUsed::lastUsedDate(other).has_value());
}

TEST_F(RecentlyUsedTest, DamagedListsKeepWhatWasReadAndInventNothing)
{
    const QString first = document("first.pdf");
    const QString second = document("second.pdf");
    const QByteArray whole = xbel({{first, "modified=\"2024-01-01T00:00:00Z\""},
                                   {second, "modified=\"2024-06-01T00:00:00Z\""}});
    writeList(whole.left(whole.indexOf("second.pdf") - 20));
    EXPECT_EQ(RecentlyUsed::lastUsedDate(first), utc("2024-01-01T00:00:00Z"));
    EXPECT_FALSE(RecentlyUsed::lastUsedDate(second).has_value());
    writeList("not xml at all \x01\x02");
    EXPECT_FALSE(RecentlyUsed::lastUsedDate(first).has_value());

    // Bad times and files of other hosts are left out.
    const auto table = RecentlyUsed::parse("<xbel><bookmark href=\"file:///a\" modified=\"yesterday\"/>"
                                           "<bookmark href=\"file://otherhost/c\" modified=\"2024-01-01T00:00:00Z\"/>"
                                           "<bookmark href=\"file:///d\" modified=\"2024-13-40T00:00:00Z\"/>"
                                           "<bookmark href=\"file://localhost/e\" modified=\"2024-01-01T00:00:00Z\"/>"
                                           "</xbel>");
    EXPECT_EQ(table.keys(), QStringList{"/e"});

    EXPECT_EQ(RecentlyUsed::parseTime(u"2024-03-02T12:15:30.5+02:00"), utc("2024-03-02T10:15:30.500Z"));
    EXPECT_EQ(RecentlyUsed::parseTime(u"2024-03-02T05:15:30-0500"), utc("2024-03-02T10:15:30Z"));
    EXPECT_FALSE(RecentlyUsed::parseTime(u"2024-03-02").isValid());
}

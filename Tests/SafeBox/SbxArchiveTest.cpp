// User attributes and creation dates through a box whose folder refuses user attributes (tmpfs
// before Linux 6.6): they go to the sidecar at attach, and the next seal reads them back.
#include "Platform/DiskImage/SafeBoxVolumeInfo.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "Support/TestSupport.h"

#include <QFile>

#include <cerrno>
#include <gtest/gtest.h>

using namespace platform::sbx;

namespace {

QByteArray archiveOf(const QString& root)
{
    QByteArray out;
    const auto written = writeArchive(QFile::encodeName(root), [&out](const char* data, qsizetype size) -> platform::Result<void> {
        out.append(data, size);
        return {};
    });
    EXPECT_TRUE(written.has_value());
    return out;
}

bool extract(const QByteArray& archive, const QString& root)
{
    qsizetype position = 0;
    const ArchiveRead read = [&](char* data, qsizetype size) -> platform::Result<void> {
        if (size > archive.size() - position)
            return std::unexpected(platform::Error{QStringLiteral("test"), 1, QStringLiteral("short")});
        memcpy(data, archive.constData() + position, size_t(size));
        position += size;
        return {};
    };
    return extractArchive(read, QFile::encodeName(root)).has_value();
}

class SbxArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { m_previous = platform::XAttr::setBackend(m_fake); }
    void TearDown() override { platform::XAttr::setBackend(m_previous); }

    std::shared_ptr<platform::FakeXAttrBackend> m_fake = std::make_shared<platform::FakeXAttrBackend>();
    std::shared_ptr<platform::XAttrBackend> m_previous;
};

} // namespace

TEST_F(SbxArchiveTest, AttributesSurviveAFolderThatRefusesThem)
{
    const QString source = testsupport::makeTempDir(QStringLiteral("src"));
    testsupport::writeFile(source + QStringLiteral("/Docs/a.pdf"), "a");
    const QString tags = QStringLiteral("com.apple.metadata:_kMDItemUserTags");
    ASSERT_TRUE(platform::XAttr::set(source + QStringLiteral("/Docs/a.pdf"), tags, "red"));
    ASSERT_TRUE(platform::XAttr::set(source + QStringLiteral("/Docs/a.pdf"), kBirthTimeAttribute, "1500000000000000000"));
    const QByteArray sealed = archiveOf(source);

    m_fake->setFailure(ENOTSUP);
    const QString open = testsupport::makeTempDir(QStringLiteral("open"));
    ASSERT_TRUE(extract(sealed, open));
    const Sidecar sidecar = readSidecar(QFile::encodeName(open));
    ASSERT_TRUE(sidecar.contains("Docs/a.pdf"));
    EXPECT_EQ(sidecar.value("Docs/a.pdf").attributes.value(tags), QByteArray("red"));
    EXPECT_EQ(sidecar.value("Docs/a.pdf").birthTimeNs, 1500000000000000000);

    // A tag written while the box is open lands in the sidecar too.
    testsupport::writeFile(open + QStringLiteral("/b.pdf"), "b");
    ASSERT_TRUE(platform::SafeBoxAttributes::setAttribute(open, open + QStringLiteral("/b.pdf"), tags, "blue"));
    EXPECT_FALSE(platform::SafeBoxAttributes::setAttribute(open, source + QStringLiteral("/Docs/a.pdf"), tags, "x"));

    // The next seal reads the sidecar back; a folder that takes attributes gets them as such.
    const QByteArray resealed = archiveOf(open);
    m_fake->setFailure(0);
    const QString again = testsupport::makeTempDir(QStringLiteral("again"));
    ASSERT_TRUE(extract(resealed, again));
    EXPECT_FALSE(QFile::exists(again + QStringLiteral("/.sbx-sidecar")));
    EXPECT_EQ(platform::XAttr::get(again + QStringLiteral("/Docs/a.pdf"), tags).value_or(QByteArray()), QByteArray("red"));
    EXPECT_EQ(platform::XAttr::get(again + QStringLiteral("/Docs/a.pdf"), kBirthTimeAttribute).value_or(QByteArray()),
              QByteArray("1500000000000000000"));
    EXPECT_EQ(platform::XAttr::get(again + QStringLiteral("/b.pdf"), tags).value_or(QByteArray()), QByteArray("blue"));
}

// The real disk-image tool and its sealer, driven through the program's driver in the test's
// own runtime folder: round trips, refusals, crashes at each step, and the sealer's behaviour.
#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/DiskImage/SafeBoxVolumeInfo.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/DiskImage/SbxContainer.h"
#include "Platform/Foundation/XAttr.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxCreator.h"
#include "SafeBox/SafeBoxPaths.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace platform::sbx;

namespace {

QString derived(const QString& password)
{
    return SafeBoxContentGenerate(password).generate();
}

QByteArray passPhrase(const QString& password)
{
    return SafeBoxCreator::pathWithString(derived(password)).toUtf8();
}

// Every item below root except the tool's own records: kind, mode, size, content hash, mtime and
// user attributes (from the file system or the box's sidecar).
QMap<QString, QString> describeTree(const QString& root)
{
    QMap<QString, QString> tree;
    const Sidecar sidecar = readSidecar(QFile::encodeName(root));
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(root.size() + 1);
        if (relative == QLatin1String(".sbx-attached") || relative == QLatin1String(".sbx-sidecar"))
            continue;
        struct stat st{};
        ::lstat(QFile::encodeName(path).constData(), &st);
        QString text = QStringLiteral("%1 %2 %3").arg(st.st_mode, 0, 8).arg(st.st_size).arg(
            S_ISDIR(st.st_mode) ? qint64(0) : qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
        if (S_ISLNK(st.st_mode)) {
            text += QStringLiteral(" -> ") + QFile::symLinkTarget(path);
        } else if (S_ISREG(st.st_mode)) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            text += QStringLiteral(" ") + QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
        }
        if (!S_ISLNK(st.st_mode)) {
            QMap<QString, QByteArray> attributes;
            if (auto names = platform::XAttr::list(path))
                for (const QString& name : *names)
                    attributes.insert(name, platform::XAttr::get(path, name).value_or(QByteArray()));
            const auto side = sidecar.constFind(QFile::encodeName(relative));
            if (side != sidecar.constEnd())
                for (auto a = side->attributes.cbegin(); a != side->attributes.cend(); ++a)
                    attributes.insert(a.key(), a.value());
            attributes.remove(kBirthTimeAttribute);
            for (auto a = attributes.cbegin(); a != attributes.cend(); ++a)
                text += QStringLiteral(" %1=%2").arg(a.key(), QString::fromLatin1(a.value().toHex()));
        }
        tree.insert(relative, text);
    }
    return tree;
}

class SafeBoxToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SafeBoxCreator::setToolPathForTesting(QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-hdiutil-test"));
        qputenv("FOLIVO_SBX_TEST_SCRYPT_LOGN", "4");
        qputenv("FOLIVO_SBX_TEST_QUIET_MS", "150");
        qputenv("FOLIVO_SBX_TEST_PERIOD_MS", "1500");
        m_library = testsupport::makeTempDir(QStringLiteral("lib")) + QStringLiteral("/My \"Docs\" 'Library'");
        QDir().mkpath(m_library);
        m_store = m_library + QStringLiteral("/safebox.db");
    }

    void TearDown() override
    {
        qunsetenv("FOLIVO_SBX_CRASH_AT");
        for (const QString& device : registeredDevices())
            SafeBoxCreator(QString(), {}).detach(device);
        SafeBoxCreator::setToolPathForTesting({});
        for (const char* name : {"FOLIVO_SBX_TEST_SCRYPT_LOGN", "FOLIVO_SBX_TEST_QUIET_MS",
                                 "FOLIVO_SBX_TEST_PERIOD_MS"})
            qunsetenv(name);
    }

    bool create(const QString& password, qint64 size = 104857600)
    {
        return SafeBoxCreator(m_store, {{QStringLiteral("Name"), QStringLiteral("SafeBox")},
                                        {QStringLiteral("Size"), size},
                                        {QStringLiteral("Password"), derived(password)}})
            .creator()
            .success;
    }
    SafeBoxOutcome attach(const QString& password)
    {
        return SafeBoxCreator(m_store, {{QStringLiteral("Password"), derived(password)},
                                        {QStringLiteral("ToPath"), SafeBoxPaths::runtimeFolder()}})
            .attach();
    }
    SafeBoxOutcome detach(const QString& device) { return SafeBoxCreator(m_store, {}).detach(device); }
    SafeBoxOutcome change(const QString& from, const QString& to)
    {
        return SafeBoxCreator(m_store, {{QStringLiteral("Password"), derived(from)},
                                        {QStringLiteral("NewPassword"), derived(to)}})
            .change();
    }
    SafeBoxOutcome resize(const QString& password, quint64 size)
    {
        return SafeBoxCreator(m_store, {{QStringLiteral("P"), SafeBoxContentGenerate(password).generateD().value(QStringLiteral("Key"))},
                                        {QStringLiteral("Size"), size}})
            .resize();
    }

    // The container's tree, read in this process with the pass phrase (not through an attach).
    std::optional<QMap<QString, QString>> containerTree(const QString& password)
    {
        QFile file(m_store);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        auto header = parseHeader(file.read(kHeaderSize));
        if (!header)
            return std::nullopt;
        auto key = unlock(header->current(), passPhrase(password));
        if (!key)
            return std::nullopt;
        OpenReader reader(&file, header->current().uuid, key->bytes());
        if (!reader.begin())
            return std::nullopt;
        const QString target = testsupport::makeTempDir(QStringLiteral("open"));
        const ArchiveRead read = [&reader](char* data, qsizetype size) { return reader.read(data, size); };
        if (!extractArchive(read, QFile::encodeName(target)))
            return std::nullopt;
        return describeTree(target);
    }

    static bool waitForSeal(const QString& device, quint64 generation)
    {
        return testsupport::spinUntil([&] { return readSealStatus(device).generation >= generation; });
    }

    QByteArray storeBytes() const { return testsupport::readFile(m_store); }
    QString mountPoint() const { return SafeBoxPaths::mountPoint(m_store); }

    QString m_library;
    QString m_store;
};

} // namespace

TEST_F(SafeBoxToolTest, DetachAndAttachAgainGiveBackTheSameTree)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    const QString mount = opened.path;
    EXPECT_EQ(mount, mountPoint());
    EXPECT_TRUE(mount.startsWith(SafeBoxPaths::runtimeFolder() + QLatin1Char('/')));
    EXPECT_EQ(QFileInfo(SafeBoxPaths::runtimeFolder()).permissions() & 0x0077, 0);

    testsupport::writeFile(mount + QStringLiteral("/Reports/2024/ünï cødé 🙂.pdf"), "odd name");
    testsupport::writeFile(mount + QStringLiteral("/Reports/empty.pdf"), QByteArray());
    testsupport::writeFile(mount + QStringLiteral("/.Thumbnail/abc"), "thumb");
    QDir().mkpath(mount + QStringLiteral("/Empty folder"));
    QFile::link(QStringLiteral("Reports/empty.pdf"), mount + QStringLiteral("/link.pdf"));
    QByteArray big(20 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 5);
    testsupport::writeFile(mount + QStringLiteral("/big.bin"), big);
    ASSERT_TRUE(platform::SafeBoxAttributes::setAttribute(mount, mount + QStringLiteral("/big.bin"),
                                                          QStringLiteral("com.apple.metadata:_kMDItemUserTags"), "red\nblue"));
    ::chmod(QFile::encodeName(mount + QStringLiteral("/Reports/empty.pdf")).constData(), 0640);
    const auto before = describeTree(mount);

    // Detached at once: whether the sealer is mid-seal or not, the last seal holds everything.
    const SafeBoxOutcome closed = detach(opened.disk);
    ASSERT_TRUE(closed.success) << closed.error.value_or(QString()).toStdString();
    EXPECT_FALSE(QFileInfo::exists(mount));
    EXPECT_FALSE(isSealerAlive(readRegistryEntry(opened.disk).value_or(RegistryEntry{}).sealerPid, opened.disk));
    EXPECT_TRUE(registeredDevices().isEmpty());
    EXPECT_FALSE(storeBytes().contains("odd name"));

    opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    EXPECT_EQ(describeTree(mount), before);
    const auto info = platform::SafeBoxVolumeInfo::forMount(mount);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->capacity, 104857600u);
    EXPECT_GE(info->used, quint64(big.size()));
    EXPECT_LE(info->free, info->capacity - info->used);
}

TEST_F(SafeBoxToolTest, BadPasswordsAndDamagedContainersFailClearlyAndChangeNothing)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const QByteArray good = storeBytes();
    SafeBoxOutcome outcome = attach(QStringLiteral("wrong"));
    EXPECT_FALSE(outcome.success);
    EXPECT_TRUE(outcome.error.value_or(QString()).contains(QStringLiteral("Authentication error")));
    EXPECT_FALSE(QFileInfo::exists(mountPoint()));

    const auto attachFails = [&](const QByteArray& bytes, const QString& why) {
        testsupport::writeFile(m_store, bytes);
        const SafeBoxOutcome result = attach(QStringLiteral("pw"));
        EXPECT_FALSE(result.success) << why.toStdString();
        EXPECT_TRUE(result.error.value_or(QString()).contains(QStringLiteral("attach failed"))) << why.toStdString();
        EXPECT_FALSE(QFileInfo::exists(mountPoint())) << why.toStdString();
        EXPECT_EQ(QDir(SafeBoxPaths::runtimeFolder()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("attached")})
            << why.toStdString();
        EXPECT_EQ(storeBytes(), bytes) << why.toStdString();
    };
    attachFails(good.left(good.size() - 16), QStringLiteral("truncated"));
    attachFails(good.left(kHeaderSize), QStringLiteral("payload missing"));
    QByteArray tampered = good;
    tampered[tampered.size() - 20] = char(tampered.at(tampered.size() - 20) ^ 1);
    attachFails(tampered, QStringLiteral("payload tampered"));
    tampered = good;
    tampered[40] = char(tampered.at(40) ^ 1); // the capacity field of the only slot
    attachFails(tampered, QStringLiteral("header tampered"));
    QByteArray newer = good;
    newer[11] = 2;
    attachFails(newer, QStringLiteral("newer format"));
    testsupport::writeFile(m_store, newer);
    EXPECT_TRUE(attach(QStringLiteral("pw")).error.value_or(QString()).contains(QStringLiteral("newer format")));
    attachFails(QByteArray(20000, 'x'), QStringLiteral("not a container"));

    testsupport::writeFile(m_store, good);
    QDir().mkpath(mountPoint());
    testsupport::writeFile(mountPoint() + QStringLiteral("/someone else's file"), "x");
    EXPECT_TRUE(attach(QStringLiteral("pw")).error.value_or(QString()).contains(QStringLiteral("mount point busy")));
    EXPECT_EQ(testsupport::readFile(mountPoint() + QStringLiteral("/someone else's file")), QByteArray("x"));
    QDir(mountPoint()).removeRecursively();

    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    outcome = SafeBoxCreator(m_store, {{QStringLiteral("Password"), derived(QStringLiteral("pw"))},
                                       {QStringLiteral("ToPath"), QString::fromUtf8(runtime) + QStringLiteral("/Folivo 2/SafeBox")}})
                  .attach();
    qputenv("XDG_RUNTIME_DIR", runtime);
    EXPECT_FALSE(outcome.success);
    EXPECT_TRUE(outcome.error.value_or(QString()).contains(QStringLiteral("no private runtime folder")));
}

TEST_F(SafeBoxToolTest, HostileArchivesAreRefusedAndNothingLandsOutside)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    QFile file(m_store);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto header = parseHeader(file.read(kHeaderSize));
    file.close();
    ASSERT_TRUE(header.has_value());
    const auto withPayload = [&](const QByteArray& payload) {
        QFile out(m_store);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(header->raw);
        SealWriter writer(&out, header->current().uuid, header->current().publicKey);
        ASSERT_TRUE(writer.begin());
        ASSERT_TRUE(writer.write(payload.constData(), payload.size()));
        ASSERT_TRUE(writer.finish());
    };
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    const QByteArray end = encodeEndRecordForTesting();
    const QList<QByteArray> hostile{
        encodeRecordForTesting(2, "../escape.pdf", 0644, "x") + end,
        encodeRecordForTesting(2, QFile::encodeName(outside) + "/abs.pdf", 0644, "x") + end,
        encodeRecordForTesting(3, "l", 0777, QFile::encodeName(outside)) + encodeRecordForTesting(2, "l/x.pdf", 0644, "x") + end,
        encodeRecordForTesting(1, "d", 0755, {}) + encodeRecordForTesting(2, "d/./x", 0644, "x") + end,
        encodeRecordForTesting(2, ".sbx-attached", 0644, "{}") + end,
        encodeRecordForTesting(2, "cut.pdf", 0644, "x"), // no end record
    };
    for (const QByteArray& payload : hostile) {
        withPayload(payload);
        const SafeBoxOutcome outcome = attach(QStringLiteral("pw"));
        EXPECT_FALSE(outcome.success);
        EXPECT_TRUE(outcome.error.value_or(QString()).contains(QStringLiteral("attach failed")));
        EXPECT_FALSE(QFileInfo::exists(mountPoint()));
        EXPECT_TRUE(QDir(outside).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(SafeBoxPaths::runtimeFolder() + QStringLiteral("/escape.pdf")));
    }
}

TEST_F(SafeBoxToolTest, ALinkWhereTheProgramWritesIsLeftOutAndTheBoxStillOpens)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const auto header = parseHeader(storeBytes().left(kHeaderSize));
    ASSERT_TRUE(header.has_value());
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    const QByteArray payload = encodeRecordForTesting(3, ".Thumbnail", 0777, QFile::encodeName(outside))
                               + encodeRecordForTesting(1, "Docs", 0755, {})
                               + encodeRecordForTesting(3, "Docs/.Thumbnail", 0777, QFile::encodeName(outside))
                               + encodeRecordForTesting(2, "Docs/kept.pdf", 0644, "kept") + encodeEndRecordForTesting();
    {
        QFile out(m_store);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(header->raw);
        SealWriter writer(&out, header->current().uuid, header->current().publicKey);
        ASSERT_TRUE(writer.begin());
        ASSERT_TRUE(writer.write(payload.constData(), payload.size()));
        ASSERT_TRUE(writer.finish());
    }
    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    EXPECT_FALSE(QFileInfo(opened.path + QStringLiteral("/.Thumbnail")).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(opened.path + QStringLiteral("/.Thumbnail")));
    // Only the program's own folder at the top is its; a user's link of that name elsewhere stays.
    EXPECT_TRUE(QFileInfo(opened.path + QStringLiteral("/Docs/.Thumbnail")).isSymLink());
    EXPECT_EQ(testsupport::readFile(opened.path + QStringLiteral("/Docs/kept.pdf")), QByteArray("kept"));
    EXPECT_TRUE(QDir(outside).isEmpty());
}

TEST_F(SafeBoxToolTest, PassPhraseChangesHoldWhileOpenAndResizeGuardsTheContent)
{
    ASSERT_TRUE(create(QStringLiteral("one")));
    SafeBoxOutcome opened = attach(QStringLiteral("one"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    EXPECT_TRUE(change(QStringLiteral("wrong"), QStringLiteral("two")).error.value_or(QString()).contains(QStringLiteral("Authentication error")));
    ASSERT_TRUE(change(QStringLiteral("one"), QStringLiteral("two")).success);
    // A seal made after the change keeps the new slot.
    testsupport::writeFile(opened.path + QStringLiteral("/after.pdf"), QByteArray(5000, 'a'));
    ASSERT_TRUE(waitForSeal(opened.disk, 1));
    EXPECT_TRUE(resize(QStringLiteral("two"), 1 << 30).error.value_or(QString()).contains(QStringLiteral("open")));
    ASSERT_TRUE(detach(opened.disk).success);

    EXPECT_TRUE(attach(QStringLiteral("one")).error.value_or(QString()).contains(QStringLiteral("Authentication error")));
    ASSERT_TRUE(change(QStringLiteral("two"), QStringLiteral("three")).success);
    EXPECT_FALSE(resize(QStringLiteral("three"), 4999).success);
    EXPECT_FALSE(resize(QStringLiteral("two"), 1 << 30).success);
    ASSERT_TRUE(resize(QStringLiteral("three"), 5000).success);

    opened = attach(QStringLiteral("three"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    EXPECT_TRUE(QFileInfo::exists(opened.path + QStringLiteral("/after.pdf")));
    EXPECT_EQ(platform::SafeBoxVolumeInfo::forMount(opened.path).value_or(platform::SafeBoxVolumeInfo{}).capacity, 5000u);
}

TEST_F(SafeBoxToolTest, AfterAPasswordChangeNoSlotOpensWithTheOldPassword)
{
    ASSERT_TRUE(create(QStringLiteral("old")));
    ASSERT_TRUE(change(QStringLiteral("old"), QStringLiteral("new")).success);
    ASSERT_TRUE(resize(QStringLiteral("new"), 1 << 28).success);
    ASSERT_TRUE(change(QStringLiteral("new"), QStringLiteral("newer")).success);
    QByteArray bytes = storeBytes();
    const auto header = parseHeader(bytes.left(kHeaderSize));
    ASSERT_TRUE(header.has_value());
    // One slot is left, and it opens with the last password only.
    EXPECT_FALSE(header->slots[size_t(1 - header->active)].has_value());
    EXPECT_EQ(bytes.mid((1 - header->active) * kSlotSize, kSlotSize), QByteArray(kSlotSize, '\0'));
    for (const char* earlier : {"old", "new"})
        EXPECT_FALSE(unlock(header->current(), passPhrase(QString::fromLatin1(earlier))).has_value()) << earlier;

    // Damaging the last slot leaves nothing to fall back to.
    bytes[header->active * kSlotSize + 40] = char(bytes.at(header->active * kSlotSize + 40) ^ 1);
    testsupport::writeFile(m_store, bytes);
    for (const char* password : {"old", "new", "newer"}) {
        const SafeBoxOutcome outcome = attach(QString::fromLatin1(password));
        EXPECT_FALSE(outcome.success) << password;
        EXPECT_FALSE(QFileInfo::exists(mountPoint())) << password;
    }
}

TEST_F(SafeBoxToolTest, APasswordChangeKilledBetweenItsTwoStepsLeavesNoOldSlotAfterTheNextAttachOrSeal)
{
    for (const bool open : {false, true}) {
        SCOPED_TRACE(open ? "sealed while open" : "attached after");
        QFile::remove(m_store);
        ASSERT_TRUE(create(QStringLiteral("old")));
        SafeBoxOutcome opened;
        if (open) {
            opened = attach(QStringLiteral("old"));
            ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
        }
        // Killed once the new slot is on disk and before the old one is wiped: both open.
        qputenv("FOLIVO_SBX_CRASH_AT", "slot-written");
        EXPECT_FALSE(change(QStringLiteral("old"), QStringLiteral("new")).success);
        qunsetenv("FOLIVO_SBX_CRASH_AT");
        auto header = parseHeader(storeBytes().left(kHeaderSize));
        ASSERT_TRUE(header.has_value());
        ASSERT_TRUE(header->slots[0].has_value() && header->slots[1].has_value());
        const int stale = 1 - header->active;
        ASSERT_TRUE(unlock(*header->slots[size_t(stale)], passPhrase(QStringLiteral("old"))).has_value());

        if (open) {
            testsupport::writeFile(opened.path + QStringLiteral("/sealed after.pdf"), "x");
            ASSERT_TRUE(waitForSeal(opened.disk, 1));
            ASSERT_TRUE(detach(opened.disk).success);
        } else {
            opened = attach(QStringLiteral("new"));
            ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
            // The attach itself wipes it, before any seal.
            EXPECT_TRUE(storeBytes().mid(stale * kSlotSize, kSlotSize) == QByteArray(kSlotSize, '\0'));
            ASSERT_TRUE(detach(opened.disk).success);
        }
        QByteArray bytes = storeBytes();
        header = parseHeader(bytes.left(kHeaderSize));
        ASSERT_TRUE(header.has_value());
        EXPECT_FALSE(header->slots[size_t(stale)].has_value());
        EXPECT_TRUE(bytes.mid(stale * kSlotSize, kSlotSize) == QByteArray(kSlotSize, '\0'));

        // With the new slot damaged the old password opens nothing.
        bytes[header->active * kSlotSize + 40] = char(bytes.at(header->active * kSlotSize + 40) ^ 1);
        testsupport::writeFile(m_store, bytes);
        for (const char* password : {"old", "new"}) {
            EXPECT_FALSE(attach(QString::fromLatin1(password)).success) << password;
            EXPECT_FALSE(QFileInfo::exists(mountPoint())) << password;
        }
        for (const QString& device : registeredDevices())
            detach(device);
    }
}

TEST_F(SafeBoxToolTest, TheShippedToolIgnoresTheTestSwitchesOfItsEnvironment)
{
    // The program hands its whole environment to the tool, and runs the tool beside it whatever
    // the environment says.
    qputenv("FOLIVO_HDIUTIL", QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-hdiutil-test")));
    SafeBoxCreator::setToolPathForTesting({});
    qputenv("FOLIVO_SBX_TEST_SCRYPT_LOGN", "1");
    qputenv("FOLIVO_SBX_CRASH_AT", "seal-written");
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const auto header = parseHeader(storeBytes().left(kHeaderSize));
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->current().kdf.logN, ScryptParams{}.logN);

    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    testsupport::writeFile(opened.path + QStringLiteral("/kept.pdf"), "kept");
    const SafeBoxOutcome closed = detach(opened.disk);
    EXPECT_TRUE(closed.success) << closed.error.value_or(QString()).toStdString();
    EXPECT_TRUE(containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(QStringLiteral("kept.pdf")));
    qunsetenv("FOLIVO_HDIUTIL");
}

TEST_F(SafeBoxToolTest, ACopiedLibrarysBoxOpensBesideItsOriginalWithoutTouchingIt)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const QString copyLibrary = testsupport::makeTempDir(QStringLiteral("copied library"));
    const QString copyStore = copyLibrary + QStringLiteral("/safebox.db");
    ASSERT_TRUE(QFile::copy(m_store, copyStore));
    const auto attachCopy = [&] {
        return SafeBoxCreator(copyStore, {{QStringLiteral("Password"), derived(QStringLiteral("pw"))},
                                          {QStringLiteral("ToPath"), SafeBoxPaths::runtimeFolder()}})
            .attach();
    };

    const SafeBoxOutcome original = attach(QStringLiteral("pw"));
    ASSERT_TRUE(original.success) << original.error.value_or(QString()).toStdString();
    const qint64 sealer = readRegistryEntry(original.disk).value_or(RegistryEntry{}).sealerPid;
    const SafeBoxOutcome copy = attachCopy();
    ASSERT_TRUE(copy.success) << copy.error.value_or(QString()).toStdString();
    EXPECT_NE(copy.disk, original.disk);
    EXPECT_NE(copy.path, original.path);
    // The original's sealer and registry entry are left as they were, and it goes on sealing.
    EXPECT_TRUE(isSealerAlive(sealer, original.disk));
    EXPECT_EQ(readRegistryEntry(original.disk).value_or(RegistryEntry{}).image, QFileInfo(m_store).absoluteFilePath());
    testsupport::writeFile(original.path + QStringLiteral("/original.pdf"), "original");
    testsupport::writeFile(copy.path + QStringLiteral("/copy.pdf"), "copy");
    ASSERT_TRUE(detach(original.disk).success);
    ASSERT_TRUE(detach(copy.disk).success);
    const auto originalTree = containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>());
    EXPECT_TRUE(originalTree.contains(QStringLiteral("original.pdf")));
    EXPECT_FALSE(originalTree.contains(QStringLiteral("copy.pdf")));

    // A name held by another box is refused, and that box's sealer is left alone.
    const auto header = parseHeader(testsupport::readFile(copyStore).left(kHeaderSize));
    ASSERT_TRUE(header.has_value());
    const QString copyDevice = deviceForBox(header->current().uuid, copyStore);
    // A process that names the device on its command line, as a sealer does, and waits.
    testsupport::ChildProcess other({QStringLiteral("-f"), QStringLiteral("/dev/null"), copyDevice}, {}, QStringLiteral("/usr/bin/tail"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return isSealerAlive(other.pid(), copyDevice); }));
    RegistryEntry foreign;
    foreign.device = copyDevice;
    foreign.image = m_library + QStringLiteral("/another.db");
    foreign.mount = SafeBoxPaths::runtimeFolder() + QStringLiteral("/.elsewhere");
    foreign.sealerPid = other.pid();
    ASSERT_TRUE(writeRegistryEntry(foreign).has_value());
    const SafeBoxOutcome refused = attachCopy();
    EXPECT_FALSE(refused.success);
    EXPECT_TRUE(refused.error.value_or(QString()).contains(QStringLiteral("another box")));
    EXPECT_TRUE(isSealerAlive(other.pid(), copyDevice));
    EXPECT_EQ(readRegistryEntry(copyDevice).value_or(RegistryEntry{}).image, foreign.image);
    removeRegistryEntry(copyDevice);
}

TEST_F(SafeBoxToolTest, ATemporaryFileOfAKilledSealIsSweptByTheNextAttachOrSeal)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const QString leftByAttach = m_store + QStringLiteral(".sealing-999999991.tmp");
    const QString leftBySeal = m_store + QStringLiteral(".sealing-999999992.tmp");
    const QString anotherStore = m_library + QStringLiteral("/other.db.sealing-999999993.tmp");
    testsupport::writeFile(leftByAttach, QByteArray(1 << 20, 'x'));
    testsupport::writeFile(anotherStore, "not this box's");
    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    EXPECT_FALSE(QFileInfo::exists(leftByAttach));

    testsupport::writeFile(leftBySeal, QByteArray(1 << 20, 'y'));
    const quint64 generation = readSealStatus(opened.disk).generation;
    testsupport::writeFile(opened.path + QStringLiteral("/new.pdf"), "new");
    ASSERT_TRUE(waitForSeal(opened.disk, generation + 1));
    EXPECT_FALSE(QFileInfo::exists(leftBySeal));
    EXPECT_TRUE(QFileInfo::exists(anotherStore));
}

TEST_F(SafeBoxToolTest, SealerWritesChangesBackAndNeverSealsAFolderThatWentAway)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    testsupport::writeFile(opened.path + QStringLiteral("/quiet.pdf"), "after a pause");
    ASSERT_TRUE(waitForSeal(opened.disk, 1));
    EXPECT_TRUE(containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(QStringLiteral("quiet.pdf")));

    // Writes without pause are sealed by the period, not the quiet time.
    const quint64 generation = readSealStatus(opened.disk).generation;
    int writes = 0;
    EXPECT_TRUE(testsupport::spinUntil([&] {
        testsupport::writeFile(opened.path + QStringLiteral("/busy.log"), QByteArray::number(++writes));
        return readSealStatus(opened.disk).generation > generation;
    }));
    EXPECT_TRUE(containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(QStringLiteral("busy.log")));

    // Someone removes the open folder: the sealer stops and the container stays as last sealed.
    ASSERT_TRUE(waitForSeal(opened.disk, readSealStatus(opened.disk).generation + 1));
    const QByteArray sealed = storeBytes();
    const qint64 sealer = readRegistryEntry(opened.disk).value_or(RegistryEntry{}).sealerPid;
    QDir(opened.path).removeRecursively();
    EXPECT_TRUE(testsupport::spinUntil([&] { return !isSealerAlive(sealer, opened.disk); }));
    EXPECT_EQ(storeBytes(), sealed);
    EXPECT_TRUE(detach(opened.disk).success);
    EXPECT_EQ(storeBytes(), sealed);
}

TEST_F(SafeBoxToolTest, AnAskedSealComesWithoutAnyChangeInTheFolder)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    testsupport::writeFile(opened.path + QStringLiteral("/copied.pdf"), "in the box");
    ASSERT_TRUE(waitForSeal(opened.disk, 1));
    // The folder is quiet from here: without a request no seal would ever begin again.
    const SealStatus before = readSealStatus(opened.disk);
    const qint64 askedAt = monotonicNowNs();
    ASSERT_TRUE(requestSeal(opened.disk));
    ASSERT_TRUE(waitForSeal(opened.disk, before.generation + 1));
    const SealStatus after = readSealStatus(opened.disk);
    EXPECT_GT(after.lastSealBeganNs, askedAt);
    EXPECT_TRUE(after.lastFailure.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(registryFolder() + QLatin1Char('/') + deviceId(opened.disk) + QStringLiteral(".seal-request")))
        << "the request is taken";
    EXPECT_FALSE(requestSeal(QStringLiteral("/dev/sda1"))) << "no request for what is not a box";
}

// Every wake-up of a process from a sleep, over its main thread and the threads it named. A
// sanitizer's own thread (unnamed: it carries the main thread's name) wakes on its own clock
// and is left out.
qint64 voluntarySwitches(qint64 pid)
{
    qint64 total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QByteArray mainName = testsupport::readFile(QStringLiteral("/proc/%1/comm").arg(pid));
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = tasks + QLatin1Char('/') + task;
        if (task != QString::number(pid) && testsupport::readFile(folder + QStringLiteral("/comm")) == mainName)
            continue;
        const QByteArray status = testsupport::readFile(folder + QStringLiteral("/status"));
        for (const QByteArray& line : status.split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toLongLong();
    }
    return total;
}

TEST_F(SafeBoxToolTest, AnIdleSealerSleepsUntilTheFolderChangesOrASealIsAsked)
{
    // A period far beyond the idle spell, so nothing is due in it.
    qputenv("FOLIVO_SBX_TEST_PERIOD_MS", "600000");
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    const qint64 sealer = readRegistryEntry(opened.disk).value_or(RegistryEntry{}).sealerPid;
    testsupport::writeFile(opened.path + QStringLiteral("/settled.pdf"), "sealed before the idle spell");
    ASSERT_TRUE(waitForSeal(opened.disk, 1));

    // The seal's own aftermath (the events of its status record) passes first. Then three
    // seconds with nothing to do: a sealer that looked 20 times a second woke about 60 times.
    ::sleep(1);
    const qint64 before = voluntarySwitches(sealer);
    ::sleep(3);
    const qint64 idle = voluntarySwitches(sealer) - before;
    EXPECT_TRUE(isSealerAlive(sealer, opened.disk));
    EXPECT_LE(idle, 10) << "wake-ups of the idle sealer in 3 s";

    // It still answers a change after the quiet time and an asked seal without any change.
    testsupport::writeFile(opened.path + QStringLiteral("/after idle.pdf"), "changed");
    ASSERT_TRUE(waitForSeal(opened.disk, 2));
    EXPECT_TRUE(containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(QStringLiteral("after idle.pdf")));
    const qint64 askedAt = monotonicNowNs();
    ASSERT_TRUE(requestSeal(opened.disk));
    ASSERT_TRUE(waitForSeal(opened.disk, 3));
    EXPECT_GT(readSealStatus(opened.disk).lastSealBeganNs, askedAt);
}

TEST_F(SafeBoxToolTest, ASecondAttachAdoptsTheOpenFolderAndItsSealer)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const SafeBoxOutcome first = attach(QStringLiteral("pw"));
    ASSERT_TRUE(first.success) << first.error.value_or(QString()).toStdString();
    testsupport::writeFile(first.path + QStringLiteral("/unsealed.pdf"), "newer than the container");
    const qint64 sealer = readRegistryEntry(first.disk).value_or(RegistryEntry{}).sealerPid;
    const SafeBoxOutcome second = attach(QStringLiteral("pw"));
    ASSERT_TRUE(second.success) << second.error.value_or(QString()).toStdString();
    EXPECT_EQ(second.disk, first.disk);
    EXPECT_EQ(readRegistryEntry(first.disk).value_or(RegistryEntry{}).sealerPid, sealer);
    EXPECT_EQ(testsupport::readFile(first.path + QStringLiteral("/unsealed.pdf")), QByteArray("newer than the container"));

    // A sealer that died is replaced, and the adopted changes are sealed.
    ::kill(pid_t(sealer), SIGKILL);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !isSealerAlive(sealer, first.disk); }));
    ASSERT_TRUE(attach(QStringLiteral("pw")).success);
    const qint64 replacement = readRegistryEntry(first.disk).value_or(RegistryEntry{}).sealerPid;
    EXPECT_NE(replacement, sealer);
    EXPECT_TRUE(isSealerAlive(replacement, first.disk));
    EXPECT_TRUE(testsupport::spinUntil([&] {
        return containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(QStringLiteral("unsealed.pdf"));
    }));
}

TEST_F(SafeBoxToolTest, ADeadSealerIsResumedAndItsChangesAreSealed)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    const qint64 sealer = readRegistryEntry(opened.disk).value_or(RegistryEntry{}).sealerPid;
    ::kill(pid_t(sealer), SIGKILL);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !isSealerAlive(sealer, opened.disk); }));
    testsupport::writeFile(opened.path + QStringLiteral("/while dead.pdf"), "unsealed");

    const SafeBoxOutcome resumed = SafeBoxCreator(m_store, {}).resume(opened.disk);
    ASSERT_TRUE(resumed.success) << resumed.error.value_or(QString()).toStdString();
    const qint64 replacement = readRegistryEntry(opened.disk).value_or(RegistryEntry{}).sealerPid;
    EXPECT_NE(replacement, sealer);
    EXPECT_TRUE(isSealerAlive(replacement, opened.disk));
    EXPECT_TRUE(testsupport::spinUntil([&] {
        return containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(QStringLiteral("while dead.pdf"));
    }));
    // A live sealer is left as it is; a closed box has nothing to resume.
    ASSERT_TRUE(SafeBoxCreator(m_store, {}).resume(opened.disk).success);
    EXPECT_EQ(readRegistryEntry(opened.disk).value_or(RegistryEntry{}).sealerPid, replacement);
    ASSERT_TRUE(detach(opened.disk).success);
    const SafeBoxOutcome closed = SafeBoxCreator(m_store, {}).resume(opened.disk);
    EXPECT_FALSE(closed.success);
    EXPECT_TRUE(closed.error.value_or(QString()).contains(QStringLiteral("No such device")));
}

TEST_F(SafeBoxToolTest, CrashAtEveryStepOfADetachKeepsTheBox)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    int round = 0;
    for (const char* step : {"seal-written", "seal-renamed", "detach-removing"}) {
        SCOPED_TRACE(step);
        const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
        ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
        const QString name = QStringLiteral("change-%1.pdf").arg(++round);
        // The sealer is killed first, so the change is sealed by the detach that crashes.
        const qint64 sealer = readRegistryEntry(opened.disk).value_or(RegistryEntry{}).sealerPid;
        ::kill(pid_t(sealer), SIGKILL);
        ASSERT_TRUE(testsupport::spinUntil([&] { return !isSealerAlive(sealer, opened.disk); }));
        testsupport::writeFile(opened.path + QLatin1Char('/') + name, "must survive");

        qputenv("FOLIVO_SBX_CRASH_AT", step);
        EXPECT_FALSE(detach(opened.disk).success);
        qunsetenv("FOLIVO_SBX_CRASH_AT");
        const auto sealed = containerTree(QStringLiteral("pw"));
        ASSERT_TRUE(sealed.has_value()); // the old or the new container, whole
        if (QString::fromLatin1(step) != QLatin1String("detach-removing")) {
            EXPECT_TRUE(QFileInfo::exists(opened.path + QLatin1Char('/') + name)); // plaintext still there
        } else {
            EXPECT_TRUE(sealed->contains(name));
        }

        // The next start's logout check finishes the job; a detach that died removing the
        // plaintext is finished by the next detach (or attach) of the box.
        SafeBoxCreator(m_store, {}).logoutCheck();
        if (registeredDevices().contains(opened.disk))
            ASSERT_TRUE(detach(opened.disk).success);
        EXPECT_TRUE(containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(name));
        EXPECT_EQ(QDir(SafeBoxPaths::runtimeFolder()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("attached")});
    }
}

TEST_F(SafeBoxToolTest, LogoutCheckAfterAProgramDiedDetachesWithTheChangeKept)
{
    ASSERT_TRUE(create(QStringLiteral("pw")));
    const SafeBoxOutcome opened = attach(QStringLiteral("pw"));
    ASSERT_TRUE(opened.success) << opened.error.value_or(QString()).toStdString();
    testsupport::writeFile(opened.path + QStringLiteral("/left open.pdf"), "kept");
    // The start-up check looks for exactly this folder.
    EXPECT_TRUE(QFileInfo::exists(SafeBoxCreator::mountPointFor(SafeBoxPaths::runtimeFolder(), m_store)));
    SafeBoxCreator(m_store, {}).logoutCheck();
    EXPECT_FALSE(QFileInfo::exists(opened.path));
    EXPECT_TRUE(registeredDevices().isEmpty());
    EXPECT_TRUE(containerTree(QStringLiteral("pw")).value_or(QMap<QString, QString>()).contains(QStringLiteral("left open.pdf")));
}

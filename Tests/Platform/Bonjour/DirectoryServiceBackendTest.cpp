#include "Platform/Bonjour/DirectoryServiceBackend.h"
#include "Platform/Foundation/PropertyList.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <csignal>
#include <utime.h>

using namespace platform;

namespace {

NetService peer(const QString& name, quint16 port)
{
    NetService s;
    s.name = name;
    s.type = QStringLiteral("_foli2_s._tcp.");
    s.port = port;
    s.txt = {{QStringLiteral("Name"), name.toUtf8()}, {QStringLiteral("GUID"), "1234-ABCD"}};
    return s;
}

struct Seen {
    QStringList found;
    QStringList removed;
    QList<NetService> services;
};

std::unique_ptr<ServiceHandle> browseInto(DirectoryServiceBackend& backend, Seen& seen)
{
    auto handle = backend.browse(QStringLiteral("_foli2_s._tcp"), QStringLiteral("local."), DispatchQueue::main(),
                                 {[&](const NetService& s) {
                                      seen.found << s.name;
                                      seen.services << s;
                                  },
                                  [&](const NetService& s) { seen.removed << s.name; }});
    EXPECT_TRUE(handle.has_value());
    return handle ? std::move(*handle) : nullptr;
}

} // namespace

TEST(DirectoryServiceBackend, PublishedServiceIsFoundResolvedAndRemovedWithItsOwner)
{
    DirectoryServiceBackend backend(testsupport::makeTempDir(QStringLiteral("services")));
    Seen seen;
    auto browse = browseInto(backend, seen);

    QString publishedName;
    auto publication = backend.publish(peer(QStringLiteral("Alice's Mac"), 4242), DispatchQueue::main(),
                                       [&](const NetService& s) { publishedName = s.name; });
    ASSERT_TRUE(publication.has_value()) << publication.error().toString().toStdString();
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.found.size() == 1; }));
    EXPECT_EQ(publishedName, QStringLiteral("Alice's Mac"));
    EXPECT_EQ(seen.services[0].txt.value(QStringLiteral("GUID")), QByteArray("1234-ABCD"));
    EXPECT_TRUE(seen.services[0].isLocal);

    std::optional<Result<NetService>> resolved;
    auto resolving = backend.resolve(seen.services[0], DispatchQueue::main(),
                                     [&](Result<NetService> r) { resolved = std::move(r); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return resolved.has_value(); }));
    ASSERT_TRUE(resolved->has_value());
    EXPECT_EQ((*resolved)->port, 4242);
    ASSERT_FALSE((*resolved)->addresses.isEmpty());
    EXPECT_TRUE((*resolved)->addresses.first().isLoopback());

    publication->reset();
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.removed.size() == 1; }));
    EXPECT_EQ(seen.removed[0], QStringLiteral("Alice's Mac"));

    std::optional<Result<NetService>> gone;
    auto again = backend.resolve(seen.services[0], DispatchQueue::main(),
                                 [&](Result<NetService> r) { gone = std::move(r); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return gone.has_value(); }));
    EXPECT_FALSE(gone->has_value());
}

TEST(DirectoryServiceBackend, TakenNamesGetANumberInsteadOfReplacingTheirOwner)
{
    DirectoryServiceBackend backend(testsupport::makeTempDir(QStringLiteral("services")));
    QStringList names;
    auto first = backend.publish(peer(QStringLiteral("Desk"), 1000), DispatchQueue::main(),
                                 [&](const NetService& s) { names << s.name; });
    auto second = backend.publish(peer(QStringLiteral("Desk"), 1001), DispatchQueue::main(),
                                  [&](const NetService& s) { names << s.name; });
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(testsupport::spinUntil([&] { return names.size() == 2; }));
    EXPECT_EQ(names, (QStringList{QStringLiteral("Desk"), QStringLiteral("Desk (2)")}));

    Seen seen;
    auto browse = browseInto(backend, seen);
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.found.size() == 2; }));
}

TEST(DirectoryServiceBackend, RecordsOfDeadOwnersAndGarbageAreIgnored)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("services"));
    DirectoryServiceBackend backend(root);
    const QString folder = root + QStringLiteral("/_foli2_s._tcp@local.");
    // An owner that crashed: a well-formed record nobody holds a lock on, written long ago.
    auto record = PropertyList::write(QVariantMap{{QStringLiteral("name"), QStringLiteral("Ghost")},
                                                  {QStringLiteral("type"), QStringLiteral("_foli2_s._tcp")},
                                                  {QStringLiteral("domain"), QStringLiteral("local.")},
                                                  {QStringLiteral("port"), qint64(7)}},
                                      PlistFormat::Xml);
    ASSERT_TRUE(record.has_value());
    const QString ghost = folder + QStringLiteral("/Ghost.service");
    testsupport::writeFile(ghost, *record);
    struct utimbuf old = {1'000'000'000, 1'000'000'000};
    ::utime(QFile::encodeName(ghost).constData(), &old);
    testsupport::writeFile(folder + QStringLiteral("/junk.service"), "not a property list");

    Seen seen;
    auto browse = browseInto(backend, seen);
    auto live = backend.publish(peer(QStringLiteral("Live"), 9), DispatchQueue::main(), nullptr);
    ASSERT_TRUE(live.has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.found.contains(QStringLiteral("Live")); }));
    EXPECT_EQ(seen.found, QStringList{QStringLiteral("Live")});
    EXPECT_FALSE(QFile::exists(ghost)) << "a dead owner's record is cleared";

    // The dead owner's name is free again.
    auto reuse = backend.publish(peer(QStringLiteral("Ghost"), 11), DispatchQueue::main(), nullptr);
    ASSERT_TRUE(reuse.has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.found.contains(QStringLiteral("Ghost")); }));
}

TEST(DirectoryServiceBackend, StoppedBrowsersReportNothingMore)
{
    DirectoryServiceBackend backend(testsupport::makeTempDir(QStringLiteral("services")));
    Seen seen;
    auto browse = browseInto(backend, seen);
    browse.reset();
    auto publication = backend.publish(peer(QStringLiteral("Late"), 5), DispatchQueue::main(), nullptr);
    ASSERT_TRUE(publication.has_value());
    // Give a (wrongly) running browser several polls to misbehave, measured by its own work.
    Seen control;
    auto probe = browseInto(backend, control);
    ASSERT_TRUE(testsupport::spinUntil([&] { return control.found.size() == 1; }));
    EXPECT_TRUE(seen.found.isEmpty());
}

TEST(DirectoryServiceBackend, APublicationWithdrawnBeforeItsAnswerRanNeverAnswers)
{
    DirectoryServiceBackend backend(testsupport::makeTempDir(QStringLiteral("services")));
    bool answered = false;
    auto publication = backend.publish(peer(QStringLiteral("Brief"), 6), DispatchQueue::main(),
                                       [&](const NetService&) { answered = true; });
    ASSERT_TRUE(publication.has_value());
    publication->reset();
    // The main queue runs in order: once this has run, the answer queued by publish had its turn.
    bool drained = false;
    DispatchQueue::main().async([&] { drained = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return drained; }));
    EXPECT_FALSE(answered);
}

namespace {

const char* const kChildFolderVariable = "FOLIVO_TEST_SERVICE_OWNER_FOLDER";

bool scansChangeWithin(int settled, int ms)
{
    return testsupport::spinUntil([&] { return DirectoryServiceBackend::scanCountForTesting() != settled; }, ms);
}

} // namespace

TEST(DirectoryServiceBackend, AnIdleBrowserLooksOnlyWhenTheFolderChanges)
{
    DirectoryServiceBackend backend(testsupport::makeTempDir(QStringLiteral("services")));
    const int before = DirectoryServiceBackend::scanCountForTesting();
    Seen seen;
    auto browse = browseInto(backend, seen);
    ASSERT_TRUE(testsupport::spinUntil([&] { return DirectoryServiceBackend::scanCountForTesting() > before; }));

    auto publication = backend.publish(peer(QStringLiteral("Quiet"), 4100), DispatchQueue::main(), nullptr);
    ASSERT_TRUE(publication.has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.found == QStringList{QStringLiteral("Quiet")}; }));

    // Nothing changes: a browser that looked on a clock would have looked several times by now.
    const int settled = DirectoryServiceBackend::scanCountForTesting();
    EXPECT_FALSE(scansChangeWithin(settled, 1500)) << "looked while nothing changed";

    // A file that is no record wakes nobody either.
    testsupport::writeFile(backend.folder() + QStringLiteral("/_foli2_s._tcp@local./notes.txt"), "x");
    EXPECT_FALSE(scansChangeWithin(settled, 500)) << "looked for a file that is no record";

    publication->reset();
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.removed == QStringList{QStringLiteral("Quiet")}; }));
}

TEST(DirectoryServiceBackend, AFolderRemovedUnderABrowserIsWatchedAgain)
{
    DirectoryServiceBackend backend(testsupport::makeTempDir(QStringLiteral("services")));
    Seen seen;
    auto browse = browseInto(backend, seen);
    const QString folder = backend.folder() + QStringLiteral("/_foli2_s._tcp@local.");
    ASSERT_TRUE(QDir(folder).exists());
    ASSERT_TRUE(QDir(folder).removeRecursively());

    // A service published into the folder made anew is seen, whoever makes it first.
    auto publication = backend.publish(peer(QStringLiteral("Back"), 4101), DispatchQueue::main(), nullptr);
    ASSERT_TRUE(publication.has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.found.contains(QStringLiteral("Back")); }));
}

TEST(DirectoryServiceBackend, AServiceWhoseOwnerIsKilledIsSeenToGo)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("services"));
    DirectoryServiceBackend backend(root);
    Seen seen;
    auto browse = browseInto(backend, seen);
    testsupport::ChildProcess owner({QStringLiteral("--gtest_also_run_disabled_tests"),
                                     QStringLiteral("--gtest_filter=DirectoryServiceBackendChild.DISABLED_PublishesUntilKilled")},
                                    {{QString::fromLatin1(kChildFolderVariable), root}});
    ASSERT_TRUE(owner.started());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.found.contains(QStringLiteral("Doomed")); }))
        << owner.standardError().constData();

    // Killed, the owner withdraws nothing: its record stays, unlocked, until a browser sees it.
    ::kill(owner.pid(), SIGKILL);
    ASSERT_TRUE(owner.waitForFinished());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen.removed.contains(QStringLiteral("Doomed")); }));
    EXPECT_FALSE(QFile::exists(root + QStringLiteral("/_foli2_s._tcp@local./Doomed.service")))
        << "the record of an owner seen to end is cleared at once";
}

// The owner of the test above; runs only when started by it.
TEST(DirectoryServiceBackendChild, DISABLED_PublishesUntilKilled)
{
    const QString root = qEnvironmentVariable(kChildFolderVariable);
    if (root.isEmpty())
        GTEST_SKIP();
    DirectoryServiceBackend backend(root);
    auto publication = backend.publish(peer(QStringLiteral("Doomed"), 4102), DispatchQueue::main(), nullptr);
    ASSERT_TRUE(publication.has_value());
    testsupport::spinUntil([] { return false; }, 120000);
    ADD_FAILURE() << "not killed";
}

#include "Platform/Foundation/UserDefaults.h"

#include "Platform/Foundation/PropertyList.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPoint>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <unistd.h>

using platform::PlistFormat;
using platform::PropertyList;
using platform::UserDefaults;

namespace {

QString freshPath()
{
    return testsupport::makeTempDir(QStringLiteral("defaults")) + QStringLiteral("/d.plist");
}

QStringList corruptCopies(const QString& path)
{
    const QFileInfo info(path);
    return info.dir().entryList({info.fileName() + QStringLiteral(".corrupt-*")}, QDir::Files);
}

} // namespace

TEST(UserDefaults, TypedGettersConvertRegisteredText)
{
    UserDefaults defaults(QStringLiteral("test.coercions"), freshPath());
    defaults.registerDefaults({
        {QStringLiteral("Bool_Rated"), QStringLiteral("NO")},
        {QStringLiteral("Bool_ProgramIsFirstRun"), QStringLiteral("YES")},
        {QStringLiteral("Bool_True"), QStringLiteral("true")},
        {QStringLiteral("Bool_False"), QStringLiteral("false")},
        {QStringLiteral("Bool_One"), QStringLiteral("1")},
        {QStringLiteral("Bool_Zero"), QStringLiteral("0")},
        {QStringLiteral("Int_ViewItemScale"), QStringLiteral("40")},
        {QStringLiteral("Int_Signed"), QStringLiteral("  -12 apples")},
        {QStringLiteral("Int_Huge"), QStringLiteral("99999999999999999999")},
        {QStringLiteral("Double"), QStringLiteral("2.5e1x")},
        {QStringLiteral("String_ThemeName"), QStringLiteral("gray")},
        {QStringLiteral("Number"), 42},
    });
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("Bool_Rated")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_ProgramIsFirstRun")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_True")));
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("Bool_False")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_One")));
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("Bool_Zero")));
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("String_ThemeName")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_ViewItemScale")), 40);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_Signed")), -12);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_Huge")), std::numeric_limits<qint64>::max());
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Bool_ProgramIsFirstRun")), 1);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("String_ThemeName")), 0);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey(QStringLiteral("Double")), 25.0);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("Number")), QStringLiteral("42"));
    EXPECT_TRUE(defaults.arrayForKey(QStringLiteral("String_ThemeName")).isEmpty());
    EXPECT_TRUE(defaults.dataForKey(QStringLiteral("String_ThemeName")).isEmpty());
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("Missing")).isValid());

    // A stored value hides the registered one until it is removed again.
    defaults.setBool(true, QStringLiteral("Bool_Rated"));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_Rated")));
    defaults.removeObjectForKey(QStringLiteral("Bool_Rated"));
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("Bool_Rated")), QVariant(QStringLiteral("NO")));
}

TEST(UserDefaults, SettingsSurviveARestart)
{
    const QString path = freshPath();
    const QVariantList recent{QVariantMap{{QStringLiteral("Path"), QStringLiteral("/lib/A")}},
                              QVariantMap{{QStringLiteral("Path"), QStringLiteral("/lib/B")}}};
    {
        UserDefaults first(QStringLiteral("test.restart"), path);
        first.setString(QStringLiteral("/home/u/Folivo 2 Library"), QStringLiteral("String_Library_Path"));
        first.setInteger(-7, QStringLiteral("Int_RunningCount"));
        first.setDouble(0.25, QStringLiteral("Double"));
        first.setObject(recent, QStringLiteral("Array_RecentLibrary_Paths"));
        first.setObject(QByteArray("\0\xFF", 2), QStringLiteral("Data_LastSelectedLibraryInfo"));
        first.setObject(std::numeric_limits<quint64>::max(), QStringLiteral("Unsigned"));
        first.setString(QStringLiteral("{12, 34}"), QStringLiteral("Point_TagSideBarViewScrollPoint"));
        first.registerDefaults({{QStringLiteral("Registered"), QStringLiteral("only in memory")}});
    }
    EXPECT_TRUE(testsupport::readFile(path).startsWith("<?xml"));
    UserDefaults second(QStringLiteral("test.restart"), path);
    EXPECT_EQ(second.stringForKey(QStringLiteral("String_Library_Path")),
              QStringLiteral("/home/u/Folivo 2 Library"));
    EXPECT_EQ(second.integerForKey(QStringLiteral("Int_RunningCount")), -7);
    EXPECT_EQ(second.doubleForKey(QStringLiteral("Double")), 0.25);
    EXPECT_EQ(second.arrayForKey(QStringLiteral("Array_RecentLibrary_Paths")), recent);
    EXPECT_EQ(second.dataForKey(QStringLiteral("Data_LastSelectedLibraryInfo")), QByteArray("\0\xFF", 2));
    EXPECT_EQ(second.objectForKey(QStringLiteral("Unsigned")),
              QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_EQ(second.stringForKey(QStringLiteral("Point_TagSideBarViewScrollPoint")),
              QStringLiteral("{12, 34}"));
    EXPECT_FALSE(second.objectForKey(QStringLiteral("Registered")).isValid());
}

TEST(UserDefaults, TwoWritersOfASharedDomainKeepEachOthersKeys)
{
    const QString path = freshPath();
    UserDefaults ours(QStringLiteral("com.tagmeta.shared"), path);
    UserDefaults theirs(QStringLiteral("com.tagmeta.shared"), path);
    QVariantList seen;
    auto token = ours.addObserver(QStringLiteral("recentlyEnteredTags"),
                                  [&](const QString&, const QVariant& v) { seen.append(v); });

    ours.setObject(QStringList{QStringLiteral("a")}, QStringLiteral("recentlyEnteredTags"));
    theirs.setString(QStringLiteral("x"), QStringLiteral("theirKey"));
    ours.setBool(true, QStringLiteral("ourKey"));
    theirs.setObject(QStringList{QStringLiteral("b"), QStringLiteral("a")},
                     QStringLiteral("recentlyEnteredTags"));

    const QVariantMap onDisk = PropertyList::readFile(path)->toMap();
    EXPECT_EQ(onDisk.value(QStringLiteral("theirKey")), QVariant(QStringLiteral("x")));
    EXPECT_EQ(onDisk.value(QStringLiteral("ourKey")), QVariant(true));

    // synchronize brings in the other writer's change and tells our observers about it.
    ASSERT_TRUE(ours.synchronize());
    EXPECT_EQ(ours.arrayForKey(QStringLiteral("recentlyEnteredTags")),
              (QVariantList{QStringLiteral("b"), QStringLiteral("a")}));
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen.last().toList().size(), 2);
}

TEST(UserDefaults, ObserversRunOutsideTheLockAndStopWithTheirToken)
{
    UserDefaults defaults(QStringLiteral("test.observers"), freshPath());
    defaults.registerDefaults({{QStringLiteral("Bool_ShowSideBarItemCount"), QStringLiteral("YES")}});
    int calls = 0;
    bool lastValue = true;
    UserDefaults::ObserverToken token = defaults.addObserver(
        QStringLiteral("Bool_ShowSideBarItemCount"), [&](const QString& key, const QVariant& v) {
            ++calls;
            lastValue = v.toBool();
            // Reading and writing from inside an observer must not deadlock.
            EXPECT_EQ(defaults.objectForKey(key), v);
            defaults.setInteger(calls, QStringLiteral("Int_Calls"));
        });
    defaults.setBool(false, QStringLiteral("Bool_ShowSideBarItemCount"));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(lastValue);
    defaults.setBool(false, QStringLiteral("Bool_ShowSideBarItemCount"));
    EXPECT_EQ(calls, 1) << "an unchanged value is no change";
    defaults.setString(QStringLiteral("other"), QStringLiteral("Other"));
    EXPECT_EQ(calls, 1);
    defaults.removeObjectForKey(QStringLiteral("Bool_ShowSideBarItemCount"));
    EXPECT_EQ(calls, 2) << "falling back to the registered value is a change";
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_Calls")), 2);

    token.reset();
    defaults.setBool(false, QStringLiteral("Bool_ShowSideBarItemCount"));
    EXPECT_EQ(calls, 2);

    // A token may outlive its defaults object.
    UserDefaults::ObserverToken orphan;
    {
        UserDefaults shortLived(QStringLiteral("test.observers"), freshPath());
        orphan = shortLived.addObserver(QStringLiteral("k"), [](const QString&, const QVariant&) {});
    }
    orphan.reset();
}

TEST(UserDefaults, DamagedFileIsKeptAsideNeverOverwritten)
{
    for (const QByteArray& damaged :
         {QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key>"),
          QByteArray("bplist00 definitely not"),
          *PropertyList::write(QVariantList{1, 2}, PlistFormat::Xml)}) {
        const QString path = freshPath();
        testsupport::writeFile(path, damaged);
        UserDefaults defaults(QStringLiteral("test.corrupt"), path);
        EXPECT_TRUE(defaults.dictionaryRepresentation().isEmpty());
        const QStringList aside = corruptCopies(path);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(testsupport::readFile(QFileInfo(path).dir().filePath(aside.first())), damaged);

        defaults.setBool(true, QStringLiteral("Bool_Rated"));
        EXPECT_EQ(PropertyList::readFile(path)->toMap().value(QStringLiteral("Bool_Rated")), QVariant(true));
    }
}

TEST(UserDefaults, UnreadableFileIsLeftAloneAndSettingsStayInMemory)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files regardless of permissions";
    const QString path = freshPath();
    ASSERT_TRUE(PropertyList::writeFile(QVariantMap{{QStringLiteral("keep"), 1}}, path, PlistFormat::Xml));
    const QByteArray before = testsupport::readFile(path);
    QFile::setPermissions(path, QFileDevice::Permissions());
    {
        UserDefaults defaults(QStringLiteral("test.unreadable"), path);
        defaults.setInteger(5, QStringLiteral("new"));
        EXPECT_EQ(defaults.integerForKey(QStringLiteral("new")), 5);
        EXPECT_FALSE(defaults.synchronize());
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(testsupport::readFile(path), before);
}

TEST(UserDefaults, SomethingElseAtTheFilePathIsLeftAlone)
{
    const QString path = freshPath();
    ASSERT_TRUE(QDir().mkpath(path));
    testsupport::writeFile(path + QStringLiteral("/inside"), "precious");
    {
        UserDefaults defaults(QStringLiteral("test.folder"), path);
        defaults.setInteger(5, QStringLiteral("new"));
        EXPECT_EQ(defaults.integerForKey(QStringLiteral("new")), 5);
        EXPECT_FALSE(defaults.synchronize());
    }
    EXPECT_EQ(testsupport::readFile(path + QStringLiteral("/inside")), "precious");
    EXPECT_TRUE(corruptCopies(path).isEmpty());
}

TEST(UserDefaults, AnObserverRemovedDuringDeliveryIsNotCalled)
{
    UserDefaults defaults(QStringLiteral("test.removal"), freshPath());
    UserDefaults::ObserverToken second;
    int secondCalls = 0;
    auto first = defaults.addObserver(QStringLiteral("k"), [&](const QString&, const QVariant&) {
        second.reset();
    });
    second = defaults.addObserver(QStringLiteral("k"),
                                  [&](const QString&, const QVariant&) { ++secondCalls; });
    defaults.setInteger(1, QStringLiteral("k"));
    EXPECT_EQ(secondCalls, 0);
}

TEST(UserDefaults, RefusesValuesWithoutAPropertyListForm)
{
    UserDefaults defaults(QStringLiteral("test.refuse"), freshPath());
    defaults.setString(QStringLiteral("before"), QStringLiteral("k"));
    defaults.setObject(QPoint(1, 2), QStringLiteral("k"));
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("k")), QStringLiteral("before"));
    EXPECT_TRUE(defaults.synchronize());
}

TEST(UserDefaults, DomainsLiveUnderTheConfigHome)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    EXPECT_TRUE(config.startsWith(testsupport::homeDir()));
    EXPECT_EQ(UserDefaults::standardUserDefaults().filePath(),
              config + QStringLiteral("/Folivo 2/com.norlith.folivo2.plist"));
    UserDefaults& shared = UserDefaults::domainNamed(QStringLiteral("com.tagmeta.shared"));
    EXPECT_EQ(&shared, &UserDefaults::domainNamed(QStringLiteral("com.tagmeta.shared")));
    EXPECT_EQ(&UserDefaults::domainNamed(QStringLiteral("com.norlith.folivo2")),
              &UserDefaults::standardUserDefaults());
    EXPECT_EQ(UserDefaults::defaultFilePath(QStringLiteral("../../etc/x")),
              config + QStringLiteral("/Folivo 2/_.._.._etc_x.plist"));
}

TEST(UserDefaults, ConcurrentSettersLoseNothing)
{
    const QString path = freshPath();
    UserDefaults defaults(QStringLiteral("test.threads"), path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 25; ++i)
                defaults.setInteger(i, QStringLiteral("t%1_%2").arg(t).arg(i));
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(PropertyList::readFile(path)->toMap().size(), 100);
}

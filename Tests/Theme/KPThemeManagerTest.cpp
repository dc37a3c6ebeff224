#include "Platform/Foundation/NotificationCenter.h"
#include "Theme/KPColor.h"
#include "Theme/KPThemeManager.h"
#include "Support/TestSupport.h"
#include "ThemeFixtures.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace themefixtures;

namespace {

// Records theme updates into a shared journal, which also receives the notification.
struct Recorder : KPThemeBaseObjectProtocol {
    Recorder(QStringList* journal, QString id) : journal(journal), id(std::move(id)) {}
    void themeUpdateWithName(const QString& name) override { *journal << id + QLatin1Char(':') + name; }
    QStringList* journal;
    QString id;
};

class ThemeManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = testsupport::makeTempDir();
        writeTheme(folder, QStringLiteral("dark"), basicRoot(QStringLiteral("000001")));
        writeTheme(folder, QStringLiteral("light"), basicRoot(QStringLiteral("000002")));
        manager = std::make_unique<KPThemeManager>(folder, false, &center);
        token = center.addObserver(KPThemeManager::kThemeChangeNotification,
                                   [this](const platform::Notification& n) {
                                       EXPECT_FALSE(n.object.isValid());
                                       journal << QStringLiteral("posted");
                                   });
    }

    QColor tint() const
    {
        auto* c = dynamic_cast<KPColor*>(manager->themeObjectWithName(QStringLiteral("Tint")));
        return c && c->color() ? *c->color() : QColor();
    }

    QString folder;
    platform::NotificationCenter center;
    std::unique_ptr<KPThemeManager> manager;
    platform::ObserverToken token;
    QStringList journal;
};

} // namespace

TEST_F(ThemeManagerTest, LookupsNeedACurrentThemeAndAName)
{
    EXPECT_EQ(manager->themeObjectWithName(QStringLiteral("Tint")), nullptr);
    EXPECT_TRUE(manager->themeResourceImageRef().isNull());
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("dark")));
    EXPECT_EQ(manager->themeObjectWithName(QString()), nullptr);
    EXPECT_EQ(manager->customThemeObjectWithName(QString()), nullptr);
    EXPECT_EQ(manager->themeObjectWithName(QStringLiteral("Nope")), nullptr);
    EXPECT_EQ(tint(), QColor(0, 0, 1));
    EXPECT_TRUE(manager->themeObjectWithName(QStringLiteral("Tint"))->isLoaded());
    EXPECT_NE(manager->customThemeObjectWithName(QStringLiteral("Group")), nullptr);
}

TEST_F(ThemeManagerTest, ControlsAreToldOnceEachAndBeforeTheNotification)
{
    Recorder a(&journal, QStringLiteral("a"));
    Recorder b(&journal, QStringLiteral("b"));
    manager->addThemeObject(&a);
    manager->addThemeObject(&b);
    manager->addThemeObject(&a);
    EXPECT_EQ(manager->themeObjectCount(), 2);
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("dark")));
    EXPECT_EQ(journal, QStringList({QStringLiteral("a:dark"), QStringLiteral("b:dark"), QStringLiteral("posted")}));

    journal.clear();
    EXPECT_TRUE(manager->updateThemeByName(QStringLiteral("dark")));   // already current
    EXPECT_TRUE(journal.isEmpty());

    manager->removeThemeObject(&a);
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("light")));
    EXPECT_EQ(journal, QStringList({QStringLiteral("b:light"), QStringLiteral("posted")}));
}

TEST_F(ThemeManagerTest, SwitchingBackToACachedThemeLoadsNothing)
{
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("dark")));
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("light")));
    // With the files gone, only the cache can answer.
    ASSERT_TRUE(QDir(folder + QStringLiteral("/theme")).removeRecursively());
    journal.clear();
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("dark")));
    EXPECT_EQ(tint(), QColor(0, 0, 1));
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("light")));
    EXPECT_EQ(tint(), QColor(0, 0, 2));
    EXPECT_EQ(journal.count(QStringLiteral("posted")), 2);
}

TEST_F(ThemeManagerTest, UnknownNameFallsBackToDarkAndIsCachedUnderItsOwnName)
{
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("light")));
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("purple")));
    EXPECT_EQ(manager->currentThemeName(), QStringLiteral("purple"));
    EXPECT_EQ(tint(), QColor(0, 0, 1));
    ASSERT_TRUE(QDir(folder + QStringLiteral("/theme")).removeRecursively());
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("light")));
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("purple")));   // from the cache
    EXPECT_EQ(tint(), QColor(0, 0, 1));
}

TEST_F(ThemeManagerTest, FailedSwitchChangesNothing)
{
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("light")));
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/theme/dark.png")));
    journal.clear();
    EXPECT_FALSE(manager->updateThemeByName(QStringLiteral("dark")));
    EXPECT_FALSE(manager->updateThemeByName(QStringLiteral("unknown")));   // no dark to fall back on
    EXPECT_EQ(manager->currentThemeName(), QStringLiteral("light"));
    EXPECT_EQ(tint(), QColor(0, 0, 2));
    EXPECT_TRUE(journal.isEmpty());
}

TEST_F(ThemeManagerTest, DestroyedControlsAreNeverCalledAndDoNotAccumulate)
{
    Recorder keep(&journal, QStringLiteral("keep"));
    manager->addThemeObject(&keep);
    // A hover tool bar registers fresh buttons on every entry and drops them on exit.
    for (int i = 0; i < 100; ++i) {
        auto temporary = std::make_unique<Recorder>(&journal, QStringLiteral("gone"));
        manager->addThemeObject(temporary.get());
    }
    EXPECT_EQ(manager->themeObjectCount(), 1);
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("dark")));
    EXPECT_EQ(journal, QStringList({QStringLiteral("keep:dark"), QStringLiteral("posted")}));
}

TEST_F(ThemeManagerTest, AControlDestroyedDuringASwitchIsSkipped)
{
    // The first control's update destroys the second, as a rebuilt view would.
    struct Killer : KPThemeBaseObjectProtocol {
        std::unique_ptr<Recorder>* victim = nullptr;
        void themeUpdateWithName(const QString&) override { victim->reset(); }
    };
    auto victim = std::make_unique<Recorder>(&journal, QStringLiteral("victim"));
    Killer killer;
    killer.victim = &victim;
    manager->addThemeObject(&killer);
    manager->addThemeObject(victim.get());
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("dark")));
    EXPECT_EQ(journal, QStringList({QStringLiteral("posted")}));
}

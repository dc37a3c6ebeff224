#include "Controls/KP28ColorsPicker.h"
#include "Dialogs/Preferences/FormatListViewCell.h"
#include "Dialogs/Preferences/LibraryLocation.h"
#include "Dialogs/Preferences/PreferencesWindowController.h"
#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"
#include "PrefsTestKit.h"
#include "Utilities/FlagNames.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace prefstest;
using Pane = PreferencesPane;

namespace {

QVariantList kindRows()
{
    QVariantList rows;
    for (int id : {1, 26, 27, 28})
        rows << QVariantMap{{QStringLiteral("ID"), id},
                            {QStringLiteral("Name"), QStringLiteral("Kind %1").arg(id)},
                            {QStringLiteral("Extension"), QStringLiteral("k%1").arg(id)},
                            {QStringLiteral("Group"), QStringLiteral("Documents")}};
    return rows;
}

platform::MailProgram program(const QString& id, const QString& name)
{
    platform::MailProgram p;
    p.application.id = id;
    p.application.name = name;
    return p;
}

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = makeLibrary();
        QFile::copy(platform::Bundle::mainBundle().pathForResource(QStringLiteral("FlagConfig"), QStringLiteral("plist")),
                    library + QStringLiteral("/flagconfig.plist"));
        defaults().setString(library, LibraryLocation::kLibraryPathKey);
        resetFlagNameCacheForTesting();
        for (const QString& key : cleared)
            defaults().removeObjectForKey(key);

        services.updateThemeByName = [this](const QString& name) {
            themesTried << name;
            return !failingThemes.contains(name);
        };
        services.installedMailPrograms = [] {
            return QList<platform::MailProgram>{program(QStringLiteral("thunderbird.desktop"), QStringLiteral("Thunderbird")),
                                                program(QStringLiteral("org.gnome.Evolution.desktop"), QStringLiteral("Evolution"))};
        };
        services.formatManager = &formats;
        services.makeSourcePane = [] { return new QWidget; };
        services.reveal = [this](const QString& path) { revealed << path; };
        services.relaunch = [this] { ++relaunches; };
    }
    void TearDown() override
    {
        if (controller && controller->window())
            controller->window()->close();
        for (const QString& key : cleared)
            defaults().removeObjectForKey(key);
        defaults().removeObjectForKey(LibraryLocation::kLibraryPathKey);
        resetFlagNameCacheForTesting();
    }

    PreferencesWindowController* open(Pane start = Pane::General)
    {
        controller = PreferencesWindowController::showPreferences(nullptr, start, services);
        return controller;
    }
    void close()
    {
        ASSERT_TRUE(controller);
        controller->window()->close();
        ASSERT_TRUE(testsupport::spinUntil([&] { return controller.isNull(); }));
    }
    // On the indicator: a box wider than its text takes clicks only there.
    static void click(QAbstractButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    QCheckBox* formatBox(qint64 kind) const
    {
        for (FormatListViewCell* cell : controller->formatCells())
            if (cell->kindID() == kind)
                return cell->btnChecker();
        return nullptr;
    }

    const QStringList cleared{PreferencesWindowController::kThemeNameKey, PreferencesWindowController::kMailClientKey,
                              PreferencesWindowController::kUnSupportKindIDsKey, LibraryLocation::kFirstRunKey,
                              QStringLiteral("Array_RecentLibrary_Paths")};
    QString library;
    Dialogs dialogs;
    KPFileFormatManager formats{kindRows()};
    PreferencesWindowController::Services services;
    QPointer<PreferencesWindowController> controller;
    QStringList themesTried;
    QStringList failingThemes;
    QStringList revealed;
    int relaunches = 0;
};

} // namespace

TEST_F(PreferencesTest, StartPaneToolBarAndPaneSwitchKeepingTheTopEdge)
{
    for (auto [start, expected] : {std::pair{Pane::Source, Pane::Source}, std::pair{Pane::Advanced, Pane::Advanced},
                                   std::pair{Pane::General, Pane::General}}) {
        open(start);
        EXPECT_EQ(controller->currentPane(), expected);
        ASSERT_TRUE(controller->outlets().paneGroup->checkedAction());
        EXPECT_EQ(Pane(controller->outlets().paneGroup->checkedAction()->data().toInt()), expected);
        EXPECT_EQ(controller->window()->windowTitle(), preferencesPaneName(expected));
        EXPECT_EQ(controller->window()->windowModality(), Qt::ApplicationModal);
        close();
    }

    open();
    // Five buttons; Devices has none, and showing it leaves none lit.
    const auto items = controller->outlets().toolBar->actions();
    EXPECT_EQ(items.size(), 5);
    for (QAction* item : items)
        EXPECT_NE(Pane(item->data().toInt()), Pane::Devices);
    controller->switchViews(Pane::Devices);
    EXPECT_EQ(controller->outlets().paneGroup->checkedAction(), nullptr);

    // A taller pane grows the window downwards: the top edge stays.
    controller->switchViews(Pane::General);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return controller->window()->height() == controller->outlets().views[int(Pane::General)]->height()
                                                     + controller->outlets().toolBar->sizeHint().height();
    }));
    const int top = controller->window()->geometry().top();
    controller->outlets().items.value(Pane::Formats)->trigger();
    const int formatsHeight = controller->outlets().views[int(Pane::Formats)]->height()
                              + controller->outlets().toolBar->sizeHint().height();
    ASSERT_TRUE(testsupport::spinUntil([&] { return controller->window()->height() == formatsHeight; }));
    EXPECT_EQ(controller->window()->geometry().top(), top);

    // Low on the screen, a taller pane moves the window up rather than below the screen's edge.
    controller->switchViews(Pane::General);
    const int generalHeight = controller->outlets().views[int(Pane::General)]->height()
                              + controller->outlets().toolBar->sizeHint().height();
    ASSERT_TRUE(testsupport::spinUntil([&] { return controller->window()->height() == generalHeight; }));
    const QRect free = controller->window()->screen()->availableGeometry();
    ASSERT_LT(formatsHeight, free.height() - 40);
    controller->window()->move(controller->window()->x(), free.bottom() - generalHeight - 5);
    controller->outlets().items.value(Pane::Formats)->trigger();
    ASSERT_TRUE(testsupport::spinUntil([&] { return controller->window()->height() == formatsHeight; }));
    EXPECT_LE(controller->window()->geometry().bottom(), free.bottom());

    // The Add Source command's way in waits half a second.
    platform::kit::VirtualScheduler clock;
    controller->switchToSourceView();
    clock.advance(PreferencesWindowController::kSwitchToSourceDelayMs - 1);
    EXPECT_EQ(controller->currentPane(), Pane::Formats);
    clock.advance(1);
    EXPECT_EQ(controller->currentPane(), Pane::Source);
}

TEST_F(PreferencesTest, FormatsAreStoredOnCloseOnlyOnceShownAndGarbageIsDropped)
{
    defaults().setString(QStringLiteral("27, junk,,27,1x"), PreferencesWindowController::kUnSupportKindIDsKey);
    formats.reloadUnSupportKindIDS();
    open();
    close();
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kUnSupportKindIDsKey), QStringLiteral("27, junk,,27,1x"))
        << "never shown: untouched";

    open(Pane::Formats);
    ASSERT_EQ(controller->formatCells().size(), 4);
    EXPECT_FALSE(formatBox(27)->isChecked());
    EXPECT_TRUE(formatBox(26)->isChecked());
    click(formatBox(27)); // back on
    click(formatBox(26));
    click(formatBox(28));
    close();
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kUnSupportKindIDsKey), QStringLiteral("26,28"));
    EXPECT_EQ(formats.unSupportKindIDS(), (QStringList{QStringLiteral("26"), QStringLiteral("28")}));
    EXPECT_FALSE(formats.checkFileIsSupportImport(QStringLiteral("/x/a.k26")));

    open(Pane::Formats);
    click(formatBox(26));
    click(formatBox(28));
    close();
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kUnSupportKindIDsKey), QString());
    EXPECT_TRUE(formats.unSupportKindIDS().isEmpty());
    EXPECT_TRUE(formats.checkFileIsSupportImport(QStringLiteral("/x/a.k26")));
}

TEST_F(PreferencesTest, FlagNamesKeepTheOldNameWhenEmptyAndAreCleanedOtherwise)
{
    const QString orange = flagNameForIndex(2);
    open(Pane::Flags);
    const auto& fields = controller->outlets().flagFields;
    EXPECT_EQ(fields.value(22)->text(), orange);
    fields.value(22)->clear();
    fields.value(11)->setText(QStringLiteral("   "));
    fields.value(33)->setText(QStringLiteral("  To\nread\tlater  "));
    fields.value(44)->setText(QString(300, QLatin1Char('w')));
    close();
    EXPECT_EQ(flagNameForIndex(2), orange);
    EXPECT_EQ(flagNameForIndex(1), QStringLiteral("Red"));
    EXPECT_EQ(flagNameForIndex(3), QStringLiteral("To read later"));
    EXPECT_EQ(flagNameForIndex(4), QString(kMaxFlagNameLength, QLatin1Char('w')));
    // What was written is what the next run reads.
    resetFlagNameCacheForTesting();
    EXPECT_EQ(flagNameForIndex(3), QStringLiteral("To read later"));
}

TEST_F(PreferencesTest, ThemeIsStoredOnlyWhenItLoaded)
{
    defaults().setString(QStringLiteral("gray"), PreferencesWindowController::kThemeNameKey);
    failingThemes = {QStringLiteral("red"), QStringLiteral("light")};
    open();
    auto& center = platform::NotificationCenter::defaultCenter();
    // The swatch and the light/dark cells show the theme in force, not the last one asked for.
    const auto picked = [&] { return controller->themePicker()->selectedIndex(); };
    const int gray = picked();
    center.post(QStringLiteral("28ColorsPickerChange"), QStringLiteral("red"));
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kThemeNameKey), QStringLiteral("gray"));
    EXPECT_EQ(picked(), gray);
    center.post(QStringLiteral("28ColorsPickerChange"), QStringLiteral("blue"));
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kThemeNameKey), QStringLiteral("blue"));
    const int blue = picked();
    EXPECT_NE(blue, gray);

    // The matrix's light cell fails like the picker's: nothing stored; dark loads.
    click(controller->outlets().themeMaxtrix->button(2));
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kThemeNameKey), QStringLiteral("blue"));
    EXPECT_FALSE(controller->outlets().themeMaxtrix->button(2)->isChecked());
    EXPECT_EQ(picked(), blue);
    click(controller->outlets().themeMaxtrix->button(1));
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kThemeNameKey), QStringLiteral("dark"));
    EXPECT_NE(picked(), blue) << "the swatch follows the theme the cell chose";
    EXPECT_TRUE(controller->outlets().themeMaxtrix->button(1)->isChecked());
    EXPECT_EQ(themesTried, (QStringList{QStringLiteral("red"), QStringLiteral("blue"), QStringLiteral("light"),
                                        QStringLiteral("dark")}));
}

TEST_F(PreferencesTest, MailPopUpListsTheProgramsFoundAndStoresAtOnce)
{
    for (auto [stored, shown] : {std::pair{QStringLiteral("org.mozilla.thunderbird"), 0},
                                 std::pair{QStringLiteral("gone.desktop"), 0},
                                 std::pair{QStringLiteral("org.gnome.Evolution.desktop"), 2},
                                 std::pair{QStringLiteral("eml"), 3}}) {
        defaults().setString(stored, PreferencesWindowController::kMailClientKey);
        open();
        QComboBox* popUp = controller->outlets().mailClientPopButton;
        ASSERT_EQ(popUp->count(), 4);
        EXPECT_EQ(popUp->currentIndex(), shown) << stored.toStdString();
        close();
    }
    open();
    QComboBox* popUp = controller->outlets().mailClientPopButton;
    EXPECT_EQ(popUp->itemText(1), QStringLiteral("Thunderbird"));
    Q_EMIT popUp->activated(1);
    // Stored before the window closes.
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kMailClientKey), QStringLiteral("thunderbird.desktop"));
    Q_EMIT popUp->activated(0);
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kMailClientKey), QStringLiteral("com.apple.mail"));
    Q_EMIT popUp->activated(3);
    EXPECT_EQ(defaults().stringForKey(PreferencesWindowController::kMailClientKey), QStringLiteral("eml"));
}

TEST_F(PreferencesTest, CreatingALibraryStoresItAndRelaunchesAfterTheNotice)
{
    platform::kit::VirtualScheduler clock;
    const QString folder = testsupport::makeTempDir(QStringLiteral("target"));
    open(Pane::Advanced);
    dialogs.scriptOpenPanel({folder});
    QTest::mouseClick(controller->outlets().btnCreateLibrary, Qt::LeftButton);
    const QString created = folder + QStringLiteral("/Folivo 2 Library");
    ASSERT_TRUE(testsupport::spinUntil([&] { return defaults().stringForKey(LibraryLocation::kLibraryPathKey) == created; }));
    EXPECT_TRUE(defaults().boolForKey(LibraryLocation::kFirstRunKey));
    EXPECT_EQ(recentLibraries(), QStringList{created});
    EXPECT_EQ(controller->outlets().pathControl->text(), created);

    clock.advance(PreferencesWindowController::kRelaunchDelayMs - 1);
    EXPECT_EQ(dialogs.count(Kind::Alert), 0);
    clock.advance(1);
    ASSERT_EQ(dialogs.count(Kind::Alert), 1);
    EXPECT_EQ(dialogs.last(Kind::Alert).window, controller->window()) << "a sheet on the preferences";
    ASSERT_TRUE(testsupport::spinUntil([&] { return relaunches == 1; }));
}

TEST_F(PreferencesTest, ChoosingALibraryRefusesWhatCannotBeOpenedAndStillRelaunchesWhenClosedEarly)
{
    platform::kit::VirtualScheduler clock;
    const QString other = makeLibrary(QStringLiteral("other"));
    const QString notALibrary = testsupport::makeTempDir(QStringLiteral("plain"));
    open(Pane::Advanced);

    // Not a library, and the library in use: nothing changes, nothing relaunches.
    for (const QString& answer : {notALibrary, library + QLatin1Char('/')}) {
        dialogs.scriptOpenPanel({answer});
        QTest::mouseClick(controller->outlets().btnChooseLibrary, Qt::LeftButton);
        ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.requests().last().answered; }));
    }
    clock.advance(2000);
    EXPECT_EQ(alertTexts(dialogs), QStringList{platform::localizedString(QStringLiteral("InvalidLibraryStr"))});
    EXPECT_EQ(defaults().stringForKey(LibraryLocation::kLibraryPathKey), library);
    EXPECT_EQ(relaunches, 0);

    // A real library, then the window closed before the notice: the notice comes all the same.
    dialogs.scriptOpenPanel({other});
    QTest::mouseClick(controller->outlets().btnChooseLibrary, Qt::LeftButton);
    ASSERT_TRUE(testsupport::spinUntil([&] { return defaults().stringForKey(LibraryLocation::kLibraryPathKey) == other; }));
    EXPECT_EQ(recentLibraries(), QStringList{other});
    close();
    ASSERT_EQ(dialogs.count(Kind::Alert), 2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return relaunches == 1; }));
    clock.advance(2000);
    EXPECT_EQ(relaunches, 1);
}

TEST_F(PreferencesTest, ThePathLabelRevealsTheLibrary)
{
    open(Pane::Advanced);
    EXPECT_EQ(controller->outlets().pathControl->text(), library);
    QTest::mouseClick(controller->outlets().pathControl, Qt::LeftButton);
    EXPECT_EQ(revealed, QStringList{library});
}

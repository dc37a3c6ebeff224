#include "SourcesTestKit.h"

#include "Tools/Sources/SourceItemCloudViewController.h"
#include "Tools/Sources/SourceItemDisconnectButton.h"
#include "Tools/Sources/SourceItemViewController.h"
#include "Tools/Sources/SourceSetupViewController.h"
#include "Tools/Sources/SourceiCloudSetupWindowController.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"

#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

using namespace sourcestest;
using State = SourceRowController::State;

namespace {

class SourcePane : public SourcesFixture {
protected:
    void SetUp() override
    {
        SourcesFixture::SetUp();
        clock = std::make_unique<platform::kit::VirtualScheduler>();
        window = makeWindow(700, 520);
    }
    void TearDown() override
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        clock.reset();
        SourcesFixture::TearDown();
    }

    // A pane as the preferences window would show it, read from the store and disk now.
    SourceSetupViewController* makePane()
    {
        if (pane)
            delete pane->view(); // the view owns its controller
        pane = new SourceSetupViewController(sourceServices(), window.get());
        pane->view()->show();
        return pane;
    }
    SourceItemViewController* row(const QString& type)
    {
        for (SourceItemViewController* r : pane->rows()) {
            if (r->sourceType() == type)
                return r;
        }
        ADD_FAILURE() << qPrintable(type);
        return nullptr;
    }

    // Picks folder in the row's folder chooser and confirms it.
    void choose(SourceRowController* r, const QString& folder)
    {
        r->chooseFolder();
        QFileDialog* chooser = r->folderChooser();
        ASSERT_TRUE(chooser);
        EXPECT_EQ(chooser->windowModality(), Qt::WindowModal);
        EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
        chooser->setDirectory(QFileInfo(folder).path());
        chooser->selectFile(QFileInfo(folder).fileName());
        static_cast<QDialog*>(chooser)->accept(); // QFileDialog checks the choice first
        EXPECT_FALSE(chooser->isVisible()) << qPrintable(folder);
        spinEvents();
    }
    void spinEvents()
    {
        // Alerts answer, and deferred deletions happen, on a pass of the event loop.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Presses Remove in the removal sheet shown on host and lets the removal run.
    void confirmRemoval(QWidget* host)
    {
        platform::kit::Sheet* sheet = platform::kit::Sheet::shownSheet(host);
        ASSERT_TRUE(sheet);
        QPushButton* remove = nullptr;
        for (QPushButton* button : sheet->content()->findChildren<QPushButton*>()) {
            if (button->text() == "Remove")
                remove = button;
        }
        ASSERT_TRUE(remove);
        remove->click();
        clock->advance(0);
        spinEvents();
        EXPECT_EQ(platform::kit::Sheet::shownSheet(host), nullptr);
    }

    static void expectRow(SourceRowController* r, State state)
    {
        const SourceItemOutlets& ui = r->outlets();
        EXPECT_EQ(r->state(), state) << qPrintable(r->title());
        const bool connected = state == State::Connected;
        EXPECT_EQ(ui.txtNotFound->isVisibleTo(r->view()), state == State::Missing || state == State::NotFound);
        EXPECT_EQ(ui.btnConnect->isVisibleTo(r->view()), !connected);
        EXPECT_EQ(ui.btnDisconnect->isVisibleTo(r->view()), connected);
        if (ui.pathControl) {
            EXPECT_EQ(ui.pathControl->isVisibleTo(r->view()), connected || state == State::Available);
        }
    }

    std::unique_ptr<platform::kit::VirtualScheduler> clock;
    std::unique_ptr<QWidget> window;
    QPointer<SourceSetupViewController> pane;
};

} // namespace

TEST_F(SourcePane, WithoutSourcesOrDefaultFoldersEveryRowOffersConnect)
{
    makePane();
    QStringList types, titles;
    for (SourceItemViewController* r : pane->rows()) {
        types.append(r->sourceType());
        titles.append(r->title());
        expectRow(r, State::NotFound);
        EXPECT_TRUE(r->outlets().btnConnect->isEnabled()) << "a service may keep its folder anywhere";
    }
    EXPECT_EQ(types, QStringList({"DropBox", "GoogleDrive", "SkyDrive", "Box", "SugarSync", "Copy"}));
    EXPECT_EQ(titles, QStringList({"Dropbox", "Google Drive", "OneDrive", "Box", "SugarSync", "Copy"}));
    EXPECT_EQ(row("SugarSync")->defalutSourcePath(), home + "/Documents/My SugarSync");
    // Rows 52 points apart below the iCloud area, backgrounds alternating from light grey.
    EXPECT_EQ(pane->outlets().iCloudView->geometry(), QRect(2, 2, 556, 50));
    EXPECT_EQ(pane->rows()[0]->view()->geometry(), QRect(2, 54, 556, 50));
    EXPECT_EQ(pane->rows()[5]->view()->geometry(), QRect(2, 314, 556, 50));
    EXPECT_EQ(pane->rows()[0]->bgColor(), QColor(244, 244, 244));
    EXPECT_EQ(pane->rows()[1]->bgColor(), QColor(Qt::white));

    // A default folder on disk is offered; a live source whose folder is gone is not found.
    QDir().mkpath(home + "/OneDrive");
    addSource(disk + "/Gone", IndexFolderType::Box);
    QDir(disk + "/Gone").removeRecursively();
    makePane();
    expectRow(row("SkyDrive"), State::Available);
    EXPECT_TRUE(row("SkyDrive")->outlets().pathControl->text().endsWith("\u25B8 OneDrive"));
    EXPECT_EQ(row("SkyDrive")->outlets().pathControl->toolTip(), home + "/OneDrive");
    expectRow(row("Box"), State::Missing);
    EXPECT_TRUE(row("Box")->indexFolderPath().isEmpty());
}

TEST_F(SourcePane, ADropboxFolderChosenElsewhereIsConnectedThenRemovedOnDisconnect)
{
    makePane();
    const QString folder = disk + "/Elsewhere/My Dropbox";
    const QString a = put("Elsewhere/My Dropbox/a.pdf");
    SourceItemViewController* dropbox = row("DropBox");
    choose(dropbox, folder);
    EXPECT_EQ(dropbox->folderChooser(), nullptr);
    clock->advance(299);
    EXPECT_TRUE(added.isEmpty());
    clock->advance(1);
    ASSERT_EQ(added.size(), 1);
    EXPECT_EQ(added[0], indexFolderDicInfo(folder, "Dropbox", "DropBox"));
    EXPECT_EQ(added[0].value("Path").toUrl(), QUrl::fromLocalFile(folder));
    expectRow(dropbox, State::Connected);
    EXPECT_EQ(dropbox->indexFolderPath(), folder);
    EXPECT_TRUE(dropbox->outlets().pathControl->text().endsWith("Elsewhere \u25B8 My Dropbox"));
    syncAll(findFolder(folder));
    ASSERT_TRUE(liveDocuments().contains(a));

    // Loaded again, the row finds its source.
    makePane();
    dropbox = row("DropBox");
    expectRow(dropbox, State::Connected);
    EXPECT_EQ(dropbox->indexFolderPath(), folder);

    // The disconnect button shows what a press does while the pointer is over it.
    SourceItemDisconnectButton* button = dropbox->outlets().btnDisconnect;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(button, &enter);
    EXPECT_TRUE(button->isMouseIn());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->isMouseIn());

    QTest::mouseClick(button, Qt::LeftButton);
    confirmRemoval(window.get());
    EXPECT_EQ(removed, QStringList{folder});
    EXPECT_TRUE(findFolder(folder).isTrash());
    EXPECT_TRUE(liveDocuments().isEmpty());
    EXPECT_EQ(manager->syncerCount(), 0);
    expectRow(dropbox, State::NotFound);
    EXPECT_TRUE(dropbox->indexFolderPath().isEmpty());
}

TEST_F(SourcePane, TheSameChosenFolderIsRefusedButAnUnrelatedFolderAtTheDefaultPathIsNotInTheWay)
{
    addFolder(home + "/Dropbox"); // a plain index folder that happens to sit at Dropbox's default
    const QString shared = testsupport::makeTempDir("shared");
    makePane();
    expectRow(row("DropBox"), State::Available);

    choose(row("DropBox"), shared);
    clock->advance(300);
    ASSERT_EQ(added.size(), 1);
    EXPECT_EQ(added[0].value("Type"), "DropBox");

    // Another row may not connect the same folder again, nor a folder an index folder watches
    // already, however its record spells it.
    const QString spelt = testsupport::makeTempDir("spelt");
    addFolder(spelt + "/");
    choose(row("GoogleDrive"), shared);
    choose(row("Box"), spelt);
    choose(row("Copy"), home + "/Dropbox");
    clock->advance(1000);
    EXPECT_EQ(added.size(), 1);
    expectRow(row("GoogleDrive"), State::NotFound);
    EXPECT_TRUE(alerts.isEmpty()) << "refused without a message";
}

TEST_F(SourcePane, TheLibraryFolderCannotBeASourceButAFolderHoldingItCan)
{
    makePane();
    const QString link = disk + "/library link";
    ASSERT_TRUE(QFile::link(library, link));
    choose(row("Copy"), library);
    choose(row("Copy"), library + "/Documents");
    choose(row("Copy"), link);
    clock->advance(1000);
    EXPECT_TRUE(added.isEmpty());
    EXPECT_EQ(alerts, QStringList(3, "The library folder cannot be a document source."));

    const QString holder = QFileInfo(library).path();
    choose(row("Copy"), holder);
    clock->advance(300);
    ASSERT_EQ(added.size(), 1);
    EXPECT_EQ(added[0].value("Path").toUrl().toLocalFile(), holder);
}

TEST_F(SourcePane, TheICloudWindowListsTheConfiguredAppFoldersWhichLinuxNeverHas)
{
    makePane();
    pane->outlets().btnManageCloud->click();
    SourceiCloudSetupWindowController* iCloud = pane->iCloudWindow();
    ASSERT_TRUE(iCloud);
    EXPECT_EQ(iCloud->window()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(iCloud->window()->parentWidget(), window.get());
    EXPECT_FALSE(iCloud->showsSetting());
    EXPECT_FALSE(iCloud->outlets().btnHowToSetup->isVisibleTo(iCloud->window())) << "no help page configured";
    QStringList names;
    for (SourceItemCloudViewController* r : iCloud->rows()) {
        names.append(r->title());
        expectRow(r, State::NotFound);
        EXPECT_FALSE(r->outlets().btnConnect->isEnabled());
        EXPECT_EQ(r->outlets().pathControl, nullptr);
    }
    EXPECT_EQ(names, QStringList({"Pages", "Numbers", "Keynote", "TextEdit", "Preview", "Photo Stream"}));
    EXPECT_EQ(iCloud->rows()[0]->defalutSourcePath(), home + "/Library/Mobile Documents/com~apple~Pages/Documents");
    EXPECT_EQ(iCloud->rows()[0]->view()->geometry(), QRect(2, 2, 556, 50));
    EXPECT_EQ(iCloud->rows()[1]->view()->geometry(), QRect(2, 54, 556, 50));
    EXPECT_EQ(iCloud->rows()[1]->bgColor(), QColor(244, 244, 244));

    iCloud->outlets().btnNextToSetting->click();
    EXPECT_TRUE(iCloud->showsSetting());
    iCloud->outlets().btnDone->click();
    spinEvents();
    EXPECT_EQ(pane->iCloudWindow(), nullptr);
}

TEST_F(SourcePane, AnICloudRowTakesItsPlaceholderForTheRealLibraryFolderAndDisconnectsIt)
{
    const QString config = testsupport::makeTempDir("config") + "/iCloudServiceConfig.plist";
    testsupport::writeFile(config, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array>
<dict><key>Name</key><string>Notes</string><key>Path</key><string>#/Mobile Documents/x</string></dict>
<string>not an entry</string>
<dict><key>Name</key><string>Other</string><key>Path</key><string>%/Mobile Documents/y</string></dict>
<dict><key>Name</key><string>Empty</string></dict>
</array></plist>)");
    const QString x = home + "/Library/Mobile Documents/x";
    const QString y = home + "/Library/Mobile Documents/y";
    QDir().mkpath(y);
    addSource(x, IndexFolderType::iCloud);
    const QString doc = x + "/n.pdf";
    testsupport::writeFile(doc, "%PDF-1.4 not really");
    syncAll(findFolder(x));
    ASSERT_TRUE(liveDocuments().contains(doc));

    auto* iCloud = new SourceiCloudSetupWindowController(sourceServices(), window.get(), config);
    QPointer<QDialog> dialog = iCloud->window();
    int ended = 0;
    iCloud->beginSheet([&](int code) { ended = code; });
    ASSERT_EQ(iCloud->rows().size(), 3);
    EXPECT_TRUE(iCloud->showsSetting()) << "a live iCloud source skips the introduction";
    SourceItemCloudViewController* notes = iCloud->rows()[0];
    EXPECT_EQ(notes->defalutSourcePath(), x);
    expectRow(notes, State::Connected);
    expectRow(iCloud->rows()[1], State::Available);
    EXPECT_TRUE(iCloud->rows()[1]->outlets().btnConnect->isEnabled());
    EXPECT_EQ(iCloud->rows()[1]->defalutSourcePath(), y);
    expectRow(iCloud->rows()[2], State::NotFound);

    // The removal sheet hangs from the iCloud window itself.
    QTest::mouseClick(notes->outlets().btnDisconnect, Qt::LeftButton);
    confirmRemoval(dialog);
    EXPECT_EQ(removed, QStringList{x});
    EXPECT_TRUE(findFolder(x).isTrash());
    EXPECT_TRUE(liveDocuments().isEmpty());
    expectRow(notes, State::Available);

    dialog->close();
    spinEvents();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(dialog.isNull());
}

#include "MainWindow/MainWindowParts.h"

#include "Controls/KPButtonGroups.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "Controls/KPSlider.h"
#include "Controls/KPTokenEditorView.h"
#include "Browser/ItemViews/KPImportDraggingView.h"
#include "Browser/KPViewSizeManager.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Inspector/TagEditorViewController.h"
#include "Dialogs/Welcome/NoDocumentView.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KeepWindowAskController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/SafeBoxWiring.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/FontResolver.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarContext.h"
#include "SideBar/SubSideBarDataSource.h"

#include "SmartFolder/KPSmartFolderWindowController.h"
#include <QDialog>
#include <QLabel>
#include <QMenu>

MainWindowParts::MainWindowParts(MainWindowContext& ctx)
    : m_ctx(ctx)
    , grid(ctx)
    , content(withGrid(ctx, grid))
    , badges(ctx)
    , chrome(ctx)
    , sortDisplay(ctx)
    , quickLook(ctx)
    , interaction(ctx)
    , zoom(ctx)
    , sharing(ctx)
    , contextMenu(ctx, sharing)
    , importFlow(ctx)
    , sideBarRequests(ctx, content)
    , drops(ctx)
    , inspectorEdits(ctx, content)
    , inspectorPane(ctx, inspectorEdits)
    , menuActions(ctx, chrome, sortDisplay, zoom)
    , search(ctx)
    , documentMenuActions(ctx)
    , panelMenuActions(ctx)
    , scan(ctx)
{
    m_ctx.search = &search;
    wire();
}

MainWindowParts::~MainWindowParts()
{
    m_ctx.search = nullptr;
    if (m_ctx.scanner == &scan)
        m_ctx.scanner = m_previousScanner;
    m_ctx.gridDataSource = nullptr;
}

MainWindowContext& MainWindowParts::withGrid(MainWindowContext& ctx, GridDataSource& grid)
{
    ctx.gridDataSource = &grid;
    return ctx;
}

void MainWindowParts::wire()
{
    // ---- the smart-folder sheet: File > New Smart Folder and the side bar's Edit Smart Folder ----
    const SmartFolderEditor smartFolderEditor = [this](QWidget* window, const QString& title, const QByteArray& rules,
                                                       std::function<void(int, const QByteArray&, const QString&)> done) {
        if (!m_ctx.dialogs) {
            if (done)
                done(0, {}, {});
            return;
        }
        auto* sheet = new KPSmartFolderWindowController(SmartFolderChoices::fromStore(m_ctx.store));
        sheet->beginSheetWithWindow(window, *m_ctx.dialogs, std::move(done));
        sheet->setSmartData(rules);
        // After the rules: a folder whose rules are empty keeps its own name.
        sheet->setTitle(title);
    };
    search.setSmartFolderEditor(smartFolderEditor);
    if (m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->setSmartFolderEditor(smartFolderEditor);

    // ---- the chrome around the grid ----
    chrome.hooks.collectionViewItemDidSelected = [this] {
        if (grid.actions.itemDidSelected)
            grid.actions.itemDidSelected();
    };
    chrome.hooks.sliderChange = [this](double value) { menuActions.sliderChange(value); };
    chrome.install();
    content.buttonsChanged = [this](const ContentButtons& buttons) { chrome.showButtons(buttons); };
    chrome.showButtons(content.buttons());
    content.makeImportPanel = [this] { return importFlow.makeImportPanel(); };
    content.makeNoDocumentView = [](QWidget* parent) -> QWidget* { return new NoDocumentView(parent); };
    content.install();
    chrome.hooks.addButonMenu = [this]() -> QMenu* {
        QMenu* menu = platform::kit::toQMenu(addButtonMenuModel(), m_ctx.window, [this](QAction* action) {
            if (m_ctx.commands)
                m_ctx.commands->performFromAction(action);
        });
        menu->setAttribute(Qt::WA_DeleteOnClose);
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                action->setEnabled(menuActions.availability(platform::kit::menuItemCommand(action)) ==
                                   AppMenuController::Availability::Available);
        return menu;
    };
    // Whether folders keep their hierarchy is asked in the window's own sheet (it deletes itself).
    importFlow.askKeepHierarchy = [this](std::function<void(int)> done) {
        (new KeepWindowAskController)->beginSheet(m_ctx.window, *m_ctx.dialogs, std::move(done));
    };

    SortDisplayThemeHandlers::Controls controls;
    controls.groupButtons = chrome.btnGroupButtons();
    controls.viewModeMenu = chrome.btnViewModeMenu();
    controls.setViewModeButtonImage = [this](const QString& sprite) { chrome.setViewModeButtonImage(sprite); };
    controls.reloadChromeTheme = [this] { chrome.reloadTheme(); };
    sortDisplay.setControls(std::move(controls));

    // ---- the grid: keys, selection, preview, zoom and tiles ----
    interaction.togglePreview = [this] { quickLook.togglePreview(); };
    interaction.isPreviewing = [this] { return m_ctx.state.isPreviewing; };
    interaction.reloadPreviewItems = [this] { quickLook.selectionChanged(); };
    interaction.backButtonVisible = [this] { return chrome.btnBack() && chrome.btnBack()->isVisible(); };
    interaction.backButtonClick = [this] { chrome.onBackButtonClick(); };
    interaction.setLeftSideBarExpand = [this](bool expand) { chrome.setBLeftSideBarExpand(expand); };
    interaction.countTextChanged = [this](const QString& text, bool shown) {
        if (QLabel* label = chrome.labItemCount()) {
            label->setText(text);
            label->setVisible(shown);
            chrome.adjustLabItemCountPosition();
        }
    };
    interaction.install();
    quickLook.navigationByArrowKey = [this](char16_t arrow) { interaction.navigationByArrowKey(arrow); };
    // The preview follows every change of the grid's selection.
    if (auto selected = grid.actions.itemDidSelected) {
        grid.actions.itemDidSelected = [this, selected] {
            selected();
            quickLook.selectionChanged();
        };
    }

    zoom.setZoomSliderValue = [this](double scale) {
        if (KPSlider* slider = chrome.zoomSlider())
            slider->setCurrentValue(scale);
    };
    zoom.enterSubLayerChrome = [this] {
        ContentButtons buttons = content.buttons();
        buttons.backButton = true;
        buttons.groupButtons = false;
        buttons.documentsButtons = false;
        buttons.recentButtons = false;
        chrome.showButtons(buttons);
    };
    zoom.showPreview = [this] {
        if (!m_ctx.state.isPreviewing)
            quickLook.togglePreview();
    };
    zoom.setRightPropertyViewExpand = [this](bool expand) { chrome.setBRightPropertyViewExpand(expand); };
    zoom.install();

    // ---- the context menu and sharing ----
    sharing.install();
    contextMenu.onSideBarNodeChange = [this](const KPNode::Ptr& node) { content.onSideBarNodeChange(node); };
    contextMenu.onSubSideBarNodeChange = [this](const KPNode::Ptr& node) { content.onSubSideBarNodeChange(node); };
    contextMenu.install();

    // ---- the SafeBox: its copy sheet, its list's menu, its commands ----
    wireSafeBox(m_ctx, sideBarRequests, contextMenu);

    // ---- drops on the grid ----
    drops.install(grid.actions);

    // ---- the tag popovers show the tag editor ----
    auto tagEditor = [](const QStringList& tags, TagEditorCallbacks callbacks) -> QWidget* {
        TagEditorViewController* editor = TagEditorViewController::documentTagEditor(
            tags, std::move(callbacks.valueChange), std::move(callbacks.done));
        // The field is the popover's only control: outlined, and saying what it takes.
        KPTokenEditorView* field = editor->tagEditView();
        field->setDrawsFieldFrame(true);
        platform::kit::TextAttributes hint = platform::kit::TextAttributes::plain(platform::kit::FontResolver::systemFont(12));
        hint.color = QColor(0x6e, 0x6e, 0x6e);
        field->setPlaceHolderTextAttrible(hint);
        field->setPlaceHolderString(platform::localizedString(QStringLiteral("Add tags")));
        return editor;
    };
    KPSectionItemView::services().tagEditor = tagEditor;
    sharing.tagEditor = tagEditor;
    drops.askImportTags = [](QWidget* anchor, GridDropHandler::TagAnswer answer) {
        TagEditorViewController::askImportTags(anchor, std::move(answer));
    };

    // ---- the menu bar's commands ----
    menuActions.showActionWindow = [this](bool show) { interaction.showActionWindow(show); };
    menuActions.copyToSafeBoxAvailable = [this] { return bool(sideBarRequests.copyToSafeBox); };
    menuActions.install();

    // ---- the searches ----
    search.showMainNode = [this](const KPNode::Ptr& node) { content.onSideBarNodeChange(node); };
    search.appendSmartFolderItems = [this](const KPNode::Ptr& node, const QList<KPItemDataPtr>& items) {
        content.appendSmartFolderHits(node, items);
    };
    search.layoutSearchField = [this] { chrome.layoutSearchField(); };
    documentMenuActions.onSideBarNodeChange = [this](const KPNode::Ptr& node) { content.onSideBarNodeChange(node); };
    documentMenuActions.showPreview = [this] {
        if (!m_ctx.state.isPreviewing)
            quickLook.togglePreview();
    };
    documentMenuActions.setInspectorExpanded = [this](bool expand) { chrome.setBRightPropertyViewExpand(expand); };
    documentMenuActions.rateSelection = [this](int rate) { inspectorEdits.onRateChange(rate); };
    documentMenuActions.copySelectionToSafeBox = [this] {
        if (!sideBarRequests.copyToSafeBox)
            return false;
        sideBarRequests.onSideBarMoveDataToSafeBox();
        return true;
    };
    documentMenuActions.install();
    panelMenuActions.onSideBarNodeChange = [this](const KPNode::Ptr& node) { content.onSideBarNodeChange(node); };
    panelMenuActions.install();

    // ---- File > Scan… ----
    scan.onSideBarNodeChange = [this](const KPNode::Ptr& node) { content.onSideBarNodeChange(node); };
    scan.install();
    m_previousScanner = m_ctx.scanner;
    m_ctx.scanner = &scan;
}

platform::kit::MenuModel MainWindowParts::addButtonMenuModel()
{
    using platform::kit::MenuItemModel;
    const auto item = [](const char* title, const char* command) {
        return MenuItemModel::item(QString::fromUtf8(title), 0, QString::fromLatin1(command));
    };
    return {{},
            {item("New Folder", "menuAddFolder"), item("New Collection", "menuAddCollection"),
             item("New Smart Folder", "menuAddSmartFolder"), MenuItemModel::separator(), item("New Tag", "menuAddTag"),
             item("New Tag Group", "menuAddTagGroup"), MenuItemModel::separator(),
             item("Add Index Folder…", "menuAddIndexFolder")}};
}

void MainWindowParts::fillDocumentSubmenus(AppMenuController& menu)
{
    const std::pair<QAction*, int> submenus[] = {{menu.itemOpenWith(), GridContextMenu::OpenWithTag},
                                                 {menu.itemFlag(), GridContextMenu::FlagTag},
                                                 {menu.itemMoveCollection(), GridContextMenu::MoveToCollectionTag},
                                                 {menu.itemShare(), GridContextMenu::ShareTag}};
    for (const auto& [item, tag] : submenus) {
        QMenu* submenu = item ? item->menu() : nullptr;
        if (!submenu)
            continue;
        QObject::connect(submenu, &QMenu::aboutToShow, submenu,
                         [this, submenu, tag = tag] { contextMenu.fillSubmenu(submenu, tag); });
    }
}

SideBarDataSourceDelegate MainWindowParts::sideBarDelegate()
{
    SideBarDataSourceDelegate main;
    main.onSideBarBeforeNodeWillChange = [this](const KPNode::Ptr& n) { content.onSideBarBeforeNodeWillChange(n); };
    main.onSideBarNodeChange = [this](const KPNode::Ptr& n) { content.onSideBarNodeChange(n); };
    SubSideBarDataSourceDelegate unused;
    sideBarRequests.fillDelegates(unused, main);
    return main;
}

SubSideBarDataSourceDelegate MainWindowParts::subSideBarDelegate()
{
    SubSideBarDataSourceDelegate sub;
    sub.onSubSideBarBeforeNodeWillChange = [this](const KPNode::Ptr& n) { content.onSubSideBarBeforeNodeWillChange(n); };
    sub.onSubSideBarNodeChange = [this](const KPNode::Ptr& n) { content.onSubSideBarNodeChange(n); };
    sub.onSubSideBarNodesChange = [this](const QList<KPNode::Ptr>& n) { content.onSubSideBarNodesChange(n); };
    SideBarDataSourceDelegate unused;
    sideBarRequests.fillDelegates(sub, unused);
    return sub;
}

// Brings the window's menus, buttons and grid in line when the sort and display settings or
// the theme change: the handlers of "DataSourceSortingChange", "DisplayModeChange",
// "SortSettingViewModeChange", "SectionSortChange", "FileSortSettingChange" and
// "KPThemeChangeNotification". They observe ctx.notifications from construction on.
//
// The controls they change belong to WindowChrome, which hands them in with setControls(); a
// control left null is skipped. The grid's sections are GridDataSource's.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPSectionData.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

class KPButtonGroups;
class QMenu;
struct MainWindowContext;

class SortDisplayThemeHandlers {
public:
    // The view-mode button's sprite names in the theme group "Topbar".
    static inline const QString kIconViewIcon = QStringLiteral("IconViewIcon");
    static inline const QString kListViewIcon = QStringLiteral("ListViewIcon");
    static constexpr int kSafeBoxItemViewType = 6;

    struct Controls {
        QPointer<KPButtonGroups> groupButtons;
        // The view-mode pop-up menu where one exists: tag 1/2 the modes, tag 3 the section
        // order submenu, tag 4 the file sort submenu.
        QPointer<QMenu> viewModeMenu;
        // Shows the named "Topbar" sprite on the view-mode button.
        std::function<void(const QString& spriteName)> setViewModeButtonImage;
        // Re-reads the chrome's own sprites and theme objects after a theme change.
        std::function<void()> reloadChromeTheme;
    };

    explicit SortDisplayThemeHandlers(MainWindowContext& ctx);
    ~SortDisplayThemeHandlers();
    SortDisplayThemeHandlers(const SortDisplayThemeHandlers&) = delete;
    SortDisplayThemeHandlers& operator=(const SortDisplayThemeHandlers&) = delete;

    void setControls(Controls controls);

    void onDataSourceSortingChange();
    void onDisplayModeChange();
    void onSortSettingViewModeChange();
    void onSectionSortChange();
    void onFileSortSettingChange();
    void onKPThemeChangeNotification();

    // The sprite the view-mode button shows now.
    QString viewModeButtonImage() const { return m_viewModeImage; }

    // Sorts the documents of one section by a file sort type 1–7; any other type, or a section
    // holding records other than documents, keeps its order.
    static void sortSection(QList<KPSectionItem>& items, int fileSortType, bool ascending);

private:
    void setViewModeImage(const QString& name);

    MainWindowContext& m_ctx;
    Controls m_controls;
    QString m_viewModeImage = kIconViewIcon;
    std::vector<platform::ObserverToken> m_observers;
};

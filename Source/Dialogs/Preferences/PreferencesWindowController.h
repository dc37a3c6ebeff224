// The preferences window: General (theme and mail program), Source (document sources), Flags
// (flag names), Formats (which kinds are imported), Advanced (the library's location, choosing
// another library or setting up a new one) and Devices, which has no tool-bar button.
//
// The window is application-modal, opened without a nested event loop; the controller lives as
// long as the window, and both go when it closes. The theme and the mail program take effect at
// once; the formats and flag names are stored when the window closes; a change of library is
// stored at once and, 0.7 s later, a sheet says the program relaunches, which it does whatever
// the sheet answers. A window closed in those 0.7 s still gets the notice, over the program.
//
// Main thread only.
#pragma once

#include "Dialogs/Preferences/PreferencesWindow.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/DelayedCalls.h"
#include "Platform/Mail/MailProgram.h"

#include <QList>
#include <QObject>
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>

class FormatListViewCell;
class KP28ColorsPicker;
class KPFileFormatManager;

namespace platform::kit {
class DialogService;
}

class PreferencesWindowController : public QObject {
public:
    // What the window works with; an empty member means the program's own.
    struct Services {
        platform::kit::DialogService* dialogs = nullptr;
        std::function<bool(const QString& name)> updateThemeByName;
        std::function<QList<platform::MailProgram>()> installedMailPrograms;
        KPFileFormatManager* formatManager = nullptr;
        // The Source pane's view (default: the document-sources pane over the shared stores).
        std::function<QWidget*()> makeSourcePane;
        std::function<void(const QString& path)> reveal;
        // Relaunches the program (the application delegate's relaunch and termination).
        std::function<void()> relaunch;
    };

    static inline const QString kThemeNameKey = QStringLiteral("String_ThemeName");
    static inline const QString kMailClientKey = QStringLiteral("String_DefaultMailClient");
    static inline const QString kUnSupportKindIDsKey = QStringLiteral("String_UnSupportKindIDS");
    // The mail choices that are no program.
    static inline const QString kSystemDefaultMail = QStringLiteral("com.apple.mail");
    static inline const QString kSaveAsMailFile = QStringLiteral("eml");
    static constexpr int kRelaunchDelayMs = 700;
    static constexpr int kSwitchToSourceDelayMs = 500;
    static constexpr int kResizeMs = 200;

    // Opens the window application-modal on the start pane; answers its controller, which goes
    // with the window.
    static PreferencesWindowController* showPreferences(QWidget* parent, PreferencesPane start, Services services);

    PreferencesWindowController(PreferencesPane start, Services services, QWidget* parent = nullptr);
    ~PreferencesWindowController() override;

    QDialog* window() const { return m_outlets.window; }
    const PreferencesOutlets& outlets() const { return m_outlets; }
    KP28ColorsPicker* themePicker() const { return m_themePicker; }
    PreferencesPane currentPane() const { return m_currentPane; }
    // The kinds switched off, once the Formats pane was shown.
    const std::optional<QStringList>& unSupportKindIDS() const { return m_unSupportKindIDS; }
    const QList<FormatListViewCell*>& formatCells() const { return m_formatCells; }

    void switchViews(PreferencesPane pane);
    // Shows the Source pane half a second from now (the Add Source command's way in).
    void switchToSourceView();

    void btnMailClientChange(int index);
    void on28ColorsPickerChange(const QString& name);
    void btnSwitchThemeClick(int tag);
    void pathControlDoubleClick();
    void menuCreateNewLibraryClick();
    void btnChooseLibrary();

private:
    void awakeFromNib();
    void fillMailPopUp();
    void switchViewsWithTabName(PreferencesPane pane);
    void prepareSourcePane();
    void prepareFlagsPane();
    void prepareFormatsPane();
    void resizeWindowTo(const QSize& paneSize);
    void onFormatListViewCellCheckChange(FormatListViewCell* cell);
    void applyTheme(const QString& name);
    // Selects the stored theme in the colour picker and the light/dark cells.
    void showStoredTheme();
    void libraryChanged();
    void showRelaunchSheet();
    void windowWillClose();
    platform::kit::DialogService& dialogs() const;
    KPFileFormatManager& formatManager() const;

    Services m_services;
    PreferencesOutlets m_outlets;
    PreferencesPane m_startPane;
    PreferencesPane m_currentPane = PreferencesPane::General;
    KP28ColorsPicker* m_themePicker = nullptr;
    QPointer<QWidget> m_sourcePane;
    std::optional<QStringList> m_unSupportKindIDS;
    QList<FormatListViewCell*> m_formatCells;
    bool m_relaunchPending = false;
    bool m_closed = false;
    platform::kit::DelayedCalls m_delayed;
    platform::ObserverToken m_pickerObserver;
    platform::ObserverToken m_themeObserver;
};

// The window start-up shows when there is no usable library: the user points at an existing
// library or picks a folder in which a new one is to be made ("<folder>/Folivo 2 Library",
// created by the rest of start-up). It only changes the user defaults and lists the library
// among the recent ones.
//
// Modes: plain (the library is missing), re-choose (it cannot be accessed) and create (none
// was ever set up), where the two buttons trade titles and actions so that creating sits
// where choosing sits otherwise.
//
// The window is application-modal. showWindow() opens it without a nested event loop and
// tells when it has closed; runModal() is start-up's way, before the main window exists, and
// waits in a nested loop. Either answers whether a library was chosen or set up; a window
// closed without one answers false, and start-up then stops. Main thread only.
#pragma once

#include "Dialogs/Preferences/NotFoundDataBaseWindow.h"

#include <QObject>
#include <functional>

namespace platform::kit {
class DialogService;
}

class NotFoundDataBaseWindowController : public QObject {
public:
    enum class Mode { Plain, Rechoose, CreateNew };
    // The codes the session ends with.
    static constexpr int kCreatedCode = 1;
    static constexpr int kChosenCode = 2;

    // dialogs: null for the program's own.
    explicit NotFoundDataBaseWindowController(Mode mode, platform::kit::DialogService* dialogs = nullptr,
                                              QWidget* parent = nullptr);
    ~NotFoundDataBaseWindowController() override;

    // Opens the window; closed(chose) runs once it has closed.
    void showWindow(std::function<void(bool chose)> closed);
    bool runModal();

    void btnChooseLibrary();
    void btnCreateNewLibrary();

    int resultCode() const { return m_resultCode; }
    bool chose() const { return m_chose; }
    Mode mode() const { return m_mode; }
    QDialog* window() const { return m_outlets.window; }
    const NotFoundDataBaseOutlets& outlets() const { return m_outlets; }

private:
    void awakeFromNib();
    void finish(int code);
    platform::kit::DialogService& dialogs() const;

    Mode m_mode;
    platform::kit::DialogService* m_dialogs;
    NotFoundDataBaseOutlets m_outlets;
    int m_resultCode = kCreatedCode;
    bool m_chose = false;
    std::function<void(bool)> m_closed;
};

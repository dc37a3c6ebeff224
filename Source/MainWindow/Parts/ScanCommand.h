// File > Scan…: the scan window, one at a time, centred on the main window and brought to the
// front on every call. When it closes, the grid shows Documents or Collections again if one of
// them is shown, so a saved scan appears there. The program's quit shortcut works in it too.
//
// Main thread only.
#pragma once

#include "MainWindow/MainWindowExtensions.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "SideBar/KPNode.h"

#include <chrono>
#include <functional>
#include <memory>

struct MainWindowContext;
class KPScannerWindowController;

class ScanCommand : public ScannerLauncher {
public:
    static inline const QString kCommand = QStringLiteral("menuScanClick");

    explicit ScanCommand(MainWindowContext& ctx);
    ~ScanCommand() override;

    void install();

    bool isAvailable() const override { return true; }
    void showScanner(QWidget* window) override;

    KPScannerWindowController* scannerWindow() const { return m_scanner.get(); }
    // Quit: cancels a running scan or save and waits (bounded) for the save's worker to end, so
    // that it does not work on the library's stores while they close.
    void cancelWork();
    // Tuning: a cancelled save ends after the page it draws, or once its record is stored.
    static constexpr std::chrono::milliseconds kQuitWait{10000};
    // Quit: pages unsaved or being saved would be lost; the scan window asks as closing does
    // (see KPScannerWindowController::askBeforeQuit).
    bool needsQuitQuestion() const;
    void askBeforeQuit(std::function<void(bool quit)> answer);

    // Set in MainWindowParts::wire().
    std::function<void(const KPNode::Ptr& node)> onSideBarNodeChange;

private:
    void scannerClosed();

    MainWindowContext& m_ctx;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::unique_ptr<KPScannerWindowController> m_scanner;
    platform::kit::CommandDispatcher::Token m_command;
};

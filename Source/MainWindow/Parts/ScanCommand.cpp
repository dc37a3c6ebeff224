#include "MainWindow/Parts/ScanCommand.h"

#include "Controls/VQTitlebarWindow.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowContext.h"
#include "Platform/Foundation/Dispatch.h"
#include "Scanner/UI/KPScannerSaveWindowController.h"
#include "Scanner/UI/KPScannerWindowController.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Platform/Foundation/NotificationCenter.h"

ScanCommand::ScanCommand(MainWindowContext& ctx)
    : m_ctx(ctx)
{
}

ScanCommand::~ScanCommand()
{
    if (m_scanner)
        (void)m_scanner->cancelWork();
}

void ScanCommand::install()
{
    if (m_ctx.commands)
        m_command = m_ctx.commands->add(kCommand, [this](const QVariant&) { showScanner(m_ctx.window); });
}

void ScanCommand::cancelWork()
{
    if (!m_scanner)
        return;
    // The window may close and go while the loop turns in the wait; only the flag is used then.
    const auto saving = m_scanner->cancelWork();
    if (!KPScannerSaveWindowController::waitForSave(saving, kQuitWait))
        KPLogLogMessage(QStringLiteral("Scan: the save still runs after the quit's wait"));
}

bool ScanCommand::needsQuitQuestion() const
{
    return m_scanner && m_scanner->needsQuitQuestion();
}

void ScanCommand::askBeforeQuit(std::function<void(bool quit)> answer)
{
    if (m_scanner)
        m_scanner->askBeforeQuit(std::move(answer));
    else
        answer(true);
}

void ScanCommand::showScanner(QWidget* window)
{
    if (!m_scanner) {
        m_scanner = std::make_unique<KPScannerWindowController>();
        m_scanner->completion = [this] { scannerClosed(); };
        m_scanner->setStore(m_ctx.store);
        // Quit is the program's, whichever of its windows is in front.
        if (QAction* quit = m_ctx.appMenu ? m_ctx.appMenu->actionForCommand(QStringLiteral("terminate")) : nullptr)
            m_scanner->window()->addAction(quit);
        if (window) {
            QWidget* scan = m_scanner->window();
            const QRect frame = window->frameGeometry();
            scan->move(frame.center() - QPoint(scan->width() / 2, scan->height() / 2));
        }
    }
    m_scanner->showWindow();
}

void ScanCommand::scannerClosed()
{
    // The controller is still on the stack of its own completion; let it go afterwards.
    platform::Dispatch::main([this, alive = std::weak_ptr<int>(m_alive)] {
        if (alive.expired())
            return;
        m_scanner.reset();
        // A saved scan is a new document: the badges count it (a discarded one changes nothing
        // a recount would not confirm).
        (m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter())
            .post(RefreshItemCountNotification, QStringLiteral("All"));
        const KPNode::Ptr shown = m_ctx.state.shownNode;
        if (shown && onSideBarNodeChange
            && (shown->nodeType() == SideBarNodeType::DocumentsNode || shown->nodeType() == SideBarNodeType::CollectionsNode))
            onSideBarNodeChange(shown);
    });
}

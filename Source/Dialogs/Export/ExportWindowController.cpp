#include "Dialogs/Export/ExportWindowController.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/KPContextHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

using platform::localizedString;
using platform::kit::Alert;
using platform::kit::DialogService;

namespace {

void showFailure(QWidget* window, const QString& reason)
{
    Alert alert = Alert::withMessage(localizedString(QStringLiteral("The documents could not be exported.")), {});
    alert.setInformativeText(reason);
    alert.setStyle(Alert::Style::Critical);
    DialogService::shared().alert(window, alert, {});
}

} // namespace

ExportWindowController* ExportWindowController::exportToFolder(QWidget* window, const QString& chosenFolder)
{
    return exportToFolder(window, chosenFolder, Options());
}

ExportWindowController* ExportWindowController::exportToFolder(QWidget* window, const QString& chosenFolder,
                                                               Options options)
{
    if (!window)
        return nullptr;
    const platform::ContextPtr main = KPContextHelper::defaultContext();
    if (!main) {
        showFailure(window, localizedString(QStringLiteral("No library is open.")));
        return nullptr;
    }
    auto folder = ExportOperation::settleExportFolder(chosenFolder);
    if (!folder) {
        KPLogLogDomainMessage(QStringLiteral("Export"), 0,
                              QStringLiteral("Export folder not made: %1").arg(folder.error().toString()));
        showFailure(window, folder.error().message);
        return nullptr;
    }
    // The worker reads through a child of the default context: what is only in memory here is
    // saved first so that it exports what the user sees.
    if (main->hasChanges())
        KPContextHelper::save(main);

    auto operation = std::make_shared<ExportOperation>(*folder);
    if (options.copy)
        operation->setCopyFunction(options.copy);
    auto* controller = new ExportWindowController(window, std::move(operation), std::move(options));
    controller->start();
    return controller;
}

ExportWindowController::ExportWindowController(QWidget* window, std::shared_ptr<ExportOperation> operation,
                                               Options options)
    : QObject(window), m_window(window), m_operation(std::move(operation)), m_options(std::move(options))
{
    buildExportDocumentWindow(m_outlets);
    m_sheet = new platform::kit::Sheet(m_outlets.content, this);
    connect(m_outlets.btnCancel, &QPushButton::clicked, this, &ExportWindowController::btnCancel);
}

ExportWindowController::~ExportWindowController()
{
    // A window that goes mid-export takes the controller along; the worker stops at its next
    // check and its reports find nobody.
    m_operation->cancel();
}

void ExportWindowController::start()
{
    DialogService::shared().beginSheet(m_window, *m_sheet, {});
    QPointer<ExportWindowController> guard(this);
    std::shared_ptr<ExportOperation> operation = m_operation;
    KPCoreDataAction::lookupWithBlockWithBackground([guard, operation](const platform::ContextPtr& context) {
        const ExportOperation::Summary summary =
            operation->run(context, [guard](int maximum, int value, const QString& title) {
                platform::Dispatch::main([guard, maximum, value, title] {
                    if (guard)
                        guard->showProgress(maximum, value, title);
                });
            });
        platform::Dispatch::main([guard, summary] {
            if (guard)
                guard->finish(summary);
        });
    });
}

void ExportWindowController::btnCancel()
{
    m_operation->cancel();
    m_outlets.btnCancel->setEnabled(false);
}

void ExportWindowController::showProgress(int maximum, int value, const QString& title)
{
    m_outlets.progressIndicator->setRange(0, std::max(maximum, 0));
    m_outlets.progressIndicator->setValue(std::clamp(value, 0, std::max(maximum, 0)));
    if (!title.isNull())
        m_outlets.txtHint->setText(title);
}

void ExportWindowController::finish(const ExportOperation::Summary& summary)
{
    m_sheet->end(1);
    if (summary.failed == 0 || !m_window) {
        reveal(summary);
        return;
    }
    const QString key = summary.failed == 1 ? QStringLiteral("%ld document could not be exported.")
                                            : QStringLiteral("%ld documents could not be exported.");
    Alert alert = Alert::withMessage(
        localizedString(key).replace(QLatin1String("%ld"), QString::number(summary.failed)), {});
    alert.setInformativeText(localizedString(QStringLiteral("The file may be missing, or the disk may be full or read-only.")));
    QPointer<ExportWindowController> guard(this);
    DialogService::shared().alert(m_window, alert, [guard, summary](int) {
        if (guard)
            guard->reveal(summary);
    });
}

void ExportWindowController::reveal(const ExportOperation::Summary& summary)
{
    platform::Workspace& workspace = m_options.workspace ? *m_options.workspace : platform::Workspace::shared();
    if (auto shown = workspace.selectFile(exportFolder()); !shown)
        KPLogLogDomainMessage(QStringLiteral("Export"), 0,
                              QStringLiteral("Export folder not shown: %1").arg(shown.error().toString()));
    Q_EMIT finished(summary.copied, summary.failed, summary.cancelled);
    deleteLater();
}

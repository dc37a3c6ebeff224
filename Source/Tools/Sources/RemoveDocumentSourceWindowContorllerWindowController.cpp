#include "Tools/Sources/RemoveDocumentSourceWindowContorllerWindowController.h"

#include "Tools/Sources/DocumentSourceRemoval.h"
#include "Tools/Sources/SourceText.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Scheduler.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

using platform::kit::Alert;
using platform::kit::Scheduler;
using platform::kit::Sheet;

namespace {

constexpr int kRemovedCode = 1;
constexpr int kCancelledCode = 0;

} // namespace

RemoveDocumentSourceWindowContorllerWindowController::RemoveDocumentSourceWindowContorllerWindowController(
    IndexFolderServices services)
    : m_services(std::move(services))
{
    buildRemoveDocumentSourceWindow(m_outlets);
    QObject::connect(m_outlets.btnCancel, &QPushButton::clicked, this, [this] { btnCancel(); });
    QObject::connect(m_outlets.btnRemove, &QPushButton::clicked, this, [this] { btnRemove(); });
    auto* escape = new QShortcut(QKeySequence::Cancel, m_outlets.content);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(escape, &QShortcut::activated, this, [this] { btnCancel(); });
    m_sheet = std::make_unique<Sheet>(m_outlets.content.data());
    m_sheet->setCancelCode(kCancelledCode);
}

RemoveDocumentSourceWindowContorllerWindowController::~RemoveDocumentSourceWindowContorllerWindowController() = default;

void RemoveDocumentSourceWindowContorllerWindowController::removeSourceWithPath(const QString& path,
                                                                                const QString& title,
                                                                                QWidget* sheetWindow,
                                                                                CompletedBlock completedBlock)
{
    if (m_sheet->isBegun())
        return;
    m_folderPath = path;
    m_folderTitle = title;
    m_completedBlock = std::move(completedBlock);
    m_outlets.txtHint->setText(localizedFormat(QStringLiteral("Do you want to remove the Document Source \"%@\"?"), title));
    m_window = sheetWindow ? sheetWindow->window() : nullptr;
    if (!m_window) {
        alertDidEnd(kCancelledCode);
        return;
    }
    m_sheet->begin(m_window, [this](int code) { alertDidEnd(code); });
}

void RemoveDocumentSourceWindowContorllerWindowController::btnCancel()
{
    if (!m_removing)
        m_sheet->end(kCancelledCode);
}

void RemoveDocumentSourceWindowContorllerWindowController::btnRemove()
{
    if (m_removing || !m_sheet->isBegun())
        return;
    m_removing = true;
    m_outlets.progressIndicator->show();
    m_outlets.btnRemove->hide();
    m_outlets.btnCancel->hide();
    m_outlets.btnRemoving->show();
    Scheduler::current().after(this, 0, [this] { performRemoval(); });
}

void RemoveDocumentSourceWindowContorllerWindowController::performRemoval()
{
    // A window destroyed meanwhile has ended the sheet (NO) already.
    if (!m_sheet->isBegun())
        return;
    const auto outcome = DocumentSourceRemoval::removeSource(m_folderPath, m_services);
    m_saveFailed = !outcome;
    m_sheet->end(outcome ? kRemovedCode : kCancelledCode);
}

void RemoveDocumentSourceWindowContorllerWindowController::alertDidEnd(int returnCode)
{
    // The content may be going with a destroyed window: it is not touched here.
    if (m_saveFailed && m_window) {
        Alert alert = Alert::withMessage(localizedFormat(QStringLiteral("The document source \"%@\" could not be removed."),
                                                         m_folderTitle),
                                         {});
        alert.beginSheet(m_window, {});
    }
    const CompletedBlock block = std::move(m_completedBlock);
    m_completedBlock = nullptr;
    deleteLater();
    if (block)
        block(returnCode == kRemovedCode);
}

#include "Tools/Sources/SourceiCloudSetupWindowController.h"

#include "Tools/Sources/IndexFolderType.h"
#include "Tools/Sources/SourceItemCloudViewController.h"
#include "Tools/Sources/SourceSetupView.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DBIndexFolder.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDialog>
#include <QPushButton>
#include <QStackedWidget>

#ifndef FOLIVO_ICLOUD_HELP_URL
#define FOLIVO_ICLOUD_HELP_URL ""
#endif

namespace {

const QColor kOddRowColor(244, 244, 244);

bool hasLiveICloudSource(DataBaseEngine* library)
{
    if (!library || !library->context())
        return false;
    auto predicate = platform::Predicate::format(QStringLiteral("isTrash == NO && type == %@"), {IndexFolderType::iCloud});
    return predicate && library->countByObject(DBIndexFolder::entityName(), *predicate) > 0;
}

} // namespace

SourceiCloudSetupWindowController::SourceiCloudSetupWindowController(SourceServices services, QWidget* parent,
                                                                     const QString& configPath)
{
    const QList<ICloudServiceEntry> entries = iCloudServiceEntries(configPath);
    buildSourceiCloudSetupWindow(m_outlets, int(entries.size()), parent);
    setParent(m_outlets.window);
    m_outlets.window->setAttribute(Qt::WA_DeleteOnClose);

    const int height = m_outlets.rowsView->height();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        auto* row = new SourceItemCloudViewController(entries[i], services, m_outlets.rowsView);
        row->view()->setGeometry(sourceRowFrame(int(i), height));
        row->setBgColor(i % 2 == 0 ? QColor(Qt::white) : kOddRowColor);
        m_rows.append(row);
    }

    m_outlets.btnHowToSetup->setVisible(!helpPageURL().isEmpty());
    m_outlets.pages->setCurrentWidget(hasLiveICloudSource(services.stores.library) ? m_outlets.settingView
                                                                                   : m_outlets.introView);
    QObject::connect(m_outlets.btnNextToSetting, &QPushButton::clicked, this, [this] { btnNextToSettingClick(); });
    QObject::connect(m_outlets.btnDone, &QPushButton::clicked, this, [this] { btnDoneClick(); });
    QObject::connect(m_outlets.btnHowToSetup, &QPushButton::clicked, this, [this] { btnHowToSetupClick(); });
    QObject::connect(m_outlets.window, &QDialog::finished, this, [this] { windowWillClose(); });
}

bool SourceiCloudSetupWindowController::showsSetting() const
{
    return m_outlets.pages->currentWidget() == m_outlets.settingView;
}

QUrl SourceiCloudSetupWindowController::helpPageURL()
{
    return QUrl(QStringLiteral(FOLIVO_ICLOUD_HELP_URL));
}

void SourceiCloudSetupWindowController::beginSheet(Ended ended)
{
    m_ended = std::move(ended);
    m_outlets.window->setWindowModality(Qt::WindowModal);
    m_outlets.window->open();
}

void SourceiCloudSetupWindowController::btnNextToSettingClick()
{
    m_outlets.pages->setCurrentWidget(m_outlets.settingView);
}

void SourceiCloudSetupWindowController::btnDoneClick()
{
    m_outlets.window->close();
}

void SourceiCloudSetupWindowController::btnHowToSetupClick()
{
    const QUrl url = helpPageURL();
    if (url.isEmpty())
        return;
    if (auto opened = platform::Workspace::shared().openURL(url); !opened)
        KPLogLogMessage(QStringLiteral("The iCloud help page did not open: %1").arg(opened.error().toString()));
}

void SourceiCloudSetupWindowController::windowWillClose()
{
    // Closing ends the window with 1, however it was closed.
    const Ended ended = std::move(m_ended);
    m_ended = nullptr;
    if (ended)
        ended(1);
}

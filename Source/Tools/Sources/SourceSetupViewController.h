// The "Source" pane of the preferences: the iCloud area, whose Manage… opens the iCloud window,
// and one row per cloud-sync service, in the order of cloudSourceKinds(), their backgrounds
// alternating light grey and white. The preferences window shows view(); the pane's controller
// is a child of its view and goes with it.
#pragma once

#include "Tools/Sources/SourceServices.h"
#include "Tools/Sources/SourceSetupView.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QPainter;
class SourceItemViewController;
class SourceiCloudSetupWindowController;

class SourceSetupViewController : public QObject {
public:
    explicit SourceSetupViewController(SourceServices services = SourceServices::shared(), QWidget* parent = nullptr);

    QWidget* view() const;
    const SourceSetupOutlets& outlets() const { return m_outlets; }
    const QList<SourceItemViewController*>& rows() const { return m_rows; }

    // Opens the iCloud window over the pane's window; its end changes nothing here.
    void btnManageCloudClick();
    // The iCloud window while it is open.
    SourceiCloudSetupWindowController* iCloudWindow() const { return m_iCloudWindow; }

private:
    void onDrawBG(QPainter& painter);
    void onDrawICloudBG(QPainter& painter);

    SourceServices m_services;
    SourceSetupOutlets m_outlets;
    QList<SourceItemViewController*> m_rows;
    QPointer<SourceiCloudSetupWindowController> m_iCloudWindow;
};

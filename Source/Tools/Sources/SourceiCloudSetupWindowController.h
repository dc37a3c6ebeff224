// The iCloud window of the Source pane: one row per entry of "iCloudServiceConfig.plist". It
// opens on the introduction unless a live "iCloud" source exists, and then on the rows. It is a
// window-modal dialog over the pane's window (so the rows' own folder chooser and removal sheet
// can hang from it); closing it, by Done or otherwise, ends it with code 1.
//
// The help page's address is build configuration (FOLIVO_ICLOUD_HELP_URL); without one the
// help button is hidden. The controller lives as long as its window, which deletes itself when
// it closes. Main thread only.
#pragma once

#include "Tools/Sources/SourceServices.h"
#include "Tools/Sources/SourceiCloudSetupWindow.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>

class QDialog;
class SourceItemCloudViewController;

class SourceiCloudSetupWindowController : public QObject {
public:
    using Ended = std::function<void(int returnCode)>;

    // configPath: the configuration list; the bundle's unless given.
    SourceiCloudSetupWindowController(SourceServices services, QWidget* parent, const QString& configPath = {});

    QDialog* window() const { return m_outlets.window; }
    const SourceiCloudSetupOutlets& outlets() const { return m_outlets; }
    const QList<SourceItemCloudViewController*>& rows() const { return m_rows; }
    bool showsSetting() const;

    // Opens the window over its parent; ended runs once it has closed.
    void beginSheet(Ended ended);

    void btnNextToSettingClick();
    void btnDoneClick();
    void btnHowToSetupClick();

    // The configured help page; empty when the build names none.
    static QUrl helpPageURL();

private:
    void windowWillClose();

    SourceiCloudSetupOutlets m_outlets;
    QList<SourceItemCloudViewController*> m_rows;
    Ended m_ended;
};

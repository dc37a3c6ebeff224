// The application object. Besides running the event loop it turns a few low-level events into
// notifications that views listen for: a mouse-down anywhere closes monitors and the open
// auto-completion list, a pinch in the main window zooms the grid, and a modifier-key change lets
// views update hover states without a key focus of their own. The rules live in KPEventRules so
// that they can be exercised without a second application object.
#pragma once

#include "App/KPEventRules.h"
#include "Platform/Kit/CompletionListHolder.h"

#include <QApplication>

class KPApp : public QApplication, public platform::kit::CompletionListHolder {
    Q_OBJECT
public:
    KPApp(int& argc, char** argv);
    ~KPApp() override;

    static KPApp* sharedApplication();

    // The open auto-completion pop-up, or null; not owned.
    QWidget* autoCompletedWindow() const override { return m_rules.autoCompletedWindow(); }
    void setAutoCompletedWindow(QWidget* window) override { m_rules.setAutoCompletedWindow(window); }

    // The window that receives magnify gestures; not owned.
    QWidget* mainWindow() const { return m_rules.mainWindow(); }
    void setMainWindow(QWidget* window) { m_rules.setMainWindow(window); }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    KPEventRules m_rules;
};

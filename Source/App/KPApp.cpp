#include "App/KPApp.h"

#include <QWidget>

KPApp::KPApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

KPApp::~KPApp() = default;

KPApp* KPApp::sharedApplication()
{
    return qobject_cast<KPApp*>(QCoreApplication::instance());
}

bool KPApp::notify(QObject* receiver, QEvent* event)
{
    // Input reaches notify twice, first for the native window and then for the widget; only the
    // widget delivery knows the widget's window. Propagation to parent widgets happens inside
    // QApplication::notify, so each event passes the rules once.
    if (KPEventRules::isRuleEvent(event) && receiver && receiver->isWidgetType()
        && event->spontaneous())
        m_rules.apply(event, static_cast<QWidget*>(receiver));
    return QApplication::notify(receiver, event);
}

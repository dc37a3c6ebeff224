#include "Analytics/AnalyticsConfiguration.h"

#include "Analytics/AnalyticsHostsConfig.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QScreen>
#include <QThread>
#include <chrono>
#include <mutex>
#include <thread>

namespace {
std::mutex g_lock;
std::optional<AnalyticsConfiguration> g_current;
} // namespace

AnalyticsConfiguration AnalyticsConfiguration::defaults()
{
    AnalyticsConfiguration c;
    c.collectionHost = QStringLiteral(FOLIVO_CONFIGURED_ANALYTICS_HOST);
    const QString ip = QStringLiteral(FOLIVO_CONFIGURED_PUBLIC_IP_URL);
    if (!ip.isEmpty())
        c.publicIPURL = QUrl(ip);
    c.now = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
    c.random = [] { return QRandomGenerator::global()->bounded(1000000000u); };
    c.screenSize = [] {
        // Screens belong to the main thread; elsewhere, and without a display, it is 0x0.
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || QThread::currentThread() != qApp->thread())
            return QSize(0, 0);
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->geometry().size() : QSize(0, 0);
    };
    c.sleep = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
    return c;
}

AnalyticsConfiguration AnalyticsConfiguration::current()
{
    std::lock_guard lock(g_lock);
    if (!g_current)
        g_current = defaults();
    return *g_current;
}

void AnalyticsConfiguration::setCurrent(const AnalyticsConfiguration& configuration)
{
    std::lock_guard lock(g_lock);
    g_current = configuration;
}

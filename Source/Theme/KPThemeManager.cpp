#include "Theme/KPThemeManager.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/FontResolver.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <mutex>

KPThemeManager* KPThemeManager::themeManager()
{
    static std::once_flag once;
    static KPThemeManager* shared = nullptr;
    std::call_once(once, [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const bool is2x = screen && screen->devicePixelRatio() >= 2.0;
        const QString folder = platform::Bundle::mainBundle().resourcePath();
        // Theme text styles name the fonts the bundle ships.
        platform::kit::FontResolver::registerFontsIn(folder + QStringLiteral("/font"));
        shared = new KPThemeManager(folder, is2x);   // lives until the process ends
    });
    return shared;
}

KPThemeManager::KPThemeManager(QString resourceFolder, bool is2x, platform::NotificationCenter* center)
    : m_resourceFolder(std::move(resourceFolder))
    , m_is2x(is2x)
    , m_center(center ? center : &platform::NotificationCenter::defaultCenter())
{
}

KPThemeManager::~KPThemeManager() = default;

QStringList KPThemeManager::themeNames()
{
    return {QStringLiteral("dark"), QStringLiteral("light"), QStringLiteral("gray"), QStringLiteral("blue"),
            QStringLiteral("red"), QStringLiteral("green"), QStringLiteral("yellow")};
}

bool KPThemeManager::updateThemeByName(const QString& name)
{
    const auto cached = m_themes.find(name);
    if (cached != m_themes.end()) {
        if (cached->second.get() == m_themeResource)
            return true;
        m_themeResource = cached->second.get();
        m_currentName = name;
        tellControlsAndPost(name);
        return true;
    }

    QString path = QStringLiteral("%1/theme/%2.plist").arg(m_resourceFolder, name);
    if (!QFileInfo(path).isFile()) {
        KPLogLogMessage(QStringLiteral("ThemeName not found: %1").arg(name));
        path = QStringLiteral("%1/theme/%2.plist").arg(m_resourceFolder, kFallbackThemeName);
    }
    auto resourcer = std::make_unique<KPThemeResourcer>(path, m_is2x);
    if (const auto loaded = resourcer->loadResource(); !loaded) {
        KPLogLogMessage(QStringLiteral("LoadThemeResource error[%1]").arg(loaded.error().message));
        return false;
    }
    m_themeResource = resourcer.get();
    m_themes[name] = std::move(resourcer);
    m_currentName = name;
    tellControlsAndPost(name);
    return true;
}

void KPThemeManager::tellControlsAndPost(const QString& name)
{
    // A snapshot: a control may register or drop others while it is told. Each entry is locked
    // only for its own call, so one destroyed by an earlier call is skipped.
    const auto controls = m_themeBaseControls;
    for (const auto& weak : controls) {
        if (const auto alive = weak.lock())
            (*alive)->themeUpdateWithName(name);
    }
    prune();
    m_center->post(kThemeChangeNotification);
}

KPThemeObject* KPThemeManager::themeObjectWithName(const QString& name) const
{
    if (name.isEmpty() || !m_themeResource)
        return nullptr;
    KPThemeObject* object = m_themeResource->themeWithName(name);
    if (object)
        object->load();
    return object;
}

KPCustomThemeObject* KPThemeManager::customThemeObjectWithName(const QString& name) const
{
    if (name.isEmpty() || !m_themeResource)
        return nullptr;
    KPCustomThemeObject* group = m_themeResource->customThemeObjectWithName(name);
    if (group)
        group->load();
    return group;
}

QImage KPThemeManager::themeResourceImageRef() const
{
    return m_themeResource ? m_themeResource->themeImageRef() : QImage();
}

void KPThemeManager::prune()
{
    std::erase_if(m_themeBaseControls, [](const auto& w) { return w.expired(); });
}

void KPThemeManager::addThemeObject(KPThemeBaseObjectProtocol* control)
{
    prune();
    if (!control)
        return;
    for (const auto& weak : m_themeBaseControls) {
        const auto alive = weak.lock();
        if (alive && *alive == control)
            return;
    }
    m_themeBaseControls.push_back(control->m_themeAlive);
}

void KPThemeManager::removeThemeObject(KPThemeBaseObjectProtocol* control)
{
    std::erase_if(m_themeBaseControls, [control](const auto& w) {
        const auto alive = w.lock();
        return !alive || *alive == control;
    });
}

int KPThemeManager::themeObjectCount() const
{
    return int(std::count_if(m_themeBaseControls.begin(), m_themeBaseControls.end(),
                             [](const auto& w) { return !w.expired(); }));
}

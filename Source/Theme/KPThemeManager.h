// The one way the program reaches its themes. It loads a theme by name on first request and
// keeps it for the rest of the run, knows the current theme, answers lookups by name and tells
// registered controls about switches before announcing them with "KPThemeChangeNotification".
//
// Controls are held weakly (see KPThemeBaseObjectProtocol): a destroyed control is skipped, and
// registering the same control again — hover tool bars create and register buttons on every
// entry — does not grow the list, because dead entries are dropped on every registration.
//
// Main thread only, except the creation of the shared instance.
#pragma once

#include "Theme/KPThemeBaseObjectProtocol.h"
#include "Theme/KPThemeResourcer.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

namespace platform {
class NotificationCenter;
}

class KPThemeManager {
public:
    static inline const QString kThemeChangeNotification = QStringLiteral("KPThemeChangeNotification");
    static inline const QString kDefaultThemeName = QStringLiteral("gray");
    static inline const QString kFallbackThemeName = QStringLiteral("dark");

    // The shared manager over the bundle's resources, made on first use. The 2x flag is fixed
    // then from the primary screen's device pixel ratio.
    static KPThemeManager* themeManager();

    // A manager over resourceFolder (which holds the "theme" folder); tests make their own.
    KPThemeManager(QString resourceFolder, bool is2x, platform::NotificationCenter* center = nullptr);
    ~KPThemeManager();
    KPThemeManager(const KPThemeManager&) = delete;
    KPThemeManager& operator=(const KPThemeManager&) = delete;

    // The themes the program offers, in the order the preferences show them.
    static QStringList themeNames();

    bool is2x() const { return m_is2x; }
    const QString& resourceFolder() const { return m_resourceFolder; }

    // True when the named theme is current afterwards; false when it could not be loaded,
    // leaving the current theme and the cache as they were.
    bool updateThemeByName(const QString& name);
    QString currentThemeName() const { return m_currentName; }

    KPThemeObject* themeObjectWithName(const QString& name) const;
    KPCustomThemeObject* customThemeObjectWithName(const QString& name) const;
    QImage themeResourceImageRef() const;

    void addThemeObject(KPThemeBaseObjectProtocol* control);
    void removeThemeObject(KPThemeBaseObjectProtocol* control);
    // Live registered controls (diagnostics and tests).
    int themeObjectCount() const;

private:
    void prune();
    void tellControlsAndPost(const QString& name);

    QString m_resourceFolder;
    bool m_is2x;
    platform::NotificationCenter* m_center;
    std::map<QString, std::unique_ptr<KPThemeResourcer>> m_themes;
    KPThemeResourcer* m_themeResource = nullptr;
    QString m_currentName;
    std::vector<std::weak_ptr<KPThemeBaseObjectProtocol*>> m_themeBaseControls;
};

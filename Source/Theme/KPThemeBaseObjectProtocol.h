// What a control implements to follow theme switches. The theme manager holds registered
// controls weakly through a liveness token owned by this base, so a control that is destroyed
// without unregistering is simply skipped and never called back.
#pragma once

#include <QString>
#include <memory>

class KPThemeBaseObjectProtocol {
public:
    virtual void themeUpdateWithName(const QString& themeName) = 0;

protected:
    KPThemeBaseObjectProtocol()
        : m_themeAlive(std::make_shared<KPThemeBaseObjectProtocol*>(this))
    {
    }
    virtual ~KPThemeBaseObjectProtocol() = default;
    KPThemeBaseObjectProtocol(const KPThemeBaseObjectProtocol&) = delete;
    KPThemeBaseObjectProtocol& operator=(const KPThemeBaseObjectProtocol&) = delete;

private:
    friend class KPThemeManager;
    std::shared_ptr<KPThemeBaseObjectProtocol*> m_themeAlive;
};

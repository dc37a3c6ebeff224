// The base of every theme element. The loader makes one unresolved object per description of
// a style list; the object resolves its description the first time it is looked up, so that
// loading a theme costs little per element. Objects are owned by the theme (resourcer or group)
// that made them and handed out as borrowed pointers that stay valid for the theme's lifetime,
// which in practice is the whole run.
#pragma once

#include "Theme/KPThemeSheet.h"

#include <QString>
#include <QVariantMap>
#include <memory>

class KPSprite;
class KPCustomThemeObject;

class KPThemeObject {
public:
    KPThemeObject(QVariantMap desc, QString name, const KPThemeSheet* sheet);
    virtual ~KPThemeObject();
    KPThemeObject(const KPThemeObject&) = delete;
    KPThemeObject& operator=(const KPThemeObject&) = delete;

    // Lookups in the current theme of the shared theme manager; nullptr when absent.
    static KPThemeObject* themeObjectWithName(const QString& name);
    static KPCustomThemeObject* customThemeObjectWithName(const QString& name);
    template <class T>
    static T* themeObjectWithName(const QString& name)
    {
        return dynamic_cast<T*>(themeObjectWithName(name));
    }

    // Resolves the description once; later calls do nothing, also after a failure.
    void load();
    bool isLoaded() const { return m_loaded; }

    QString themeType() const;
    QString description() const;
    const QString& themeObjectName() const { return m_name; }
    const QVariantMap& themeObjectDesc() const { return m_desc; }

protected:
    virtual void loadObject() {}
    // A member sprite cut from the theme's sheet, or nullptr for an empty or failed cut.
    std::unique_ptr<KPSprite> spriteWithRectText(const QString& rectText) const;

    const KPThemeSheet* m_sheet;

private:
    QVariantMap m_desc;
    QString m_name;
    bool m_loaded = false;
};
